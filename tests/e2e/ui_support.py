"""What the crash-dialog end-to-end tests share: starting Faultpost (through
a real sample-client crash) or the dialog host in the background, finding
the dialog, reading it with the inspector program, and acting on it from
the X side with xdotool, as a person would with mouse and keyboard.

Wine draws the window frames itself here (no window manager runs on the
test display), so the caption and the close box are real targets."""

import json
import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "service"))

import fptest  # noqa: E402
import nimbrel_service  # noqa: E402

CAPTION = "错误报告"
DIALOG_CLASS = "#32770"
TOOLS = ("dialog_inspector.exe", "dialog_host.exe")
ACCESS_VIOLATION = fptest.ACCESS_VIOLATION

APOLOGY = "Nimbrel遇到未知错误。\n对此带来的不便Orvel表示抱歉！\n请您发送错误报告，让Nimbrel更加完善。"
HINT = ("检测到Nimbrel的某些组件版本不一致，这可能是导致Nimbrel崩溃的原因。"
        "如果您多次遇到此问题，请尝试从Nimbrel主页下载最新的安装程序全新安装Nimbrel。")
LINK_URL = "http://www.nimbrel.com"
LINK_TEXT = "点此下载最新版Nimbrel"

IDOK, IDC_CRASH_LOG, IDC_SEND, IDC_RESTART, IDC_GROUP, IDC_HINT, IDC_LINK, IDC_CASE = (
    1, 1000, 1003, 1004, 1007, 1008, 1009, 1010)
SIZE_GRIP = 0x7F00
VK_A = 0x41


def wine_frames():
    """Frames drawn by Wine (caption, close box, sizing loop) for every window
    created after this in the session's prefix."""
    subprocess.run([fptest.WINE, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Decorated", "/d", "N",
                    "/f"], capture_output=True, timeout=60)


def xdo(*arguments):
    subprocess.run(["xdotool"] + [str(a) for a in arguments], check=True, capture_output=True, timeout=30)


def click(x, y):
    xdo("mousemove", x, y)
    time.sleep(0.15)
    xdo("click", "1")
    time.sleep(0.3)


def press(keys):
    xdo("key", keys)
    time.sleep(0.3)


def drag(start, end):
    xdo("mousemove", *start)
    time.sleep(0.15)
    xdo("mousedown", "1")
    time.sleep(0.3)
    middle = ((start[0] + end[0]) // 2, (start[1] + end[1]) // 2)
    xdo("mousemove", *middle)
    time.sleep(0.3)
    xdo("mousemove", *end)
    time.sleep(0.3)
    xdo("mouseup", "1")
    time.sleep(0.5)


def center(rect):
    return ((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)


def grab(rect):
    """Pixels of a screen rectangle as rows of (r, g, b)."""
    left, top, right, bottom = rect
    width, height = right - left, bottom - top
    shot = subprocess.run("xwd -root -silent | convert xwd:- -crop %dx%d+%d+%d +repage ppm:-" % (
        width, height, left, top), shell=True, capture_output=True, timeout=60, check=True).stdout
    # P6, width, height, maximum, each possibly after comment lines
    fields, position = [], 0
    while len(fields) < 4:
        found = re.compile(rb"\s*(#[^\n]*\n|\S+)").match(shot, position)
        position = found.end()
        if not found.group(1).startswith(b"#"):
            fields.append(found.group(1))
    w, h = int(fields[1]), int(fields[2])
    data = shot[position + 1:]
    return [[tuple(data[(y * w + x) * 3:(y * w + x) * 3 + 3]) for x in range(w)] for y in range(h)]


def text_bands(pixels, colour):
    """Runs of pixel rows that hold `colour`: the lines of text drawn in it."""
    bands, inside = 0, False
    for row in pixels:
        has = colour in row
        if has and not inside:
            bands += 1
        inside = has
    return bands


class Dialog:
    """A snapshot of the dialog as the inspector read it."""

    def __init__(self, data):
        self.data = data
        self.window = data["window"]
        self.client = data["client"]
        self.children = data["children"]

    def control(self, control_id):
        found = [c for c in self.children if c["id"] == control_id]
        assert len(found) == 1, "control %d: %d found" % (control_id, len(found))
        return found[0]

    def static(self, text=None, icon=False):
        for c in self.children:
            if c["class"].lower() != "static" or c["id"] != -1:
                continue
            if icon and (c["style"] & 0x1F) == 3:
                return c
            if not icon and c["text"] == text:
                return c
        raise AssertionError("no static %r" % text)

    @property
    def size(self):
        return (self.window[2] - self.window[0], self.window[3] - self.window[1])

    def focused_id(self):
        for c in self.children:
            if c["hwnd"] == self.data["focus"]:
                return c["id"]
        return None


class DialogTest(fptest.SessionTest):
    """A session with the inspector and the dialog host beside Faultpost."""

    @classmethod
    def setUpClass(cls):
        wine_frames()

    def setUp(self):
        self.session = fptest.Session(self.id().split(".")[-1], extra_programs=TOOLS)
        self.background = []

    def tearDown(self):
        for process in self.background:
            if process.poll() is None:
                process.kill()
                process.wait(30)
        super().tearDown()

    # --- programs -----------------------------------------------------------
    def run_output(self, arguments, timeout):
        """Runs a program and gives its exit code and output. The output goes
        through a file, not a pipe: a Wine helper the program starts (the
        desktop process) inherits its handles and would hold a pipe open."""
        with tempfile.TemporaryFile() as out:
            process = subprocess.Popen(arguments, cwd=self.session.app, stdout=out, stderr=subprocess.DEVNULL)
            try:
                code = process.wait(timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(30)
                raise
            out.seek(0)
            return code, out.read()

    def inspector(self, *arguments, timeout=60):
        code, output = self.run_output([fptest.WINE, self.session.path("dialog_inspector.exe")] + list(arguments),
                                       timeout)
        text = output.decode("utf-8").strip()
        return code, (json.loads(text) if text else None)

    def start(self, program, command_line, timeout=300):
        """Starts `program` through launch.exe in the background, with the
        case's TMP/TEMP; `finish` waits for it and gives its exit code."""
        s = self.session
        args = [fptest.WINE, s.path("launch.exe")] + s.environment_options() + [
            "--timeout-ms=%d" % (timeout * 1000), "--app=" + s.win(program), "--cmd-hex=" + fptest.hex_text(command_line)]
        out = tempfile.TemporaryFile()
        process = subprocess.Popen(args, cwd=s.app, stdout=out, stderr=subprocess.DEVNULL)
        process.output = out
        self.background.append(process)
        return process

    def finish(self, process, timeout=120):
        process.wait(timeout)
        process.output.seek(0)
        out = process.output.read()
        process.output.close()
        found = re.search(rb"exit code (-?\d+)", out)
        self.assertTrue(found, "no exit code: %r" % out)
        return int(found.group(1)), out

    def crash(self, *options):
        """The sample client crashes and hands over with `options` (none may
        hold a space or a quote); returns the running launch process."""
        line = '"%s" %s' % (self.session.win("sample-client.exe"), " ".join(options))
        return self.start("sample-client.exe", line)

    def host(self, *options):
        line = '"%s" %s' % (self.session.win("dialog_host.exe"), " ".join(options))
        return self.start("dialog_host.exe", line)

    def host_result(self, process):
        code, out = self.finish(process)
        self.assertEqual(code, 0)
        return json.loads(out.decode("utf-8").splitlines()[0])

    # --- the dialog ---------------------------------------------------------
    def find_dialog(self, visible=True, timeout=90, caption=CAPTION):
        arguments = ["find", "--caption=" + caption, "--class=" + DIALOG_CLASS,
                     "--exe-dir=" + fptest.win_path(self.session.app), "--timeout-ms=%d" % (timeout * 1000)]
        if visible:
            arguments.append("--visible")
        code, found = self.inspector(*arguments, timeout=timeout + 60)
        return found["hwnd"] if code == 0 else None

    def dialog(self, hwnd):
        code, data = self.inspector("dump", "--hwnd=%d" % hwnd)
        self.assertEqual(code, 0, "the dialog is gone")
        return Dialog(data)

    def wait_closed(self, hwnd, timeout=60):
        code, _ = self.inspector("wait-gone", "--hwnd=%d" % hwnd, "--timeout-ms=%d" % (timeout * 1000),
                                 timeout=timeout + 60)
        self.assertEqual(code, 0, "the dialog did not close")

    def click_control(self, hwnd, control_id):
        click(*center(self.dialog(hwnd).control(control_id)["screen"]))

    def click_close_box(self, hwnd):
        code, point = self.inspector("close-point", "--hwnd=%d" % hwnd)
        self.assertEqual(code, 0, "no close box on the caption")
        click(point["x"], point["y"])

    def activate(self, hwnd):
        """A click on a place of the dialog that does nothing (the feedback
        line), so keys go to this dialog."""
        feedback = [c for c in self.dialog(hwnd).children if c["text"].startswith("反馈QQ群：")][0]
        click(feedback["screen"][0] + 2, center(feedback["screen"])[1])

    def statistics_at(self, port):
        self.session.write_debug_set("[NetWork]\nlog_statistics_path=http://127.0.0.1:%d/statistics\n" % port)


main = fptest.main
