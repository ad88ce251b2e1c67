"""The main job, shown end to end: the sample client crashes under wine64,
hands the crash over, and Faultpost reports it. Prints what Faultpost did."""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "service"))
import fptest  # noqa: E402
import nimbrel_service  # noqa: E402

fptest.BIN_DIR = os.path.join(HERE, "..", "build", "x86_64", "bin")
fptest.SOURCE_DIR = os.path.join(HERE, "..")


def heading(text):
    print("\n== %s %s" % (text, "=" * max(0, 70 - len(text))))


def main():
    session = fptest.Session("demo")
    service = nimbrel_service.NimbrelService(http_port=0)
    try:
        url = "http://127.0.0.1:%d/" % service.http_port
        session.write_debug_set("[NetWork]\nlog_statistics_path=%sstatistics\n" % url)
        heading("local Nimbrel service listening on %s" % url)
        heading("sample client crashes (null-pointer write, 5 calls deep), report sent silently")
        code = session.crash("--crash=null-write", "--depth=5", "--threads=2", "--block=NimbrelDemoCrash",
                             "--url=" + url, "--send=1", "--device-id=DEMO-DEVICE-0001")
        print("sample-client.exe exit code: 0x%08X" % (code & 0xFFFFFFFF))
        messages = session.wait_for_repair_pass()
        heading("Faultpost log (report pass, then the repair pass it started)")
        print(session.log_text().rstrip())
        heading("report directory %s" % fptest.win_path(session.report_dir))
        for name in sorted(os.listdir(session.report_dir)):
            print("  %-20s %10d bytes" % (name, os.path.getsize(session.report_file(name))))
        log = session.report_file("client_info.txt")
        if os.path.exists(log):
            heading("crash log client_info.txt")
            print(open(log, "rb").read().decode("utf-16").replace("\r\n", "\n").rstrip())
        heading("what the local service received")
        for record in service.requests():
            print("  %-10s %s" % (record["exchange"], record["request_line"]))
            if record.get("statistics_text"):
                print("             statistics (deciphered): %s" % record["statistics_text"])
            if record.get("archive") is not None:
                print("             sign verified: %s; archive members: %s" % (
                    record.get("sign_ok"), ", ".join("%s (%d bytes)" % (m["name"], m["size"])
                                                     for m in record["archive"]
                                                     if isinstance(m, dict))))
        uploaded = any(r["exchange"] == "dump" and r.get("sign_ok") for r in service.requests())
        ok = code & 0xFFFFFFFF == 0xC0000005 and "report crash return[0]" in messages and uploaded
        heading("result: %s" % ("Faultpost reported the crash" if ok else "FAILED"))
        return 0 if ok else 1
    finally:
        service.close()
        session.close()


if __name__ == "__main__":
    sys.exit(main())
