"""The two transport operations on their own (through delivery_probe.exe),
against the local service: what goes on the wire, and the status value
after each kind of answer or failure."""

import os
import re
import subprocess
import time
import unittest

import delivery_support as ds


class Transport(unittest.TestCase):
    def setUp(self):
        self.service = ds.nimbrel_service.NimbrelService(http_port=0)
        self.addCleanup(self.service.close)
        self.port = self.service.http_port

    def probe(self, *arguments, timeout=60):
        done = subprocess.run([ds.fptest.WINE, os.path.join(ds.fptest.BIN_DIR, "delivery_probe.exe")] +
                              [str(a) for a in arguments], capture_output=True, timeout=timeout)
        values = dict(re.findall(r"^(\w+)=(.*?)\r?$", done.stdout.decode("latin-1"), re.M))
        self.assertIn("result", values, done)
        return values

    def post(self, path="/x", size=10, selector=1, port=None):
        return self.probe("post", "127.0.0.1", port or self.port, path, 0, selector, size)

    def get(self, path="/rest/2.0/cumulo/dumptimestamp?method=get", port=None):
        return self.probe("get", "127.0.0.1", port or self.port, path, 0)

    def test_post_on_the_wire(self):
        for selector, part in ((1, ds.nimbrel_service.DUMP_PART), (0, ds.nimbrel_service.STATISTICS_PART)):
            for size in (0, 1000):
                with self.subTest(selector=selector, size=size):
                    del self.service.records[:]
                    values = self.post("statistics?clienttype=8", size, selector)
                    self.assertEqual((values["result"], values["status"]), ("1", "200"))
                    record, = self.service.requests()
                    self.assertEqual(record["request_line"], "POST /statistics?clienttype=8 HTTP/1.0")
                    self.assertEqual(len(part), 144)
                    data = bytes((i * 131 + 7) % 251 for i in range(size))
                    self.assertEqual(record["body"], part + data + ds.nimbrel_service.CLOSING)
                    self.assertEqual(record.header("Content-Length"), str(size + 184))
                    self.assertEqual(record.header("Accept"), "*/*")
                    self.assertEqual(record.header("User-Agent"), "Faultpost")
                    self.assertEqual(record.header("Content-Type"),
                                     "multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY")

    def test_post_status_after_each_kind_of_answer(self):
        cases = [("ok", {"status": 500}, "1", "500"), ("ok", {"status": 404}, "1", "404"),
                 ("close", {}, "0", "0"), ("silent", {"seconds": 30}, "0", "0"),
                 # a reply line that is no status line is read by the stack as HTTP/0.9
                 ("malformed", {}, "1", "200")]
        for mode, options, result, status in cases:
            with self.subTest(mode=mode, **options):
                self.service.behave("*", mode, **options)
                started = time.time()
                values = self.post()
                self.assertEqual((values["result"], values["status"]), (result, status))
                self.assertLess(time.time() - started, 20)
        closed = ds.nimbrel_service.NimbrelService(http_port=0)
        closed_port = closed.http_port
        closed.close()
        values = self.post(port=closed_port)
        self.assertEqual((values["result"], values["status"]), ("0", "200"), "refused: never went out")

    def test_get_on_the_wire_and_its_reply_body(self):
        values = self.get()
        self.assertEqual((values["result"], values["status"]), ("1", "200"))
        record, = self.service.requests()
        self.assertEqual(record["request_line"], "GET /rest/2.0/cumulo/dumptimestamp?method=get HTTP/1.1")
        self.assertEqual(record.header("Pragma"), "no-cache")
        self.assertIsNone(record.header("User-Agent"))
        self.assertIsNone(record.header("Cookie"))  # declared header length 0: nothing of it is sent
        for length in (255, 256, 300, 513):
            with self.subTest(length=length):
                body = "{\"dumptimestamp\":1}".ljust(length)
                self.service.behave("time", "ok", body=body)
                values = self.get()
                self.assertEqual((values["result"], values["length"]), ("1", str(length)))
                self.assertEqual(values["md5"], ds.nimbrel_service.md5_hex(body.encode()))
        self.service.behave("time", "huge", size=20 << 20)
        values = self.get()
        self.assertEqual((values["result"], values["length"]), ("1", str(1 << 20)), "the body read stops at 1 MiB")

    def test_get_status_after_each_kind_of_answer(self):
        cases = [("ok", {"status": 404}, "0", "404"), ("close", {}, "0", "0"),
                 ("silent", {"seconds": 30}, "0", "0")]
        for mode, options, result, status in cases:
            with self.subTest(mode=mode, **options):
                self.service.behave("*", mode, **options)
                started = time.time()
                values = self.get()
                self.assertEqual((values["result"], values["status"]), (result, status))
                self.assertLess(time.time() - started, 20)
        closed = ds.nimbrel_service.NimbrelService(http_port=0)
        closed_port = closed.http_port
        closed.close()
        values = self.get(port=closed_port)
        self.assertEqual((values["result"], values["status"]), ("0", "200"), "refused: never went out")


if __name__ == "__main__":
    ds.main()
