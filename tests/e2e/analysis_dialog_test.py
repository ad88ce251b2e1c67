"""What the analysis shows on the screen: the component check's hint and
link in the crash dialog after a real crash with product modules loaded,
and the message box when the crash log cannot be created, which appears
also without the dialog, waits for the user and lets the pass go on."""

import os
import shutil

import fptest
import ui_support as ui

NO_SUCH_DIRECTORY = "no-such-directory"


class AnalysisOnScreen(ui.DialogTest):
    def load_options(self, versions):
        options = []
        for index, version in enumerate(versions):
            target = self.session.path("nimbrel_part%d.dll" % index)
            shutil.copy(os.path.join(fptest.BIN_DIR, "product_%s.dll" % version), target)
            options.append("--load=" + fptest.win_path(target))
        return options

    def test_component_hint_in_the_dialog(self):
        cases = [
            ("7.22.0.8 against 7.22.0.9", ("7_22_0_8", "7_22_0_9"), True),
            ("equal versions", ("7_22_0_8", "7_22_0_8"), False),
            ("a zero half first is filled in", ("7_22_0_0", "7_22_0_8"), False),
            ("a zero half after a full version disagrees", ("7_22_0_8", "7_22_0_0"), True),
        ]
        self.statistics_at(9)
        for number, (label, versions, hint) in enumerate(cases):
            with self.subTest(label):
                for name in os.listdir(self.session.app):
                    if name.startswith("Faultpost_"):
                        os.remove(self.session.path(name))
                process = self.crash("--crash=null-write", "--show=1", "--url=http://127.0.0.1:9/",
                                     "--block=Hint%d" % number, *self.load_options(versions))
                hwnd = self.find_dialog()
                self.assertIsNotNone(hwnd, "the dialog appears")
                link = self.dialog(hwnd).control(ui.IDC_LINK)
                if hint:
                    self.assertTrue(link["visible"])
                    self.assertEqual(link["text"], ui.LINK_TEXT)
                else:
                    self.assertFalse(link["visible"] and link["text"], "no hint, no link")
                self.activate(hwnd)
                ui.press("Escape")
                self.wait_closed(hwnd)
                self.assertEqual(self.finish(process)[0], ui.ACCESS_VIOLATION)
                self.session.wait_for_repair_pass()

    def test_message_box_when_the_crash_log_cannot_be_created(self):
        s = self.session
        log = os.path.join(s.root, NO_SUCH_DIRECTORY, "client_info.txt")
        process = self.crash("--crash=null-write", "--log-file=" + fptest.win_path(log), "--block=NoLog")
        hwnd = self.find_dialog(caption="Faultpost", timeout=90)
        self.assertIsNotNone(hwnd, "the box appears although no dialog was asked for")
        box = self.dialog(hwnd)
        self.assertIn("创建报告文件失败", [c["text"] for c in box.children])
        # The pass waits for the user: nothing after the crash log yet.
        self.assertNotIn("save dump local and do not report crash", s.log_messages())
        self.assertTrue(os.path.exists(s.report_file("Nimbrel.dmp")), "the minidump came before")
        self.click_control(hwnd, ui.IDOK)
        self.wait_closed(hwnd)
        self.assertEqual(self.finish(process)[0], ui.ACCESS_VIOLATION)
        messages = s.wait_for_repair_pass()
        self.assertIn("save dump local and do not report crash", messages)
        self.assertIn("report crash return[0]", messages)
        self.assertFalse(os.path.exists(log))


if __name__ == "__main__":
    fptest.main()
