"""The spine seen from outside: a real crash handed over by the sample
client, Faultpost's exit codes, its log lines, and the repair pass it starts
(recorded by a stand-in program named as argument 0)."""

import os

import fptest

from fptest import ACCESS_VIOLATION, in_order


class RealCrash(fptest.SessionTest):
    def test_sample_crash_is_handed_over_and_ends_in_a_repair_pass(self):
        s = self.session
        code = s.crash("--crash=null-write", "--depth=3", "--block=CrashBlockA", "--url=http://127.0.0.1:9/")
        self.assertEqual(code, ACCESS_VIOLATION)
        messages = s.wait_for_repair_pass()
        report_dir = fptest.win_path(s.report_dir) + "\\"
        self.assertTrue(in_order(messages, [
            'bug report start[cmd line="CrashBlockA" "http://127.0.0.1:9/" "%s"]' % s.win("sample-client.exe"),
            "bug report start parse cmd line compelte",
            "bug report in report mode",
            "try open share memory[CrashBlockA]",
            "open share memory[CrashBlockA] succeed",
            "start write mini dump[%sNimbrel.dmp]" % report_dir,
            "start write plaim dump[%sclient_info.txt]" % report_dir,
            "save dump local and do not report crash",
            "report crash return[0]",
            'bug report restart in repair mode[/repair "rp:" ""]',
            'bug report start[cmd line=/repair "rp:" ""]',
            "bug report in repair mode",
            "start repair",
            "repair complete",
            "no need restart application",
        ]), "\n".join(messages))
        self.assertTrue(os.path.isdir(s.report_dir))

    def test_crash_on_a_worker_thread_with_idle_threads_is_accepted(self):
        s = self.session
        code = s.crash("--crash=divide", "--crash-thread=worker", "--threads=3", "--block=CrashBlockB")
        self.assertEqual(code, -1073741676)  # 0xC0000094, integer divide by zero
        messages = s.wait_for_repair_pass()
        self.assertIn("open share memory[CrashBlockB] succeed", messages)
        self.assertIn("report crash return[0]", messages)

    def test_uncaught_cpp_exception_is_reported(self):
        s = self.session
        code = s.crash("--crash=throw", "--block=CrashBlockC")
        self.assertEqual(code & 0xFFFFFFFF, 0xE06D7363)
        self.assertIn("open share memory[CrashBlockC] succeed", s.wait_for_repair_pass())


class ExitCodesAndRepairParameters(fptest.SessionTest):
    """Faultpost started directly, with argument 0 naming the recorder, so
    the repair pass it starts is observed as the recorder's command line."""

    def run_recorded(self, arguments):
        s = self.session
        code = s.faultpost(arguments, argument0=s.win("recorder.exe"))
        lines = s.recorded_command_lines()
        self.assertEqual(len(lines), 1, "exactly one repair pass is started")
        return code, lines[0]

    def test_too_few_arguments(self):
        cases = [
            ("three arguments", "Block http://x/"),
            ("/repair alone runs report mode", "/repair"),
            ("no argument at all after the path", ""),
        ]
        for label, arguments in cases:
            with self.subTest(label):
                self.tearDown(); self.setUp()
                code, recorded = self.run_recorded(arguments)
                self.assertEqual(code, -1)
                self.assertTrue(recorded.endswith(' /repair "rp:" ""'), recorded)
                self.assertIn("report crash return[-1]", self.session.log_messages())
                self.assertNotIn("try open share memory[Block]", self.session.log_messages())

    def test_block_that_is_missing_or_all_zero(self):
        s = self.session
        code, recorded = self.run_recorded("NoSuchBlock http://x/ client.exe 1 1")
        self.assertEqual(code, -1)
        self.assertTrue(recorded.endswith(' /repair "rp:" ""'), recorded)
        messages = s.log_messages()
        self.assertIn("try open share memory[NoSuchBlock]", messages)
        self.assertIn("open share memory failed or non exception[0]", messages)
        self.assertNotIn("start write mini dump", " ".join(messages))
        self.assertFalse(os.path.exists(s.report_file("client_info.txt")))

        code = s.block_writer("--name=ZeroBlock --zero", "ZeroBlock u c", argument0=s.win("recorder.exe"))
        self.assertEqual(code, -1)
        self.assertIn("open share memory failed or non exception[0]", s.log_messages())

    def test_bad_block_contents_and_flags_still_reach_an_outcome(self):
        s = self.session
        cases = [
            ("unterminated texts", "--unterminated", "UnterminatedBlock u c"),
            ("non-numeric flags", "", "FlagBlock u c yes no"),
        ]
        for label, option, arguments in cases:
            with self.subTest(label):
                name = arguments.split()[0]
                code = s.block_writer("--name=%s --self %s" % (name, option), arguments,
                                      argument0=s.win("recorder.exe"))
                self.assertEqual(code, 0)
                messages = s.log_messages()
                self.assertIn("open share memory[%s] succeed" % name, messages)
                self.assertIn("save dump local and do not report crash", messages)

    def test_repair_mode(self):
        cases = [
            ("capitals select repair mode and restart the client",
             '/REPAIR "rp:" "{recorder}"', "try restart application", 1),
            ("empty restart path means no restart", '/repair "rp:" ""', "no need restart application", 0),
            ("no restart argument at all", '/repair "rp:"', "no need restart application", 0),
        ]
        for label, arguments, last_line, recorded in cases:
            with self.subTest(label):
                self.tearDown(); self.setUp(); s = self.session
                code = s.faultpost(arguments.format(recorder=s.win("recorder.exe")))
                self.assertEqual(code, -1)
                messages = s.log_messages()
                self.assertTrue(in_order(messages, ["bug report in repair mode", "start repair", "repair complete",
                                                    last_line]), messages)
                started = s.recorded_command_lines(timeout=10 if recorded else 2)
                self.assertEqual(len(started), recorded)
                if recorded:
                    # the client is started by its path alone, without parameters
                    self.assertNotIn("/repair", started[0])


if __name__ == "__main__":
    fptest.main()
