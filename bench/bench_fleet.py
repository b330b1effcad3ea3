"""Fleet benchmarks against zt-unit-sim on loopback; prints figures, judges nothing but the targets.

1. Lossy links: a full update of the embedded images with every frame lost at 1 % and at 5 %
   each way, with and without --fast-resend (all four runs side by side, each on its own
   simulator); the memories must match the images. Target: with --fast-resend at 5 % within 60 s.
2. A venue: 64 units running their application upgraded at once beside one unit alone, with a
   write delay per record request and flash chunk; target: 64 units within 1.15x one unit's time.

usage: bench_fleet.py ZTUPDATE ZT_UNIT_SIM SAMPLE_HEX SAMPLE_FLASH [loss|venue|all]
"""
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

from bench_support import launch_sim, stop_sim, write_subset

LOSSES = (1.0, 5.0)
VENUE_UNITS = 64
DATA_RECORDS = 1600      # 200 program requests
FLASH_BYTES = 64 * 1024  # 1024 chunks
PROGRAM_DELAY_MS = 4
RUN_LIMIT_S = 3600


def start_sim(sim, bind, args):
    return launch_sim([sim, "--bind", bind, "--no-discovery", "--no-serial"] + args, 20)[0]


def timed(args):
    started = time.monotonic()
    done = subprocess.run(args, capture_output=True, timeout=RUN_LIMIT_S, env=dict(os.environ, ZT_PIN="1234"))
    return time.monotonic() - started, done


def lossy_update(ztupdate, sim, sample_hex, sample_flash, bind, loss, fast, results):
    proc = start_sim(sim, bind, ["--start-mode", "bootload", "--no-tcp", "--seed", "7",
                                 "--drop-in", str(loss), "--drop-out", str(loss),
                                 "--check-hex", sample_hex, "--check-flash", sample_flash])
    args = [ztupdate, "--ip", bind, "--json", "update", "--yes"] + (["--fast-resend"] if fast else [])
    try:
        elapsed, done = timed(args)
    finally:
        sim_status = stop_sim(proc)
    unit = json.loads(done.stdout)["units"][0]
    results[(loss, fast)] = (elapsed, unit, done.returncode, sim_status)


def loss_benchmark(ztupdate, sim, sample_hex, sample_flash):
    print("Full update of the embedded images, each frame lost at the given rate each way:")
    results = {}
    threads = []
    for i, loss in enumerate(LOSSES):
        for j, fast in enumerate((False, True)):
            bind = "127.64.%d.1" % (10 + 2 * i + j)
            thread = threading.Thread(target=lossy_update,
                                      args=(ztupdate, sim, sample_hex, sample_flash, bind, loss, fast, results))
            thread.start()
            threads.append(thread)
    for thread in threads:
        thread.join()
    print("  %-6s %-13s %9s %9s %8s %9s  %s" % ("loss", "resends", "time", "requests", "resends", "timeouts",
                                                   "memory"))
    for loss in LOSSES:
        for fast in (False, True):
            elapsed, unit, status, sim_status = results[(loss, fast)]
            memory = "identical" if sim_status == 0 and status == 0 else "DIFFERS (ztupdate %d, simulator %d)" % (
                status, sim_status)
            print("  %4.0f %%  %-13s %8.1fs %9d %8d %9d  %s" % (
                loss, "fast" if fast else "described", elapsed, unit.get("requests", 0), unit.get("resends", 0),
                unit.get("timeouts", 0), memory))
    fast5 = results[(5.0, True)][0]
    print("  target: with --fast-resend at 5 %% loss within 60 s: %.1f s, %s" % (
        fast5, "met" if fast5 <= 60 else "NOT met"))


def venue_upgrade(ztupdate, sim, hex_path, flash_path, bind, units):
    proc = start_sim(sim, bind, ["--units", str(units), "--program-delay-ms", str(PROGRAM_DELAY_MS),
                                 "--check-hex", hex_path, "--check-flash", flash_path])
    base, first = bind.rsplit(".", 1)
    args = [ztupdate]
    for i in range(units):
        args += ["--ip", "%s.%d" % (base, int(first) + i)]
    args += ["--json", "upgrade", "--hex", hex_path, "--flash", flash_path, "--yes"]
    try:
        elapsed, done = timed(args)
    finally:
        sim_status = stop_sim(proc)
    outcomes = json.loads(done.stdout)["units"]
    if done.returncode != 0 or sim_status != 0 or any(u["result"] != "upgraded" for u in outcomes):
        raise SystemExit("upgrade failed (ztupdate %d, simulator %d): %s" % (
            done.returncode, sim_status, [u["result"] for u in outcomes]))
    return elapsed, [u["seconds"] for u in outcomes]


def venue_benchmark(ztupdate, sim, sample_hex, sample_flash):
    with tempfile.TemporaryDirectory(prefix="zt-bench-fleet-") as directory:
        hex_path, flash_path = write_subset(directory, sample_hex, sample_flash, DATA_RECORDS, FLASH_BYTES, "venue")
        print("Upgrade from the application: %d data records (%d program requests), %d flash bytes (%d chunks); "
              "write delay %d ms a request; restart 1 s each way" % (
                  DATA_RECORDS, DATA_RECORDS // 8, FLASH_BYTES, FLASH_BYTES // 64, PROGRAM_DELAY_MS))
        one, _ = venue_upgrade(ztupdate, sim, hex_path, flash_path, "127.65.1.1", 1)
        many, per_unit = venue_upgrade(ztupdate, sim, hex_path, flash_path, "127.65.2.1", VENUE_UNITS)
        ratio = many / one
        print("  one unit %.2f s; %d units at once %.2f s (each %.2f to %.2f s); ratio %.2f (target <= 1.15: %s)" % (
            one, VENUE_UNITS, many, min(per_unit), max(per_unit), ratio, "met" if ratio <= 1.15 else "NOT met"))


def main():
    ztupdate, sim, sample_hex, sample_flash = sys.argv[1:5]
    which = sys.argv[5] if len(sys.argv) > 5 else "all"
    if which in ("venue", "all"):
        venue_benchmark(ztupdate, sim, sample_hex, sample_flash)
    if which in ("loss", "all"):
        loss_benchmark(ztupdate, sim, sample_hex, sample_flash)


if __name__ == "__main__":
    main()
