"""A real sample-client crash under wine64, and what the report pass leaves
behind: the crash log row by row (rebuilt header with its SN line, fault
address with module and section, call stacks with the sample's own
function names, source files and lines, the main-thread block, thread
count, module list with versions, closing texts), and the minidump and
full dumps read back through dbghelp."""

import os
import re

import analysis_support as support
import fptest


subsequence = fptest.in_order


class CrashLog(support.AnalysisTest):
    def test_main_thread_crash(self):
        s = self.session
        core = self.product_module("7_22_0_8", "nimbrel_core.dll")
        code = s.crash("--crash=null-write", "--depth=5", "--threads=2", "--block=LogMain",
                       "--load=" + fptest.win_path(core), '"--extra-info=extra words"', '"--log-tail=the tail"')
        self.assertEqual(code, support.ACCESS_VIOLATION)
        s.wait_for_repair_pass()
        text = self.crash_log()

        header = re.match(r"OS VERSION: Windows_10\.0\.19045    IM VERSION: 7\.22\.0\.8    IP: \[[0-9.]*\]    "
                          r"OrvelID: 100200300    \r\nSN: 01[0-9A-F]{8}(?:[0-9A-F]{2})*\r\n\r\n", text)
        self.assertTrue(header, text[:300])
        fault = re.compile(r"Fault address: ([0-9A-F]{16})  0001:([0-9A-F]{8}) (\S+)    "
                           r"Exception code = 0xC0000005\r\n").search(text)
        self.assertTrue(fault, text[:600])
        self.assertEqual(fault.start(), header.end(), "the fault line follows the header")
        self.assertEqual(fault.group(3), s.win("sample-client.exe"))
        fault_address = int(fault.group(1), 16)

        blocks = support.stack_blocks(text)
        self.assertEqual(len(blocks), 1, "one thread crashed and it is the main thread")
        self.assertNotIn("Main thread call stack:", text)
        frames = blocks[0]
        first = frames[0]
        self.assertEqual(first.pc, fault_address, "the first frame is the fault itself")
        self.assertEqual(first.function, "sample_crash_null_write")
        self.assertTrue(first.source.endswith("sample\\sample_client.cpp"), first.source)
        self.assertEqual(first.line, support.source_line("*target = 0x4E494D42;"))
        self.assertEqual(first.module, s.win("sample-client.exe"))
        self.assertEqual(first.section, 1)
        self.assertEqual(first.pc - first.offset, 0x140000000, "Offset is relative to the image base")
        names = [f.function for f in frames]
        self.assertTrue(subsequence(names, ["sample_crash_null_write", "sample_crash_now"] +
                                    ["sample_chain_step"] * 6 + ["sample_crash_entry", "wmain"]), names)
        steps = [f for f in frames if f.function == "sample_chain_step"]
        self.assertIn(support.source_line("return sample_chain_step(remaining - 1, kind)"), [f.line for f in steps])
        # The innermost step's return address follows its last call.
        self.assertIn(steps[0].line, (support.source_line("    sample_crash_now(kind);"),
                                      support.source_line("    return marker;")))
        addresses = [f.frame for f in frames]
        self.assertEqual(addresses, sorted(set(addresses)), "every frame lies above the one before")

        count = re.search(r"\r\nAll (\d+) thread\(s\) exist\.\r\n", text)
        self.assertTrue(count)
        self.assertEqual(int(count.group(1)), 3, "the main thread and two idle ones")
        modules = text[text.index(support.STARS):]
        self.assertRegex(modules, r"\r\nmodule name: sample-client\.exe address: 0000000140000000 module size: "
                                  r"[0-9A-F]{8} version: 0\.0\.0\.0\r\n")
        self.assertRegex(modules, r"\r\nmodule name: nimbrel_core\.dll address: [0-9A-F]{16} module size: "
                                  r"[0-9A-F]{8} version: 7\.22\.0\.8\r\n")
        self.assertRegex(modules, r"\r\nmodule name: ntdll\.dll        address: [0-9A-F]{16} ")
        self.positions(text, [header.group(0), fault.group(0), "\r\nCall stack:\r\n", count.group(0),
                              "\r\n" + support.STARS + "\r\n", "module name: "])
        self.assertRegex(text, r"version: \d+\.\d+\.\d+\.\d+\r\n\r\nextra words\r\r\nfulldump=null\r\nthe tail$")

    def test_worker_thread_crash_adds_the_main_thread(self):
        s = self.session
        code = s.crash("--crash=divide", "--crash-thread=worker", "--depth=2", "--block=LogWorker")
        self.assertEqual(code, support.DIVIDE_BY_ZERO)
        s.wait_for_repair_pass()
        text = self.crash_log()
        self.assertIn("Exception code = 0xC0000094\r\n", text)
        at = self.positions(text, ["\r\nCall stack:\r\n", "\r\n\r\nMain thread call stack:\r\n\r\nCall stack:\r\n",
                                   " thread(s) exist."])
        self.assertLess(at[0], at[1])
        crashing, main = support.stack_blocks(text)
        self.assertEqual(crashing[0].function, "sample_crash_divide")
        self.assertEqual(crashing[0].line, support.source_line("return 100 / g_zero;"))
        self.assertTrue(subsequence([f.function for f in crashing],
                                    ["sample_crash_divide", "sample_crash_now", "sample_chain_step",
                                     "sample_chain_step", "sample_chain_step", "sample_crash_entry"]))
        self.assertNotIn("wmain", [f.function for f in crashing])
        self.assertIn("wmain", [f.function for f in main], "the main thread waits for the worker in wmain")
        self.assertRegex(text, r"\r\nAll 2 thread\(s\) exist\.\r\n")

    def test_uninterpretable_information_line_is_kept(self):
        s = self.session
        code = s.crash("--crash=null-write", "--block=LogFree", '"--info-line=OS VERSION: Windows 10 (not one word)"')
        self.assertEqual(code, support.ACCESS_VIOLATION)
        s.wait_for_repair_pass()
        text = self.crash_log()
        self.assertTrue(text.startswith("OS VERSION: Windows 10 (not one word)Fault address: "), text[:200])
        self.assertNotIn("\r\nSN: ", text)

    def test_log_and_dump_where_the_client_asks(self):
        s = self.session
        log = os.path.join(s.root, "elsewhere.log")
        dump = os.path.join(s.root, "elsewhere.dmp")
        code = s.crash("--crash=null-call", "--block=LogElsewhere", "--log-file=" + fptest.win_path(log),
                       "--dump-file=" + fptest.win_path(dump))
        self.assertEqual(code, support.ACCESS_VIOLATION)
        s.wait_for_repair_pass()
        self.assertFalse(os.path.exists(s.report_file("client_info.txt")))
        self.assertFalse(os.path.exists(s.report_file("Nimbrel.dmp")))
        with open(log, "rb") as f:
            text = f.read()[2:].decode("utf-16-le")
        # A call through a null pointer faults at address 0: free memory, no
        # module.
        self.assertIn("Fault address: 0000000000000000  0000:00000000     Exception code = 0xC0000005", text)
        first = support.stack_blocks(text)[0][0]
        self.assertEqual(first.pc, 0)
        self.assertEqual(first.module, "")
        self.assertEqual(self.dump(dump)["exception"]["address"], 0)


class Dumps(support.AnalysisTest):
    def test_minidump_reads_back(self):
        s = self.session
        self.assertEqual(s.crash("--crash=null-write", "--block=DumpMain", "--threads=1"), support.ACCESS_VIOLATION)
        s.wait_for_repair_pass()
        fault = int(re.search(r"Fault address: ([0-9A-F]{16})", self.crash_log()).group(1), 16)
        dump = self.dump(s.report_file("Nimbrel.dmp"))
        self.assertEqual(dump["exception"]["code"], 0xC0000005)
        self.assertEqual(dump["exception"]["address"], fault)
        self.assertEqual(dump["exception"]["thread_id"], dump["threads"][0], "the main thread faulted")
        self.assertEqual(len(dump["threads"]), 2)
        names = [os.path.basename(m["name"].replace("\\", "/")).lower() for m in dump["modules"]]
        self.assertIn("sample-client.exe", names)
        self.assertIn("ntdll.dll", names)
        self.assertNotIn("memory64", dump, "a normal dump holds no full memory")

    def test_worker_crash_names_the_worker(self):
        s = self.session
        self.assertEqual(s.crash("--crash=divide", "--crash-thread=worker", "--block=DumpWorker"),
                         support.DIVIDE_BY_ZERO)
        s.wait_for_repair_pass()
        dump = self.dump(s.report_file("Nimbrel.dmp"))
        self.assertEqual(dump["exception"]["code"], 0xC0000094)
        self.assertIn(dump["exception"]["thread_id"], dump["threads"])
        self.assertNotEqual(dump["exception"]["thread_id"], dump["threads"][0])

    def test_full_dump_ring(self):
        s = self.session
        s.write_debug_set("[ComSet]\nCreateFullDump=1\n")
        ring = lambda i: s.report_file("full.%d.dmp" % i)  # noqa: E731
        expected_sets = [{0}, {0, 1}, {0, 1, 2}, {1, 2, 3}, {0, 2, 3}]
        written_order = []
        for run, expected in enumerate(expected_sets):
            with self.subTest(run=run):
                self.assertEqual(s.crash("--crash=null-write", "--block=Ring%d" % run), support.ACCESS_VIOLATION)
                s.wait_for_repair_pass()
                for log in [p for p in os.listdir(s.app) if p.startswith("Faultpost_")]:
                    os.remove(s.path(log))  # the next run's repair pass is waited for afresh
                present = {i for i in range(4) if os.path.exists(ring(i))}
                self.assertEqual(present, expected)
                named = re.search(r"\r\nfulldump=(.*)\r\n", self.crash_log()).group(1)
                written_order.append(named)
        self.assertEqual(written_order, [fptest.win_path(ring(i)) for i in (0, 1, 2, 3, 0)])

        full = self.dump(ring(0))
        small = self.dump(s.report_file("Nimbrel.dmp"))
        self.assertEqual(full["exception"], small["exception"], "the same exception information in both modes")
        self.assertIn("memory64", full)
        self.assertGreater(full["memory64"]["bytes"], 4 * 1024 * 1024)
        self.assertGreater(full["size"], 10 * small["size"])

    def test_full_dump_only_for_listed_codes(self):
        s = self.session
        s.write_debug_set("[ComSet]\nCreateFullDump=1\nFullDumpExceptionCode=0XC0000094\n")
        self.assertEqual(s.crash("--crash=null-write", "--block=CodeNo"), support.ACCESS_VIOLATION)
        s.wait_for_repair_pass()
        self.assertFalse(os.path.exists(s.report_file("full.0.dmp")))
        self.assertTrue(self.crash_log().endswith("\r\nfulldump=null\r\nsample client log tail"))


if __name__ == "__main__":
    fptest.main()
