"""The crash dialog's layout, seen on screen: the rows that collapse when
there is no hint or no link, the smallest size, what widening and
heightening do to each control, and the hint wrapping anew. The dialog host
shows the dialog with any combination of hint and link (the report pass
only ever has both or neither)."""

import ui_support as ui

BLUE = (0, 0, 255)
ABOVE = "above"      # rows above the hint area: never move
HINT_ROW, LINK_ROW, BELOW = "hint", "link", "below"


class DialogLayout(ui.DialogTest):
    def setUp(self):
        super().setUp()
        with open(self.session.path("crash.txt"), "wb") as log:
            log.write(b"\xff\xfe" + "Fault address: 0000000140001234\r\nAll 1 thread(s) exist.\r\n".encode("utf-16-le"))
        # nothing listens on the discard port: the statistics fail at once
        self.statistics_at(9)

    def open_host(self, hint, link):
        options = ["--log=" + self.session.win("crash.txt")]
        if hint:
            options.append("--hint=" + ui.HINT)
        if link:
            options += ["--link-url=" + ui.LINK_URL, "--link-text=" + ui.LINK_TEXT]
        process = self.host(*options)
        hwnd = self.find_dialog()
        self.assertIsNotNone(hwnd, "the dialog appears")
        return process, hwnd

    def close_host(self, process, hwnd):
        self.activate(hwnd)
        ui.press("Escape")
        self.wait_closed(hwnd)
        self.assertEqual(self.host_result(process), {"result": 2, "restart": 0})

    def rows(self, dialog):
        """Every control with the row it belongs to, keyed for comparison
        between two layouts."""
        d = dialog
        return {
            "icon": (d.static(icon=True), ABOVE),
            "apology": (d.static(ui.APOLOGY), ABOVE),
            "feedback": ([c for c in d.children if c["text"].startswith("反馈QQ群：")][0], ABOVE),
            "hint": (d.control(ui.IDC_HINT), HINT_ROW),
            "link": (d.control(ui.IDC_LINK), LINK_ROW),
            "send": (d.control(ui.IDC_SEND), BELOW),
            "restart": (d.control(ui.IDC_RESTART), BELOW),
            "group": (d.control(ui.IDC_GROUP), BELOW),
            "log": (d.control(ui.IDC_CRASH_LOG), BELOW),
            "case": (d.control(ui.IDC_CASE), BELOW),
            "ok": (d.control(ui.IDOK), BELOW),
            "grip": (d.control(ui.SIZE_GRIP), BELOW),
        }

    def test_missing_hint_or_link_removes_its_row(self):
        process, hwnd = self.open_host(hint=True, link=True)
        full = self.dialog(hwnd)
        self.close_host(process, hwnd)
        rows = self.rows(full)
        hint_height = rows["hint"][0]["rect"][3] - rows["hint"][0]["rect"][1]
        link_height = rows["link"][0]["rect"][3] - rows["link"][0]["rect"][1]
        self.assertGreater(hint_height, link_height)
        self.assertFalse(rows["hint"][0]["visible"], "the hint area itself is never shown")
        self.assertTrue(rows["link"][0]["visible"])
        self.assertEqual(rows["link"][0]["text"], ui.LINK_TEXT)

        # how far each row moves up: (hint, link, below)
        cases = [
            ("hint without link", True, False, (0, 0, link_height)),
            ("link without hint", False, True, (0, hint_height, hint_height)),
            ("neither", False, False, (0, hint_height, hint_height + link_height)),
        ]
        for label, hint, link, (hint_up, link_up, below_up) in cases:
            with self.subTest(label):
                process, hwnd = self.open_host(hint, link)
                collapsed = self.dialog(hwnd)
                moved = {ABOVE: 0, HINT_ROW: hint_up, LINK_ROW: link_up, BELOW: below_up}
                for name, (control, row) in self.rows(collapsed).items():
                    before = rows[name][0]["rect"]
                    expected = [before[0], before[1] - moved[row], before[2], before[3] - moved[row]]
                    self.assertEqual(control["rect"], expected, name)
                self.assertEqual(self.rows(collapsed)["link"][0]["visible"], link)
                self.assertFalse(self.rows(collapsed)["hint"][0]["visible"])
                width, height = collapsed.size
                self.assertEqual((width, height), (full.size[0], full.size[1] - below_up))
                self.assertEqual(collapsed.window[:2], full.window[:2], "shrunk from the bottom")

                # the collapsed size is the smallest the border can give
                grip = center(collapsed.control(ui.SIZE_GRIP)["screen"])
                ui.drag(grip, (grip[0] - 80, grip[1] - 70))
                self.assertEqual(self.dialog(hwnd).size, (width, height))
                self.close_host(process, hwnd)

    def test_enlarging_follows_the_resize_map(self):
        process, hwnd = self.open_host(hint=True, link=True)
        before = self.dialog(hwnd)
        grip = center(before.control(ui.SIZE_GRIP)["screen"])
        ui.drag(grip, (grip[0] + 150, grip[1] + 90))
        after = self.dialog(hwnd)
        dx = after.size[0] - before.size[0]
        dy = after.size[1] - before.size[1]
        self.assertGreater(dx, 100)
        self.assertGreater(dy, 50)
        old, new = self.rows(before), self.rows(after)

        def shifted(rect, left=0, top=0, right=0, bottom=0):
            return [rect[0] + left, rect[1] + top, rect[2] + right, rect[3] + bottom]

        expected = {
            "log": dict(right=dx, bottom=dy),
            "group": dict(right=dx, bottom=dy),
            "hint": dict(right=dx),
            "link": dict(right=dx),
            "ok": dict(left=dx, top=dy, right=dx, bottom=dy),
            "case": dict(top=dy, bottom=dy),
            "grip": dict(left=dx, top=dy, right=dx, bottom=dy),
        }
        for name in old:
            self.assertEqual(new[name][0]["rect"], shifted(old[name][0]["rect"], **expected.get(name, {})), name)
        self.close_host(process, hwnd)

    def test_hint_wraps_anew_when_widened(self):
        process, hwnd = self.open_host(hint=True, link=True)
        before = self.dialog(hwnd)
        lines_before = ui.text_bands(ui.grab(before.control(ui.IDC_HINT)["screen"]), BLUE)
        self.assertGreaterEqual(lines_before, 2, "the long hint wraps at the first width")
        # the hint is drawn in its own rows only, above the link
        between = before.control(ui.IDC_HINT)["screen"][3], before.control(ui.IDC_LINK)["screen"][1]
        self.assertLessEqual(between[0], between[1])

        grip = center(before.control(ui.SIZE_GRIP)["screen"])
        ui.drag(grip, (grip[0] + 420, grip[1]))
        after = self.dialog(hwnd)
        self.assertGreater(after.size[0], before.size[0] + 300)
        lines_after = ui.text_bands(ui.grab(after.control(ui.IDC_HINT)["screen"]), BLUE)
        self.assertGreaterEqual(lines_after, 1)
        self.assertLess(lines_after, lines_before, "the wider hint takes fewer lines")
        self.close_host(process, hwnd)


center = ui.center

if __name__ == "__main__":
    ui.main()
