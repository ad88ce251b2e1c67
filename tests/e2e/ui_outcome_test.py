"""The crash dialog after a real sample-client crash, answered with mouse
and keyboard: what reaches the local Nimbrel service, and whether the
repair pass is asked to restart the client. The statistics request is held
by the service for a while, and the dialog must stay invisible until it has
been answered."""

import glob
import time

import ui_support as ui

DEVICE_ID = "0123456789" + "abcdefghijklmnopqrstuvwxyzABCDEF" + "tail"
STATISTICS_DELAY = 4.0


class DialogOutcome(ui.DialogTest):
    def open_dialog(self):
        """Crashes the client with the dialog asked for; returns the service,
        the launch process and the visible dialog's window."""
        service = ui.nimbrel_service.NimbrelService(http_port=0)
        self.addCleanup(service.close)
        service.behave("statistics", "delay", seconds=STATISTICS_DELAY)
        self.statistics_at(service.http_port)
        process = self.crash("--crash=null-write", "--show=1", "--url=http://127.0.0.1:%d/" % service.http_port,
                             "--client=" + self.session.win("recorder.exe"), "--device-id=" + DEVICE_ID)

        statistics = service.wait_for(1, "statistics", timeout=120)
        self.assertEqual(len(statistics), 1, "the statistics are posted while the dialog opens")
        code, hidden = self.inspector("find", "--caption=" + ui.CAPTION, "--class=" + ui.DIALOG_CLASS,
                                      "--exe-dir=" + ui.fptest.win_path(self.session.app))
        self.assertEqual(code, 0, "the dialog window exists while the statistics are posted")
        self.assertFalse(hidden["visible"], "and is not shown before the statistics request has finished")

        hwnd = self.find_dialog(visible=True)
        seen = time.time()
        self.assertEqual(hwnd, hidden["hwnd"])
        self.assertGreaterEqual(seen - statistics[0]["time"], STATISTICS_DELAY - 0.5,
                                "the window appeared before the statistics reply")
        return service, process, hwnd

    def close_and_collect(self, service, process, hwnd):
        self.wait_closed(hwnd)
        code, _ = self.finish(process)
        self.assertEqual(code, ui.ACCESS_VIOLATION)
        messages = self.session.wait_for_repair_pass()
        exchanges = [r["exchange"] for r in service.requests()]
        return messages, exchanges

    def assert_restart(self, messages, wanted):
        client = self.session.win("recorder.exe")
        line = [m for m in messages if m.startswith("bug report restart in repair mode[")]
        self.assertEqual(len(line), 1, "\n".join(messages))
        if wanted:
            self.assertEqual(line[0], 'bug report restart in repair mode[/repair "rp:" "%s"]' % client)
            self.assertIn("try restart application", messages)
            started = self.session.recorded_command_lines()
            self.assertEqual(len(started), 1, "the client is started again by the repair pass")
            self.assertEqual(started[0].strip('"'), client)
        else:
            self.assertEqual(line[0], 'bug report restart in repair mode[/repair "rp:" ""]')
            self.assertIn("no need restart application", messages)
            self.assertEqual(glob.glob(self.session.path("recorder-*.txt")), [])

    def set_box(self, hwnd, control_id, checked):
        if self.dialog(hwnd).control(control_id)["check"] != (1 if checked else 0):
            self.click_control(hwnd, control_id)
        self.assertEqual(self.dialog(hwnd).control(control_id)["check"], 1 if checked else 0)

    def test_ok_with_both_boxes_uploads_and_restarts(self):
        service, process, hwnd = self.open_dialog()
        dialog = self.dialog(hwnd)
        self.assertEqual(dialog.data["text"], ui.CAPTION)
        self.assertEqual(dialog.control(ui.IDC_SEND)["check"], 1)
        self.assertEqual(dialog.control(ui.IDC_RESTART)["check"], 1)
        self.assertEqual(dialog.focused_id(), ui.IDOK, "the OK button has the focus")
        self.assertEqual(dialog.control(ui.IDC_CASE)["text"], "案例编号：" + DEVICE_ID[10:42])
        self.assertTrue(dialog.static(icon=True)["icon"])
        self.assertEqual(dialog.static(ui.APOLOGY)["text"], ui.APOLOGY)
        self.assertEqual(service.requests("dump"), [], "nothing is uploaded before OK")

        self.click_control(hwnd, ui.IDOK)
        messages, exchanges = self.close_and_collect(service, process, hwnd)
        self.assertEqual(exchanges, ["statistics", "time", "dump"])
        dump = service.requests("dump")[0]
        self.assertTrue(dump["sign_ok"])
        self.assertEqual(dump.field("device_id"), DEVICE_ID)
        self.assertEqual([m["name"] for m in dump["archive"]], ["client_info.txt", "Nimbrel.dmp"])
        self.assertIn("post dump succeed https=0", messages)
        self.assert_restart(messages, True)

    def test_ok_with_only_restart_checked(self):
        service, process, hwnd = self.open_dialog()
        self.set_box(hwnd, ui.IDC_SEND, False)
        self.set_box(hwnd, ui.IDC_RESTART, True)
        self.click_control(hwnd, ui.IDOK)
        messages, exchanges = self.close_and_collect(service, process, hwnd)
        self.assertEqual(exchanges, ["statistics"], "no upload")
        self.assert_restart(messages, True)

    def test_ok_with_both_boxes_cleared(self):
        service, process, hwnd = self.open_dialog()
        self.set_box(hwnd, ui.IDC_SEND, False)
        self.set_box(hwnd, ui.IDC_RESTART, False)
        # Enter presses the default button, OK
        self.activate(hwnd)
        ui.press("Return")
        messages, exchanges = self.close_and_collect(service, process, hwnd)
        self.assertEqual(exchanges, ["statistics"])
        self.assert_restart(messages, False)

    def test_closing_sends_nothing_and_never_restarts(self):
        cases = [
            ("Esc with both boxes checked", "escape", True),
            ("close box with both boxes checked", "close box", True),
            ("close box with only restart checked", "close box", False),
        ]
        for index, (label, how, send) in enumerate(cases):
            with self.subTest(label):
                if index:
                    self.session.close()
                    self.session = ui.fptest.Session(label, extra_programs=ui.TOOLS)
                service, process, hwnd = self.open_dialog()
                self.set_box(hwnd, ui.IDC_SEND, send)
                self.assertEqual(self.dialog(hwnd).control(ui.IDC_RESTART)["check"], 1)
                if how == "escape":
                    self.activate(hwnd)
                    ui.press("Escape")
                else:
                    self.click_close_box(hwnd)
                messages, exchanges = self.close_and_collect(service, process, hwnd)
                self.assertEqual(exchanges, ["statistics"])
                self.assertNotIn("post dump succeed https=0", messages)
                self.assert_restart(messages, False)


if __name__ == "__main__":
    ui.main()
