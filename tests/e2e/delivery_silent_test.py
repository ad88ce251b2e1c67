"""Silent sending from a real sample-client crash to the local Nimbrel
service over plain http: what arrives, byte for byte, and the log lines."""

import delivery_support as ds


class SilentSending(ds.DeliveryTest):
    def test_statistics_and_signed_dump_reach_the_service(self):
        service = self.start_service(http_port=0)
        port = service.http_port
        self.statistics_at("http://127.0.0.1:%d/statistics" % port)
        messages, _ = self.send("http://127.0.0.1:%d/" % port, "--device-id=dev-42")
        self.assertEqual(self.delivery_lines(messages), [
            "post crash statisitc return https=0 success=1 http code=200",
            "get server time succeed https=0",
            "post dump succeed https=0",
        ])
        self.assertEqual([r["exchange"] for r in service.requests()], ["statistics", "time", "dump"])
        statistics, server_time, dump = service.requests()
        self.assert_statistics(statistics)
        self.assertEqual(server_time["request_line"], "GET /rest/2.0/cumulo/dumptimestamp?method=get HTTP/1.1")
        self.assertEqual(server_time["body"], b"")
        self.assert_dump(dump, "dev-42")
        self.assertTrue(dump["time_was_served"])
        # the crash log and the minidump stay
        self.assertTrue(ds.os.path.exists(self.report_path("client_info.txt")))
        self.assertTrue(ds.os.path.exists(self.report_path("Nimbrel.dmp")))

    def test_device_id_is_cut_to_64_and_absent_one_is_marked(self):
        service = self.start_service(http_port=0)
        port = service.http_port
        self.statistics_at("http://127.0.0.1:%d/statistics" % port)
        long_id = "".join("%d" % (i % 10) for i in range(70))
        self.send("http://127.0.0.1:%d/" % port, "--device-id=" + long_id)
        self.assert_dump(service.requests("dump")[-1], long_id[:64])

        self.session.close()
        self.session = ds.fptest.Session("absent_device_id")
        self.statistics_at("http://127.0.0.1:%d/statistics" % port)
        self.send("http://127.0.0.1:%d/" % port)
        self.assert_dump(service.requests("dump")[-1], "[n/a]")

    def test_error_codes_count_as_sent(self):
        service = self.start_service(http_port=0)
        service.behave("statistics", "ok", status=500)
        service.behave("time", "ok", status=404)
        service.behave("dump", "ok", status=500)
        port = service.http_port
        self.statistics_at("http://127.0.0.1:%d/statistics" % port)
        messages, _ = self.send("http://127.0.0.1:%d/" % port, "--device-id=dev-42")
        self.assertEqual(self.delivery_lines(messages), [
            "post crash statisitc return https=0 success=1 http code=500",
            "get server time failed https=0 http code=404",
            "post dump succeed https=0",
        ])
        self.assertEqual([r["exchange"] for r in service.requests()], ["statistics", "time", "dump"])
        self.assert_dump(service.requests("dump")[0], "dev-42", served=False)


if __name__ == "__main__":
    ds.main()
