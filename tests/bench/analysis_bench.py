#!/usr/bin/env python3
"""Benchmark of the report pass (not a test): the sample client crashes with
a chain of N frames and hands over, in files-only mode, to a stand-in that
first measures on the same waiting process the floor (one bare
MiniDumpWriteDump) and the symbol handler's per-frame cost, then runs the
real Faultpost. The report pass's own steps come from Faultpost's log.

    tools/with-wine-session.sh python3 tests/bench/analysis_bench.py \
        --bin build-analysis/bin [--depths 50,500] [--runs 3]
"""

import argparse
import datetime
import glob
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
WINE = os.path.join(HERE, "..", "..", "tools", "wine-run")
CXX = "x86_64-w64-mingw32-g++-win32"


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def build_stand_in(directory):
    target = os.path.join(directory, "bench_handover.exe")
    subprocess.run([CXX, "-O2", "-municode", "-static", "-I" + os.path.join(HERE, "..", "..", "src"), "-o", target,
                    os.path.join(HERE, "bench_handover.cpp"), "-ldbghelp", "-lpsapi"], check=True)
    return target


def log_times(app):
    """Message -> time (s) for the report pass's log."""
    for name in sorted(glob.glob(os.path.join(app, "Faultpost_*.log"))):
        with open(name, "rb") as log:
            text = log.read().decode("latin-1")
        if "try open share memory" not in text:
            continue
        times = {}
        for line in text.splitlines():
            found = re.match(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) \d+ .\|(.*)$", line)
            if found:
                stamp = datetime.datetime.strptime(found.group(1), "%Y-%m-%d %H:%M:%S.%f").timestamp()
                message = re.sub(r"\[.*$", "", found.group(2))
                times.setdefault(message, stamp)
        return times
    raise RuntimeError("no report pass log in " + app)


def frames_listed(temp):
    with open(os.path.join(temp, "orvel", "Nimbrel", "client_info.txt"), "rb") as log:
        text = log.read()[2:].decode("utf-16-le")
    block = text.split("\r\nCall stack:\r\n")[1].split("\r\n")[1:]
    return sum(1 for line in block if re.match(r"^[0-9A-F]{16}  ", line))


def one_run(bin_dir, stand_in, depth, run):
    root = tempfile.mkdtemp(prefix="fp-bench-")
    try:
        app, temp = os.path.join(root, "app"), os.path.join(root, "temp")
        os.makedirs(app)
        os.makedirs(temp)
        for program in ("Faultpost.exe", "sample-client.exe", "launch.exe"):
            shutil.copy(os.path.join(bin_dir, program), app)
        shutil.copy(stand_in, app)
        with open(os.path.join(app, "Faultpost.ini"), "w", newline="") as ini:
            ini.write("[Config]\r\nDebugOutput=1\r\n")
        line = '"%s" --crash=null-write --depth=%d --block=Bench%d_%d --faultpost=%s' % (
            win(os.path.join(app, "sample-client.exe")), depth, depth, run, win(os.path.join(app, "bench_handover.exe")))
        done = subprocess.run([WINE, os.path.join(app, "launch.exe"), "--env=TMP=" + win(temp) + "\\",
                        "--env=TEMP=" + win(temp) + "\\", "--timeout-ms=600000",
                        "--app=" + win(os.path.join(app, "sample-client.exe")),
                               "--cmd-hex=" + line.encode("utf-8").hex()],
                       cwd=app, capture_output=True, timeout=700)
        results = glob.glob(os.path.join(app, "bench-*.json"))
        if not results:
            logs = "".join(open(p, "rb").read().decode("latin-1") for p in glob.glob(os.path.join(app, "*.log")))
            raise RuntimeError("the stand-in left no result: %r %r\n%s" % (done.stdout, done.stderr, logs))
        with open(results[0]) as f:
            result = json.load(f)
        times = log_times(app)
        result["pass_ms"] = 1000 * (times["report crash return"] - times["try open share memory"])
        result["minidump_ms"] = 1000 * (times["start write plaim dump"] - times["start write mini dump"])
        result["crash_log_ms"] = 1000 * (times["save dump local and do not report crash"] -
                                         times["start write plaim dump"])
        result["frames"] = frames_listed(temp)
        return result
    finally:
        shutil.rmtree(root, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--depths", default="50,500")
    parser.add_argument("--runs", type=int, default=3)
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="fp-bench-build-")
    stand_in = build_stand_in(work)
    keys = ["frames", "floor_ms", "minidump_ms", "crash_log_ms", "pass_ms", "faultpost_ms",
            "sym_initialize_ms", "lookup_ms_per_frame", "register_lookup_unregister_ms_per_frame"]
    print("depth " + " ".join("%s" % k for k in keys))
    for depth in [int(d) for d in options.depths.split(",")]:
        runs = [one_run(options.bin, stand_in, depth, r) for r in range(options.runs)]
        medians = {k: statistics.median(r[k] for r in runs) for k in keys}
        print("%5d " % depth + " ".join("%.3f" % medians[k] if "per_frame" in k else "%.0f" % medians[k]
                                        for k in keys))
        print("      runs: " + json.dumps(runs), file=sys.stderr)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
