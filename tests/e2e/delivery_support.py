"""What the delivery end-to-end tests share: a crash of the sample client
that sends silently to a local Nimbrel service, and checks of what the
service received against the files on disk."""

import os
import re
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "service"))

import fptest  # noqa: E402
import nimbrel_service  # noqa: E402

SERVED_TIME = 1700000000
STATISTICS_TEXT = "client=sample@#version=7.22.0.8"
QUERY = "clienttype=8&devuid=&channel=00000000&version=7.22.0.8"
DUMP_FIELDS = ["method", "device_id", "device_type", "time", "sign", "version"]


class DeliveryTest(fptest.SessionTest):
    service = None

    def start_service(self, **options):
        options.setdefault("served_time", SERVED_TIME)
        self.service = nimbrel_service.NimbrelService(**options)
        self.addCleanup(self.service.close)
        return self.service

    def statistics_at(self, url):
        self.session.write_debug_set("[NetWork]\nlog_statistics_path=%s\n" % url)

    def send(self, url, *options, timeout=180):
        """Crashes the sample client with silent sending to url; returns the
        report pass's log messages and the seconds the crash took."""
        started = time.time()
        code = self.session.crash("--send=1", "--show=0", "--url=" + url, *options, timeout=timeout)
        elapsed = time.time() - started
        self.assertEqual(code, fptest.ACCESS_VIOLATION)  # the client's own access violation
        return self.session.wait_for_repair_pass(), elapsed

    def delivery_lines(self, messages):
        start = messages.index("report crash without show report crash dialog")
        end = messages.index("report crash return[0]")
        return messages[start + 1:end]

    def report_path(self, name):
        return self.session.report_file(name)

    def assert_statistics(self, record, https=False):
        self.assertEqual(record["request_line"], "POST /statistics?%s HTTP/1.0" % QUERY)
        self.assertEqual(record.header("User-Agent"), "Faultpost")
        self.assertEqual(record.header("Content-Type"),
                         "multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY")
        self.assertEqual(int(record.header("Content-Length")), len(record["body"]))
        self.assertIsNotNone(record["part"], "one userfile part exactly framed")
        text = record["statistics_text"]
        found = re.fullmatch(re.escape(STATISTICS_TEXT) + r"@#exception_code=0x([0-9a-f]{8})"
                             r"@#exception_addr=0x([0-9a-f]{16})", text)
        self.assertTrue(found, text)
        self.assertEqual(found.group(1), "c0000005")
        self.assertEqual(len(record["body"]), len(text.encode("utf-8")) + 184)

    def assert_dump(self, record, device_id, served=True):
        self.assertTrue(record["request_line"].endswith(" HTTP/1.0"))
        self.assertEqual(record["method"], "POST")
        self.assertEqual([name for name, _ in record["fields"]], DUMP_FIELDS)
        self.assertTrue(record["target"].endswith("&version=7.22.0.8&"), record["target"])
        self.assertEqual(record.field("method"), "set")
        self.assertEqual(record.field("device_id"), device_id)
        self.assertEqual(record.field("device_type"), "8")
        if served:
            self.assertEqual(record.field("time"), str(SERVED_TIME))
        else:
            # the local clock stood in
            self.assertLess(abs(int(record.field("time")) - time.time()), 300)
        self.assertTrue(record["sign_ok"], "sign %s, service expects %s" % (record.field("sign"),
                                                                            record["sign_expected"]))
        members = record["archive"]
        self.assertIsInstance(members, list, members)
        self.assertEqual([m["name"] for m in members], ["client_info.txt", "Nimbrel.dmp"])
        for member in members:
            with open(self.report_path(member["name"]), "rb") as f:
                on_disk = f.read()
            self.assertEqual(member["data"], on_disk, member["name"])
            self.assertEqual(member["size"], len(on_disk))
            self.assertEqual(member["mode"], 0o100666)
            self.assertLess(abs(member["mtime"] - os.path.getmtime(self.report_path(member["name"]))), 2)
        self.assertFalse(os.path.exists(self.report_path("ExceptionReport.tgz")))


main = fptest.main
