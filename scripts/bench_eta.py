"""How true ztupdate's "time left" is: one update over UDP against zt-unit-sim with write and
erase delays, and one over a paced 115200-baud serial line. The progress lines of piped output
carry the estimate; at 10 %, 25 % and 50 % of each run's real time the estimate shown then is
compared with the time that really remained. The target: within 25 % from 10 % on.

usage: bench_eta.py ZTUPDATE ZT_UNIT_SIM SAMPLE_HEX SAMPLE_FLASH
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
from bench_support import launch_sim, write_subset  # noqa: E402

DATA_RECORDS = 8000       # about 1000 program requests
FLASH_BYTES = 256 * 1024  # 4096 chunks
CHECKPOINTS = (0.10, 0.25, 0.50)
LEFT = re.compile(r": (\d+)% \((?:(\d+):)?(\d+):(\d+) left\)")


def start_sim(sim, extra):
    proc, output = launch_sim([sim, "--bind", "127.62.%d.1" % (os.getpid() % 200 + 1), "--start-mode", "bootload",
                               "--no-discovery", "--no-tcp"] + extra, 10)
    endpoints = dict(line.split()[:2] for line in output.decode().splitlines() if len(line.split()) == 2)
    return proc, endpoints


def timed_estimates(ztupdate, target, hex_path, flash_path):
    """(seconds since start, estimated seconds left) for every progress line, and the run's length."""
    started = time.time()
    proc = subprocess.Popen([ztupdate] + target + ["update", "--hex", hex_path, "--flash", flash_path, "--yes"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    estimates = []
    for line in proc.stdout:
        match = LEFT.search(line.decode())
        if match:
            hours, minutes, seconds = (int(g or 0) for g in match.groups()[1:])
            estimates.append((time.time() - started, hours * 3600 + minutes * 60 + seconds))
    status = proc.wait()
    if status != 0:
        raise SystemExit("update failed with %d" % status)
    return estimates, time.time() - started


def errors_at_checkpoints(estimates, total):
    row = []
    for fraction in CHECKPOINTS:
        moment = fraction * total
        later = [(t, left) for t, left in estimates if t >= moment]
        if not later:
            row.append(None)
            continue
        t, left = later[0]
        row.append(100.0 * (left - (total - t)) / (total - t))
    return row


def main():
    ztupdate, sim, sample_hex, sample_flash = sys.argv[1:5]
    with tempfile.TemporaryDirectory(prefix="zt-bench-eta-") as directory:
        hex_path, flash_path = write_subset(directory, sample_hex, sample_flash, DATA_RECORDS, FLASH_BYTES, "eta")
        runs = [("UDP, 4 ms writes, 2 s erases", ["--program-delay-ms", "4", "--erase-delay-ms", "2000"], "udp"),
                ("serial 115200, paced", ["--pace-serial", "--program-delay-ms", "1"], "serial")]
        print("%-32s %8s %10s %10s %10s" % ("link", "run (s)", "at 10 %", "at 25 %", "at 50 %"))
        for name, extra, kind in runs:
            proc, endpoints = start_sim(sim, extra)
            target = ["--ip", endpoints["udp"].split(":")[0]] if kind == "udp" else ["--serial", endpoints["serial"]]
            try:
                estimates, total = timed_estimates(ztupdate, target, hex_path, flash_path)
            finally:
                proc.send_signal(signal.SIGTERM)
                proc.wait(timeout=30)
                proc.stdout.close()
            cells = ["%+9.0f%%" % e if e is not None else "%10s" % "-" for e in errors_at_checkpoints(estimates, total)]
            print("%-32s %8.1f %s" % (name, total, " ".join(cells)))
        print("(estimate shown minus the time that really remained, as a share of the latter)")


if __name__ == "__main__":
    main()
