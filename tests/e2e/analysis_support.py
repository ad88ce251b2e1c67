"""What the crash-analysis end-to-end tests share: the helper programs they
copy beside Faultpost, reading the crash log (UTF-16 with byte-order mark)
and its stack blocks, reading a dump back through dbghelp, and product
modules copied under the client's own names."""

import json
import os
import re
import shutil
import subprocess

import fptest

TOOLS = ("dump_inspector.exe", "context_block.exe", "file_holder.exe")
ACCESS_VIOLATION = fptest.ACCESS_VIOLATION
DIVIDE_BY_ZERO = -1073741676
STARS = "*" * 100
COLUMNS = "Address   Offset    Frame     Function      SourceFile"
FRAME = re.compile(r"^([0-9A-F]{16})  ([0-9A-F]{16})  ([0-9A-F]{16})  ([0-9A-F]{4}):([0-9A-F]{8}) (.*?) (.*)$")


class Frame:
    def __init__(self, match):
        self.pc = int(match.group(1), 16)
        self.offset = int(match.group(2), 16)
        self.frame = int(match.group(3), 16)
        self.section = int(match.group(4), 16)
        self.section_offset = int(match.group(5), 16)
        self.module = match.group(6)
        rest = match.group(7)
        symbol = re.match(r"^(\S+)\+([0-9A-F]+)(?: (.*) line (\d+))?$", rest)
        self.function = symbol.group(1) if symbol else None
        self.source = symbol.group(3) if symbol else None
        self.line = int(symbol.group(4)) if symbol and symbol.group(4) else None


def stack_blocks(text):
    """Every "Call stack:" block of the log as a list of frames."""
    blocks = []
    for part in text.split("\r\nCall stack:\r\n")[1:]:
        lines = part.split("\r\n")
        assert lines[0] == COLUMNS, lines[0]
        frames = []
        for line in lines[1:]:
            match = FRAME.match(line)
            if not match:
                break
            frames.append(Frame(match))
        blocks.append(frames)
    return blocks


def source_line(marker):
    """The line number of the first sample source line holding `marker`."""
    path = os.path.join(fptest.SOURCE_DIR, "sample", "sample_client.cpp")
    with open(path, encoding="utf-8") as source:
        for number, line in enumerate(source, 1):
            if marker in line:
                return number
    raise AssertionError("no %r in the sample" % marker)


class AnalysisTest(fptest.SessionTest):
    def setUp(self):
        self.session = fptest.Session(self.id().split(".")[-1], extra_programs=TOOLS)

    # --- files ------------------------------------------------------------------
    def crash_log(self, name="client_info.txt"):
        """The crash log as text; asserts the byte-order mark."""
        with open(self.session.report_file(name), "rb") as log:
            data = log.read()
        self.assertEqual(data[:2], b"\xff\xfe", "UTF-16LE with byte-order mark")
        return data[2:].decode("utf-16-le")

    def dump(self, path):
        done = subprocess.run([fptest.WINE, self.session.path("dump_inspector.exe"), fptest.win_path(path)],
                              capture_output=True, timeout=120)
        self.assertIn(done.returncode, (0, 2), done.stderr)
        return json.loads(done.stdout.decode("utf-8"))

    def product_module(self, version, name):
        """A product module at `version` ("7_22_0_8"...) beside the client as `name`."""
        target = self.session.path(name)
        shutil.copy(os.path.join(fptest.BIN_DIR, "product_%s.dll" % version), target)
        return target

    def context_block(self, block, *options, arguments=None):
        """Faultpost started by the wrong-hand-over client; its exit code."""
        s = self.session
        line = '"%s" --name=%s %s --app=%s -- "%s" "%s" "http://127.0.0.1:9/" "%s"' % (
            s.win("context_block.exe"), block, " ".join(options), s.win("Faultpost.exe"), s.win("Faultpost.exe"),
            block, s.win("sample-client.exe"))
        if arguments:
            line += " " + arguments
        return s.launch(s.win("context_block.exe"), line, timeout=300)

    def forget_logs(self):
        """Removes the diagnostic logs, so the next pass is waited for afresh."""
        for name in os.listdir(self.session.app):
            if name.startswith("Faultpost_") and name.endswith(".log"):
                os.remove(self.session.path(name))

    def positions(self, text, pieces):
        """Asserts every piece occurs, in this order; returns their positions."""
        found, start = [], 0
        for piece in pieces:
            at = text.find(piece, start)
            self.assertGreaterEqual(at, 0, "missing after position %d: %r\n%s" % (start, piece, text))
            found.append(at)
            start = at + len(piece)
        return found
