"""Bad replies and faults of the services: the report pass still ends,
every exchange is bounded by the 5-second time-outs, nothing crashes, the
archive is deleted, and the log says what happened."""

import delivery_support as ds


class ServiceFaults(ds.DeliveryTest):
    def run_against(self, service, *options):
        port = service.http_port
        self.statistics_at("http://127.0.0.1:%d/statistics" % port)
        messages, elapsed = self.send("http://127.0.0.1:%d/" % port, "--device-id=dev-f", *options)
        self.assertFalse(ds.os.path.exists(self.report_path("ExceptionReport.tgz")))
        return self.delivery_lines(messages), elapsed

    def test_a_service_that_never_answers(self):
        service = self.start_service(http_port=0)
        service.behave("*", "silent", seconds=40)
        lines, elapsed = self.run_against(service)
        self.assertEqual(lines, [
            "post crash statisitc return https=0 success=0 http code=0",
            "get server time failed https=0 http code=0",
            "post dump failed https=0 http code=0",
        ])
        self.assertEqual([r["exchange"] for r in service.requests()], ["statistics", "time", "dump"])
        self.assertTrue(service.requests("dump")[0]["complete"], "the whole body went out before the wait")
        # three exchanges of one 5 s receive time-out each, plus the crash itself
        self.assertLess(elapsed, 40)

    def test_closed_without_status_line_or_reset_in_the_middle_of_the_body(self):
        for mode in ("close", "reset"):
            with self.subTest(mode=mode):
                service = self.start_service(http_port=0)
                service.behave("*", mode)
                lines, _ = self.run_against(service)
                if mode == "close":
                    self.assertEqual(lines, [
                        "post crash statisitc return https=0 success=0 http code=0",
                        "get server time failed https=0 http code=0",
                        "post dump failed https=0 http code=0",
                    ])
                else:
                    # Where the reset meets the client decides whether the
                    # stack reports it while sending (status left at 200) or
                    # while waiting for the reply (0); either is a failure.
                    patterns = [r"post crash statisitc return https=0 success=0 http code=(0|200)",
                                r"get server time failed https=0 http code=(0|200)",
                                r"post dump failed https=0 http code=(0|200)"]
                    self.assertEqual(len(lines), 3, lines)
                    for line, pattern in zip(lines, patterns):
                        self.assertRegex(line, "^" + pattern + "$")
                    self.assertFalse(service.requests("dump")[0]["complete"])
                self.session.close()
                self.session = ds.fptest.Session(mode)

    def test_refused_connections_send_nothing(self):
        service = self.start_service(http_port=0)
        port = service.http_port
        service.close()
        self.statistics_at("http://127.0.0.1:%d/statistics" % port)
        messages, _ = self.send("http://127.0.0.1:%d/" % port, "--device-id=dev-f")
        self.assertEqual(self.delivery_lines(messages), [
            "post crash statisitc return https=0 success=0 http code=200",
            "get server time failed https=0 http code=200",
            "post dump failed https=0 http code=200",
        ])
        self.assertFalse(ds.os.path.exists(self.report_path("ExceptionReport.tgz")))

    def test_unusable_time_replies_fall_back_to_the_local_clock(self):
        replies = {
            "invalid JSON": {"mode": "ok", "body": "{\"dumptimestamp\":"},
            "time as a string": {"mode": "ok", "body": "{\"dumptimestamp\":\"1700000000\"}"},
            "time as a real": {"mode": "ok", "body": "{\"dumptimestamp\":1700000000.5}"},
            "array root": {"mode": "ok", "body": "[1700000000]"},
            "with a comment": {"mode": "ok", "body": "{\"dumptimestamp\":1700000000 /* now */}"},
            "below the 32-bit range": {"mode": "ok", "body": "{\"dumptimestamp\":-2147483649}"},
            "above the 32-bit range": {"mode": "ok", "body": "{\"dumptimestamp\":2147483648}"},
            "huge body": {"mode": "huge", "size": 8 << 20},
            "no status line": {"mode": "malformed"},
        }
        service = self.start_service(http_port=0)
        first = True
        for name, behaviour in replies.items():
            with self.subTest(reply=name):
                if not first:
                    self.session.close()
                    self.session = ds.fptest.Session("reply")
                first = False
                del service.records[:]
                options = dict(behaviour)
                service.behave("time", options.pop("mode"), **options)
                lines, _ = self.run_against(service)
                # a reply without a status line is read by the stack as a
                # bare body with status 200
                self.assertEqual(lines, [
                    "post crash statisitc return https=0 success=1 http code=200",
                    "get server time failed https=0 http code=200",
                    "post dump succeed https=0",
                ])
                self.assert_dump(service.requests("dump")[0], "dev-f", served=False)

    def test_huge_or_malformed_replies_to_the_posts(self):
        service = self.start_service(http_port=0)
        service.behave("statistics", "huge", size=20 << 20)
        service.behave("dump", "malformed")
        lines, elapsed = self.run_against(service)
        self.assertEqual(lines, [
            "post crash statisitc return https=0 success=1 http code=200",
            "get server time succeed https=0",
            "post dump succeed https=0",
        ])
        self.assert_dump(service.requests("dump")[0], "dev-f")
        self.assertLess(elapsed, 40)


if __name__ == "__main__":
    ds.main()
