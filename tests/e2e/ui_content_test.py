"""What the crash dialog shows: the crash log as Faultpost wrote it, a
prepared log with a line longer than the read buffer, Ctrl+A on the dialog,
the case number for device ids around 42 characters, and the message box
when the crash log file cannot be created (with and without the dialog)."""

import re
import time

import ui_support as ui

MESSAGE_BOX_TEXT = "创建报告文件失败"
MESSAGE_BOX_CAPTION = "Faultpost"


def as_shown(file_text):
    """The crash log as the box must show it: read as text (CR LF becomes
    LF), every line break then a CR LF again, as the edit control needs."""
    return re.sub(r"(?<!\r)\n", "\r\n", file_text.replace("\r\n", "\n"))


class DialogContent(ui.DialogTest):
    def open_crash_dialog(self, *options):
        self.statistics_at(9)
        process = self.crash("--crash=null-write", "--show=1", "--url=http://127.0.0.1:9/", *options)
        hwnd = self.find_dialog()
        self.assertIsNotNone(hwnd, "the dialog appears")
        return process, hwnd

    def close_crash_dialog(self, process, hwnd):
        self.activate(hwnd)
        ui.press("Escape")
        self.wait_closed(hwnd)
        self.assertEqual(self.finish(process)[0], ui.ACCESS_VIOLATION)
        return self.session.wait_for_repair_pass()

    def hold(self, path):
        """Keeps `path` open so the crash log writer cannot create it, while
        readers still can read it."""
        out = ui.tempfile.TemporaryFile()
        self.addCleanup(out.close)
        process = ui.subprocess.Popen([ui.fptest.WINE, self.session.path("dialog_inspector.exe"), "hold-file",
                                       "--path=" + ui.fptest.win_path(path), "--ms=300000"],
                                      stdout=out, stderr=ui.subprocess.DEVNULL)
        self.background.append(process)
        deadline = time.time() + 60
        while time.time() < deadline:
            out.seek(0)
            if b'"holding":true' in out.read():
                return process
            time.sleep(0.1)
        self.fail("the file could not be held")

    def dismiss_message_box(self):
        hwnd = self.find_dialog(caption=MESSAGE_BOX_CAPTION, timeout=90)
        self.assertIsNotNone(hwnd, "the message box appears")
        box = self.dialog(hwnd)
        self.assertIn(MESSAGE_BOX_TEXT, [c["text"] for c in box.children])
        self.assertTrue(any(c["class"].lower() == "static" and (c["style"] & 0x1F) == 3 for c in box.children),
                        "with the error icon")
        self.assertEqual(self.find_dialog(visible=False, timeout=0), None, "no crash dialog behind it yet")
        self.click_control(hwnd, ui.IDOK)
        self.wait_closed(hwnd)

    def test_box_shows_the_written_crash_log_and_the_case_number(self):
        device_id = "".join(chr(ord("a") + i % 26) for i in range(42))
        process, hwnd = self.open_crash_dialog("--device-id=" + device_id)
        dialog = self.dialog(hwnd)
        with open(self.session.report_file("client_info.txt"), "rb") as log:
            written = log.read()
        self.assertEqual(written[:2], b"\xff\xfe")
        text = written[2:].decode("utf-16-le")
        self.assertIn("\r\n", text)
        shown = dialog.control(ui.IDC_CRASH_LOG)["text"]
        self.assertEqual(shown, as_shown(text))
        self.assertIn("Call stack:", shown)
        self.assertEqual(dialog.control(ui.IDC_CASE)["text"], "案例编号：" + device_id[10:42])
        self.close_crash_dialog(process, hwnd)

    def test_case_number_needs_42_characters(self):
        cases = [
            ("41 characters", "x" * 10 + "0123456789" * 3 + "A", ""),
            ("70 characters", "y" * 10 + "0123456789abcdefghijklmnopqrstuv" + "z" * 28,
             "案例编号：0123456789abcdefghijklmnopqrstuv"),
        ]
        for index, (label, device_id, expected) in enumerate(cases):
            with self.subTest(label):
                if index:
                    self.session.close()
                    self.session = ui.fptest.Session(label, extra_programs=ui.TOOLS)
                process, hwnd = self.open_crash_dialog("--device-id=" + device_id)
                self.assertEqual(self.dialog(hwnd).control(ui.IDC_CASE)["text"], expected)
                self.close_crash_dialog(process, hwnd)

    def test_unwritable_crash_log_shows_the_message_box_then_the_prepared_log(self):
        long_line = "".join("%04d" % i for i in range(1500))  # 6000 characters
        prepared = ("prepared crash log 准备好的日志\r\n" + long_line + "\r\n\r\nlast line").encode("utf-16-le")
        path = self.session.path("prepared_log.txt")
        with open(path, "wb") as log:
            log.write(b"\xff\xfe" + prepared)
        self.hold(path)
        self.statistics_at(9)
        process = self.crash("--crash=null-write", "--show=1", "--url=http://127.0.0.1:9/",
                             "--log-file=" + ui.fptest.win_path(path))
        self.dismiss_message_box()
        hwnd = self.find_dialog()
        self.assertIsNotNone(hwnd)
        box = self.dialog(hwnd).control(ui.IDC_CRASH_LOG)
        self.assertEqual(box["text"], as_shown(prepared.decode("utf-16-le")))
        self.assertIn("\r\n" + long_line + "\r\n", box["text"], "the long line arrives whole, in order")
        self.assertEqual(box["lines"], 4)
        with open(path, "rb") as log:
            self.assertEqual(log.read(), b"\xff\xfe" + prepared, "the prepared file is untouched")

        # Ctrl+A reaching the dialog itself selects the whole log; A alone
        # does not.
        length = len(box["text"])
        self.assertEqual(box["sel"], [length, length])
        self.inspector("post-keydown", "--hwnd=%d" % hwnd, "--vk=%d" % ui.VK_A)
        time.sleep(0.5)
        self.assertEqual(self.dialog(hwnd).control(ui.IDC_CRASH_LOG)["sel"], [length, length])
        self.activate(hwnd)
        ui.xdo("keydown", "ctrl")
        try:
            time.sleep(0.5)
            self.inspector("post-keydown", "--hwnd=%d" % hwnd, "--vk=%d" % ui.VK_A)
            time.sleep(0.5)
        finally:
            ui.xdo("keyup", "ctrl")
        box = self.dialog(hwnd).control(ui.IDC_CRASH_LOG)
        self.assertEqual(box["sel"], [0, length])
        self.assertEqual(box["first_visible_line"], 0, "the caret at the start is scrolled into view")
        self.close_crash_dialog(process, hwnd)

    def test_message_box_appears_without_the_dialog_too(self):
        path = self.session.path("held_log.txt")
        with open(path, "wb") as log:
            log.write(b"\xff\xfe")
        self.hold(path)
        process = self.crash("--crash=null-write", "--show=0", "--send=0", "--log-file=" + ui.fptest.win_path(path))
        self.dismiss_message_box()
        self.assertEqual(self.finish(process)[0], ui.ACCESS_VIOLATION)
        messages = self.session.wait_for_repair_pass()
        self.assertIn("save dump local and do not report crash", messages)
        self.assertIsNone(self.find_dialog(visible=False, timeout=0))


if __name__ == "__main__":
    ui.main()
