"""Shared helpers for the end-to-end tests: each case gets its own scratch
directory with copies of the programs (so settings files and logs beside
Faultpost.exe belong to that case alone) and its own temporary directory,
handed to the Windows side as TMP/TEMP, so the report directory is private
to the case too. Programs run under wine64 in the caller's WINEPREFIX."""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

WINE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wine-run")
PROGRAMS = ("Faultpost.exe", "sample-client.exe", "launch.exe", "recorder.exe", "block_writer.exe")

ACCESS_VIOLATION = -1073741819  # 0xC0000005 as a signed exit code

BIN_DIR = None
SOURCE_DIR = None


def parse_arguments():
    """Takes --bin/--source from the command line and leaves the rest to unittest."""
    global BIN_DIR, SOURCE_DIR
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--source", required=True)
    known, rest = parser.parse_known_args()
    BIN_DIR, SOURCE_DIR = known.bin, known.source
    return [sys.argv[0]] + rest


def main():
    unittest.main(argv=parse_arguments(), verbosity=2)


def in_order(items, expected):
    """True when `expected` occur in `items` in this order (others may lie between)."""
    position = 0
    for item in items:
        if position < len(expected) and item == expected[position]:
            position += 1
    return position == len(expected)


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def hex_text(text):
    """How a command line crosses into the Windows side untouched by quoting."""
    return text.encode("utf-8").hex()


class Session:
    def __init__(self, name, extra_programs=()):
        self.root = tempfile.mkdtemp(prefix="fp-e2e-%s-" % re.sub(r"\W", "_", name))
        self.app = os.path.join(self.root, "app")
        self.temp = os.path.join(self.root, "temp")
        os.makedirs(self.app)
        os.makedirs(self.temp)
        for program in PROGRAMS + tuple(extra_programs):
            shutil.copy(os.path.join(BIN_DIR, program), self.app)
        self.enable_log_file()

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    # --- paths -------------------------------------------------------------
    def path(self, *parts):
        return os.path.join(self.app, *parts)

    def win(self, *parts):
        return win_path(self.path(*parts))

    @property
    def report_dir(self):
        return os.path.join(self.temp, "orvel", "Nimbrel")

    def report_file(self, name):
        return os.path.join(self.report_dir, name)

    # --- settings ----------------------------------------------------------
    def enable_log_file(self, flags=1):
        with open(self.path("Faultpost.ini"), "w", newline="") as ini:
            ini.write("[Config]\r\nDebugOutput=%d\r\n" % flags)

    def write_debug_set(self, text):
        with open(self.path("DebugSet.ini"), "w", newline="") as ini:
            ini.write(text.replace("\n", "\r\n"))

    # --- running -----------------------------------------------------------
    def environment_options(self):
        temp = win_path(self.temp) + "\\"
        return ["--env=TMP=" + temp, "--env=TEMP=" + temp]

    def launch(self, app, command_line, timeout=120):
        """Starts `app` with exactly `command_line` (argument 0 included) and
        the case's TMP/TEMP; returns the exit code as a signed 32-bit value."""
        args = [WINE, self.path("launch.exe")] + self.environment_options() + [
            "--timeout-ms=%d" % (timeout * 1000), "--app=" + app, "--cmd-hex=" + hex_text(command_line)]
        # Output goes through files, not pipes: a Wine helper process started
        # meanwhile (the desktop process) can inherit a pipe and hold it open
        # long after our program has exited, and reading to its end would hang.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run(args, cwd=self.app, stdout=out, stderr=err, timeout=timeout + 60)
            out.seek(0)
            err.seek(0)
            stdout, stderr = out.read(), err.read()
        found = re.search(rb"exit code (-?\d+)", stdout)
        if not found:
            raise AssertionError("launch failed (%d): %r %r" % (done.returncode, stdout, stderr))
        return int(found.group(1))

    def faultpost(self, arguments, argument0=None, timeout=120):
        """Runs Faultpost with `arguments` after argument 0 (default: its own path)."""
        zero = argument0 if argument0 is not None else self.win("Faultpost.exe")
        line = '"%s"' % zero + ((" " + arguments) if arguments else "")
        return self.launch(self.win("Faultpost.exe"), line, timeout)

    def block_writer(self, options, faultpost_arguments, argument0=None, timeout=120):
        """Plays a faulty client: makes the block as `options` say, then runs
        Faultpost with `faultpost_arguments` after argument 0."""
        zero = argument0 if argument0 is not None else self.win("Faultpost.exe")
        child = '"%s" %s' % (zero, faultpost_arguments)
        line = '"%s" %s --app=%s --cmd-hex=%s' % (self.win("block_writer.exe"), options, self.win("Faultpost.exe"),
                                                  hex_text(child))
        return self.launch(self.win("block_writer.exe"), line, timeout)

    def crash(self, *options, timeout=180):
        """Runs the sample client with its options; returns its exit code."""
        line = '"%s" %s' % (self.win("sample-client.exe"), " ".join(options))
        return self.launch(self.win("sample-client.exe"), line, timeout)

    # --- observing ---------------------------------------------------------
    def log_text(self):
        text = ""
        for name in sorted(glob.glob(self.path("Faultpost_*.log"))):
            with open(name, "rb") as log:
                text += log.read().decode("latin-1")
        return text.replace("\r\n", "\n")

    def log_messages(self):
        """The message part of every log line, prefix removed."""
        messages = []
        for line in self.log_text().split("\n"):
            found = re.match(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \d{4,} [VIDE]?\|(.*)$", line)
            if found:
                messages.append(found.group(1))
        return messages

    def wait_for_repair_pass(self, timeout=60):
        """The repair pass runs on after the report process exits; it always
        ends with one of these two lines."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            messages = self.log_messages()
            if "no need restart application" in messages or "try restart application" in messages:
                return messages
            time.sleep(0.2)
        raise AssertionError("no repair pass finished; log:\n" + self.log_text())

    def recorded_command_lines(self, timeout=30, count=1):
        deadline = time.time() + timeout
        while time.time() < deadline:
            files = sorted(glob.glob(self.path("recorder-*.txt")))
            if len(files) >= count:
                time.sleep(0.2)
                return [open(f, encoding="utf-8").read() for f in files]
            time.sleep(0.2)
        return []


class SessionTest(unittest.TestCase):
    """A test case with a fresh Session per test method as self.session."""

    def setUp(self):
        self.session = Session(self.id().split(".")[-1])

    def tearDown(self):
        if os.environ.get("FP_KEEP_SCRATCH"):
            print("scratch kept:", self.session.root)
        else:
            self.session.close()
