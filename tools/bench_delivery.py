#!/usr/bin/env python3
"""Delivery benchmark (not a test): the report archive's size and time for a
1 MiB and a 50 MiB minidump beside `tar | gzip -6` of the same files, and
Faultpost's peak memory during the upload step beside the archive size.

The minidump bytes come from a real full-memory dump of a crashed sample
client, cut (or repeated) to each size. Run inside a Wine session:
    tools/with-wine-session.sh python3 tools/bench_delivery.py --bin build/x86_64/bin
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "e2e"))
sys.path.insert(0, os.path.join(here, "..", "tests", "service"))
import fptest  # noqa: E402
import nimbrel_service  # noqa: E402

MiB = 1 << 20


def probe(bin_dir, *arguments):
    done = subprocess.run([fptest.WINE, os.path.join(bin_dir, "delivery_probe.exe")] + list(arguments),
                          capture_output=True, timeout=600)
    return dict(re.findall(r"^(\w+)=(.*?)\r?$", done.stdout.decode("latin-1"), re.M))


def resident(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return None


def upload_with_memory(bin_dir, url, members):
    """Runs the upload step in the probe and watches its resident memory
    from outside (Wine's own counters do not follow large allocations):
    the figure just before the upload and the highest one during it."""
    import threading
    process = subprocess.Popen([fptest.WINE, os.path.join(bin_dir, "delivery_probe.exe"), "upload", url] + members,
                               stdout=subprocess.PIPE)
    samples = []
    stop = threading.Event()

    def sample():
        while not stop.is_set():
            value = resident(process.pid)
            if value is not None:
                samples.append((time.perf_counter(), value))
            time.sleep(0.002)

    sampler = threading.Thread(target=sample)
    sampler.start()
    marks = {}
    output = b""
    for line in process.stdout:
        output += line
        text = line.decode("latin-1").strip()
        if text in ("upload_start", "upload_end"):
            marks[text] = time.perf_counter()
    process.wait(600)
    stop.set()
    sampler.join()
    start = marks["upload_start"] + 0.4
    before = [v for t, v in samples if marks["upload_start"] < t < start]
    during = [v for t, v in samples if start <= t <= marks["upload_end"]]
    values = dict(re.findall(r"^(\w+)=(.*?)\r?$", output.decode("latin-1"), re.M))
    return values, (before[-1] if before else 0), (max(during) if during else 0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    fptest.BIN_DIR = os.path.abspath(args.bin)
    session = fptest.Session("bench")
    try:
        session.write_debug_set("[ComSet]\nCreateFullDump=1\n")
        session.crash("--url=http://127.0.0.1:9/")
        full = sorted(glob.glob(os.path.join(session.report_dir, "full.*.dmp")))
        material_path = full[0] if full else session.report_file("Nimbrel.dmp")
        with open(material_path, "rb") as f:
            material = f.read()
        crash_log = session.report_file("client_info.txt")
        print("dump material: %s, %d bytes; crash log %d bytes" % (os.path.basename(material_path), len(material),
                                                                     os.path.getsize(crash_log)))
        work = os.path.join(session.root, "bench")
        os.makedirs(work)
        shutil.copy(crash_log, os.path.join(work, "client_info.txt"))
        service = nimbrel_service.NimbrelService(http_port=0)
        print("%-8s %12s %10s %12s %10s %12s %14s %14s" % ("dump", "archive B", "ms", "tar|gz6 B", "ms",
                                                         "upload B", "RSS +B", "peak/archive"))
        for size in (1 * MiB, 50 * MiB):
            dump = (material * (size // len(material) + 1))[:size]
            with open(os.path.join(work, "Nimbrel.dmp"), "wb") as f:
                f.write(dump)
            members = [fptest.win_path(os.path.join(work, n)) for n in ("client_info.txt", "Nimbrel.dmp")]
            archive = os.path.join(work, "ExceptionReport.tgz")
            ours = []
            for _ in range(args.runs):
                values = probe(args.bin, "archive", fptest.win_path(archive), *members)
                ours.append(float(values["milliseconds"]))
            ours_size = os.path.getsize(archive)
            theirs = []
            for _ in range(args.runs):
                started = time.perf_counter()
                subprocess.run("tar cf - client_info.txt Nimbrel.dmp | gzip -6 > ref.tgz", shell=True, cwd=work,
                               check=True)
                theirs.append(1000 * (time.perf_counter() - started))
            theirs_size = os.path.getsize(os.path.join(work, "ref.tgz"))
            del service.records[:]
            values, baseline, peak = upload_with_memory(args.bin, "http://127.0.0.1:%d/" % service.http_port, members)
            posted = service.requests("dump")
            uploaded = len(posted[0]["part"]) if posted else 0
            extra = peak - baseline
            print("%-8s %12d %10.0f %12d %10.0f %12d %14d %14.2f" % (
                "%d MiB" % (size // MiB), ours_size, min(ours), theirs_size, min(theirs), uploaded, extra,
                extra / uploaded if uploaded else 0))
        service.close()
    finally:
        session.close()


if __name__ == "__main__":
    main()
