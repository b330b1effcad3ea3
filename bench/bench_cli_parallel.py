"""ztupdate on four units at once beside one unit alone, against zt-unit-sim with a write delay
per record request and flash chunk, so the units' own programming time dominates as on real
hardware. Prints the figures and the ratio; the target is four units in at most 1.3x the time
of one.

usage: bench_cli_parallel.py ZTUPDATE ZT_UNIT_SIM SAMPLE_HEX SAMPLE_FLASH
"""
import json
import os
import subprocess
import sys
import tempfile
import time

from bench_support import launch_sim, stop_sim, write_subset

DATA_RECORDS = 1600      # 200 program requests
FLASH_BYTES = 64 * 1024  # 1024 chunks
PROGRAM_DELAY_MS = 4
ROUNDS = 2


def start_sim(sim, bind, units, hex_path, flash_path):
    return launch_sim([sim, "--bind", bind, "--units", str(units), "--start-mode", "bootload",
                       "--no-discovery", "--no-tcp", "--no-serial",
                       "--program-delay-ms", str(PROGRAM_DELAY_MS),
                       "--check-hex", hex_path, "--check-flash", flash_path], 10)[0]


def timed_update(ztupdate, addresses, hex_path, flash_path):
    args = [ztupdate]
    for address in addresses:
        args += ["--ip", address]
    args += ["--json", "update", "--hex", hex_path, "--flash", flash_path, "--yes"]
    started = time.monotonic()
    done = subprocess.run(args, capture_output=True, timeout=600)
    elapsed = time.monotonic() - started
    units = json.loads(done.stdout)["units"]
    if done.returncode != 0 or any(u["result"] != "updated" for u in units):
        raise SystemExit("update failed: %s" % done.stdout.decode())
    return elapsed, [u["seconds"] for u in units]


def run(ztupdate, sim, hex_path, flash_path, bind, units):
    proc = start_sim(sim, bind, units, hex_path, flash_path)
    base = bind.rsplit(".", 1)[0]
    first = int(bind.rsplit(".", 1)[1])
    addresses = ["%s.%d" % (base, first + i) for i in range(units)]
    try:
        elapsed, per_unit = timed_update(ztupdate, addresses, hex_path, flash_path)
    finally:
        status = stop_sim(proc)
    if status != 0:
        raise SystemExit("simulator memory differs from the images (status %d)" % status)
    return elapsed, per_unit


def main():
    ztupdate, sim, sample_hex, sample_flash = sys.argv[1:5]
    with tempfile.TemporaryDirectory(prefix="zt-bench-cli-") as directory:
        hex_path, flash_path = write_subset(directory, sample_hex, sample_flash, DATA_RECORDS, FLASH_BYTES, "bench")
        print("images: %d data records (%d program requests), %d flash bytes (%d chunks); "
              "unit write delay %d ms a request" % (DATA_RECORDS, DATA_RECORDS // 8, FLASH_BYTES,
                                                    FLASH_BYTES // 64, PROGRAM_DELAY_MS))
        one, four = [], []
        for round_number in range(ROUNDS):
            one.append(run(ztupdate, sim, hex_path, flash_path, "127.62.%d.1" % (2 * round_number + 1), 1)[0])
            elapsed, per_unit = run(ztupdate, sim, hex_path, flash_path, "127.62.%d.1" % (2 * round_number + 2), 4)
            four.append(elapsed)
            print("round %d: one unit %.2f s; four units %.2f s (each: %s)" % (
                round_number + 1, one[-1], elapsed, ", ".join("%.2f" % s for s in per_unit)))
        best_one, best_four = min(one), min(four)
        ratio = best_four / best_one
        print("best: one unit %.2f s, four units %.2f s, ratio %.2f (target <= 1.30: %s)" % (
            best_one, best_four, ratio, "met" if ratio <= 1.3 else "NOT met"))


if __name__ == "__main__":
    main()
