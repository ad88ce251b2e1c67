"""Hand-overs that are wrong in one way each, made by a client that stays
alive while Faultpost reads it: registers that point anywhere, a thread or
a process that is gone, no exception pointers. The report pass goes on,
writes what it can, and neither crashes nor hangs."""

import os
import re

import analysis_support as support


class BadInput(support.AnalysisTest):
    def run_block(self, label, *options):
        s = self.session
        self.forget_logs()
        block = "Bad" + re.sub(r"\W", "", label)
        code = self.context_block(block, *options)
        messages = s.wait_for_repair_pass()
        self.assertEqual(code, 0, "the pass reached its outcome")
        self.assertIn("report crash return[0]", messages)
        return self.crash_log()

    def frame_counts(self, text):
        return [len(frames) for frames in support.stack_blocks(text)]

    def assert_rest_of_log(self, text):
        self.assertRegex(text, r"\r\nAll \d+ thread\(s\) exist\.\r\n")
        self.assertIn("\r\n" + support.STARS + "\r\nmodule name: context_block.exe ", text)
        self.assertTrue(text.endswith("\r\nfulldump=null\r\n"), text[-100:])

    def test_registers_pointing_anywhere(self):
        cases = [
            ("both zero", "--sp=zero", "--fp=zero"),
            ("kernel range", "--sp=kernel", "--fp=kernel"),
            ("no-access page", "--sp=noaccess", "--fp=noaccess"),
            ("free memory", "--sp=free", "--fp=free"),
            ("heap", "--sp=heap", "--fp=heap"),
            ("another thread's stack", "--sp=worker", "--fp=worker"),
        ]
        for case in cases:
            with self.subTest(case[0]):
                text = self.run_block(*case)
                self.assertIn("Fault address: ", text)
                self.assertEqual(self.frame_counts(text), [0], "header lines alone: nothing to walk")
                self.assert_rest_of_log(text)
                dump = self.dump(self.session.report_file("Nimbrel.dmp"))
                self.assertEqual(dump["exception"]["code"], 0xC0000005)

    def test_frame_pointer_serves_when_the_stack_pointer_is_off(self):
        text = self.run_block("ebp inside", "--sp=kernel", "--fp=stack")
        counts = self.frame_counts(text)
        self.assertEqual(len(counts), 1)
        self.assertGreater(counts[0], 0)
        self.assertIn("wmain", [f.function for f in support.stack_blocks(text)[0]])

    def test_threads_that_do_not_exist(self):
        cases = [
            # label, options, stack blocks written (frames or None for none)
            ("crashing thread bogus", ("--tid=bogus", "--main=self"), 1),
            ("crashing thread exited", ("--tid=exited", "--main=self"), 1),
            ("main thread bogus", ("--tid=self", "--main=bogus"), 1),
            ("both bogus", ("--tid=bogus", "--main=exited"), 0),
        ]
        for label, options, blocks in cases:
            with self.subTest(label):
                text = self.run_block(label, *options)
                self.assertIn("Fault address: ", text)
                self.assertEqual(len(support.stack_blocks(text)), blocks)
                self.assertIn("\r\nMain thread call stack:\r\n", text, "the two ids differ")
                self.assert_rest_of_log(text)

    def test_process_gone_before_faultpost_read_it(self):
        s = self.session
        text = self.run_block("process exited", "--pid=exited")
        # Windows refuses to open the process, leaving the header alone; Wine
        # may still open the ended process, which then has nothing to show.
        fault = re.search(r"Fault address: [0-9A-F]{16}  ([0-9A-F]{4}:[0-9A-F]{8}) (.*?)    Exception code", text)
        if fault:
            self.assertEqual(fault.group(1, 2), ("0000:00000000", ""))
            self.assertEqual([len(b) for b in support.stack_blocks(text)], [])
            self.assertNotIn("module name: ", text)
            self.assertNotRegex(text, r"All [1-9]\d* thread")
        else:
            self.assertEqual(text, "", "no information line was handed over: an empty header")
        self.assertEqual(os.path.getsize(s.report_file("Nimbrel.dmp")), 0, "the dump file was created, then failed")

    def test_no_exception_pointers_from_the_client(self):
        text = self.run_block("own copies", "--pointers=zero", "--code=C000001D")
        self.assertIn("Exception code = 0xC000001D", text)
        dump = self.dump(self.session.report_file("Nimbrel.dmp"))
        self.assertEqual(dump["exception"]["code"], 0xC000001D, "taken from the copies in the shared block")
        self.assertIn(dump["exception"]["thread_id"], dump["threads"])


if __name__ == "__main__":
    support.fptest.main()
