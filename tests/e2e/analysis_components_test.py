"""The component check and the repair pass seen from outside: the sample
client loads product modules ("tamor Application") with updates waiting
beside them, the report pass names them in the repair argument, and the
repair pass moves them into place: directly, around a module that another
process holds, past a waiting file that vanished, and without ever leaving
a module missing when the update itself cannot be moved."""

import filecmp
import os
import shutil
import subprocess
import time

import analysis_support as support
import fptest

SESSION_MANAGER = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"


class Components(support.AnalysisTest):
    def setUp(self):
        super().setUp()
        self.holders = []

    def tearDown(self):
        for holder in self.holders:
            if holder.poll() is None:
                holder.kill()
                holder.wait(30)
            holder.stdout.close()
        super().tearDown()

    def hold(self, path, *options, ms=60000):
        """Keeps `path` in use from another process until the test ends."""
        holder = subprocess.Popen([fptest.WINE, self.session.path("file_holder.exe"), "--path=" + fptest.win_path(path),
                                   "--ms=%d" % ms] + list(options), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.holders.append(holder)
        self.assertEqual(holder.stdout.readline().strip(), b"holding")
        return holder

    def update(self, module, version):
        """A waiting update at `version` beside `module`."""
        shutil.copy(os.path.join(fptest.BIN_DIR, "product_%s.dll" % version), module + ".pending")

    def same(self, path, version):
        return filecmp.cmp(path, os.path.join(fptest.BIN_DIR, "product_%s.dll" % version), shallow=False)

    def repair(self, *modules):
        s = self.session
        argument = "rp:" + "|".join(fptest.win_path(m) for m in modules)
        started = time.time()
        self.assertEqual(s.faultpost('/repair "%s" ""' % argument), -1)
        messages = s.log_messages()
        self.assertEqual(messages[-3:], ["start repair", "repair complete", "no need restart application"])
        return time.time() - started

    def test_waiting_updates_are_named_and_placed_after_a_crash(self):
        s = self.session
        core = self.product_module("7_22_0_8", "nimbrel_core.dll")
        ui = self.product_module("7_22_0_8", "nimbrel_ui.dll")
        plain = self.product_module("7_22_0_8", "nimbrel_net.dll")
        other = s.path("helper.dll")
        shutil.copy(os.path.join(fptest.BIN_DIR, "version_with_translation.dll"), other)
        self.update(core, "7_22_0_9")
        self.update(ui, "7_22_0_9")
        shutil.copy(other, other + ".pending")  # another product's module: not ours to replace
        code = s.crash("--crash=null-write", "--block=Pending", *["--load=" + fptest.win_path(m)
                                                                  for m in (core, plain, other, ui)])
        self.assertEqual(code, support.ACCESS_VIOLATION)
        messages = s.wait_for_repair_pass()
        argument = "rp:%s|%s" % (fptest.win_path(core), fptest.win_path(ui))
        self.assertIn('bug report restart in repair mode[/repair "%s" ""]' % argument, messages)
        self.assertIn('bug report start[cmd line=/repair "%s" ""]' % argument, messages)
        # The crashed client may still hold its modules when the first
        # attempt runs; either way the updates end up in place.
        for module in (core, ui):
            self.assertTrue(self.same(module, "7_22_0_9"), module)
            self.assertFalse(os.path.exists(module + ".pending"))
        self.assertTrue(self.same(plain, "7_22_0_8"))
        self.assertTrue(os.path.exists(other + ".pending"))

    def test_no_product_module_gives_an_empty_repair_argument(self):
        s = self.session
        other = s.path("helper.dll")
        shutil.copy(os.path.join(fptest.BIN_DIR, "version_with_translation.dll"), other)
        shutil.copy(other, other + ".pending")
        self.assertEqual(s.crash("--crash=null-write", "--block=NoProduct", "--load=" + fptest.win_path(other)),
                         support.ACCESS_VIOLATION)
        self.assertIn('bug report restart in repair mode[/repair "rp:" ""]', s.wait_for_repair_pass())

    def test_direct_replacement(self):
        core = self.product_module("7_22_0_8", "nimbrel_core.dll")
        self.update(core, "7_22_0_9")
        self.repair(core)
        self.assertTrue(self.same(core, "7_22_0_9"))
        self.assertFalse(os.path.exists(core + ".pending"))
        self.assertFalse(os.path.exists(core + ".old"))

    def test_module_in_use_moves_aside_and_is_deleted_at_restart(self):
        core = self.product_module("7_22_0_8", "nimbrel_core.dll")
        self.update(core, "7_22_0_9")
        self.hold(core, "--load")  # a running program's module: renamed, never replaced
        self.repair(core)
        self.assertTrue(self.same(core, "7_22_0_9"))
        self.assertTrue(self.same(core + ".old", "7_22_0_8"))
        self.assertFalse(os.path.exists(core + ".pending"))
        # Read while the holder keeps this Wine session (and its registry)
        # alive: a new session would carry out the deletion at once.
        query = subprocess.run([fptest.WINE, "reg", "query", SESSION_MANAGER, "/v", "PendingFileRenameOperations"],
                               capture_output=True, timeout=60)
        self.assertIn(fptest.win_path(core + ".old").lower(), query.stdout.decode("latin-1").lower())

    def test_waiting_file_that_vanished_counts_as_done(self):
        core = self.product_module("7_22_0_8", "nimbrel_core.dll")
        took = self.repair(core, self.session.path("gone.dll"))
        self.assertTrue(self.same(core, "7_22_0_8"))
        self.assertFalse(os.path.exists(core + ".old"))
        self.assertLess(took, 8, "done at the first attempt, no pauses")

    def test_update_that_cannot_move_leaves_the_module_in_place(self):
        core = self.product_module("7_22_0_8", "nimbrel_core.dll")
        self.update(core, "7_22_0_9")
        # The update itself is held without delete sharing: the module can
        # be moved aside, but nothing can take its place.
        self.hold(core + ".pending", "--share=r")
        took = self.repair(core)
        self.assertGreater(took, 9, "twenty attempts with pauses between them")
        self.assertTrue(self.same(core, "7_22_0_8"), "the module is back under its own name")
        self.assertTrue(self.same(core + ".pending", "7_22_0_9"), "the update waits for the next repair")
        self.assertFalse(os.path.exists(core + ".old"))


if __name__ == "__main__":
    fptest.main()
