"""Fleet benchmarks against zt-unit-sim on loopback; prints figures, judges nothing but the targets.

1. Lossy links: a full update of the embedded images with every frame lost at 1 % and at 5 %
   each way, with the default (adaptive) timing and with --fast-resend, ZT_BENCH_SEEDS seeds
   each, one run at a time; a lossless row and one run with --described-timing at 1 % beside
   them (ZT_BENCH_DESCRIBED=0 leaves it out: it takes 4 minutes); the same with a 1 ms write time
   on the unit; the memories must match the images. Targets: medians within 2 s at 1 % and 8 s at
   5 %; with the 1 ms write, 5 % within 1.5x the lossless time plus 5 ms a resend.
2. A venue: 64 units running their application upgraded at once beside one unit alone, with a
   write delay per record request and flash chunk; target: 64 units within 1.15x one unit's time.
   Real units bring a processor each, so the target row gives each unit a simulator process of
   its own; the row with all 64 in one simulator process shows what that one thread costs.

usage: bench_fleet.py ZTUPDATE ZT_UNIT_SIM SAMPLE_HEX SAMPLE_FLASH [loss|venue|all]
"""
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

from bench_support import launch_sim, stop_sim, write_subset

LOSSES = (1.0, 5.0)
VENUE_UNITS = 64
DATA_RECORDS = 1600      # 200 program requests
FLASH_BYTES = 64 * 1024  # 1024 chunks
PROGRAM_DELAY_MS = 4
RUN_LIMIT_S = 3600
# The resend timing ztupdate is given: its default, early resends from the first loss on, and
# the window's full interval (one run only: a lost reply costs a second each).
TIMING_OPTIONS = {"adaptive": [], "fast": ["--fast-resend"], "described": ["--described-timing"]}


def start_sim(sim, bind, args):
    return launch_sim([sim, "--bind", bind, "--no-discovery", "--no-serial"] + args, 20)[0]


def timed(args):
    started = time.monotonic()
    done = subprocess.run(args, capture_output=True, timeout=RUN_LIMIT_S, env=dict(os.environ, ZT_PIN="1234"))
    return time.monotonic() - started, done


def lossy_update(ztupdate, sim, sample_hex, sample_flash, bind, loss, timing, turnaround_ms, seed):
    proc = start_sim(sim, bind, ["--start-mode", "bootload", "--no-tcp", "--seed", str(seed),
                                 "--drop-in", str(loss), "--drop-out", str(loss),
                                 "--program-delay-ms", str(turnaround_ms),
                                 "--check-hex", sample_hex, "--check-flash", sample_flash])
    args = [ztupdate, "--ip", bind, "--json", "update", "--yes"] + TIMING_OPTIONS[timing]
    try:
        elapsed, done = timed(args)
    finally:
        sim_status = stop_sim(proc)
    unit = json.loads(done.stdout)["units"][0]
    return elapsed, unit, done.returncode == 0 and sim_status == 0


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


def loss_benchmark(ztupdate, sim, sample_hex, sample_flash):
    seeds = int(os.environ.get("ZT_BENCH_SEEDS", "4"))
    print("Full update of the embedded images, each frame lost at the given rate each way, %d seeds a row, "
          "one run at a time; turnaround: the unit's time for a record or chunk write:" % seeds)
    print("  %-6s %-10s %-10s %8s %8s %8s %9s %9s  %s" % ("loss", "timing", "turnaround", "min", "median", "max",
                                                          "resends", "over 2x", "memories"))
    rows = [(0.0, "adaptive", 0)] + [(loss, timing, 0) for loss in LOSSES for timing in ("adaptive", "fast")]
    rows += [(0.0, "adaptive", 1), (LOSSES[1], "adaptive", 1), (LOSSES[1], "fast", 1)]
    if os.environ.get("ZT_BENCH_DESCRIBED", "1") != "0":
        rows.append((LOSSES[0], "described", 0))
    medians, resends = {}, {}
    for index, (loss, timing, turnaround_ms) in enumerate(rows):
        runs = [lossy_update(ztupdate, sim, sample_hex, sample_flash, "127.64.%d.%d" % (10 + index, seed), loss,
                             timing, turnaround_ms, seed)
                for seed in range(1, (1 if timing == "described" else seeds) + 1)]
        times = [elapsed for elapsed, _, _ in runs]
        middle = median(times)
        medians[(loss, timing, turnaround_ms)] = middle
        resends[(loss, timing, turnaround_ms)] = median([u.get("resends", 0) for _, u, _ in runs])
        identical = sum(1 for _, _, same in runs if same)
        print("  %4.0f %%  %-10s %7d ms %7.2fs %7.2fs %7.2fs %9d %9d  %d of %d identical" % (
            loss, timing, turnaround_ms, min(times), middle, max(times), max(u.get("resends", 0) for _, u, _ in runs),
            sum(1 for t in times if t > 2 * middle), identical, len(runs)))
    for loss, limit in ((1.0, 2.0), (5.0, 8.0)):
        for timing in ("adaptive", "fast"):
            figure = medians[(loss, timing, 0)]
            print("  target: %s at %.0f %% loss, median within %.0f s: %.2f s, %s" % (
                timing, loss, limit, figure, "met" if figure <= limit else "NOT met"))
    # Each resend stands for a lost exchange (or a reply later than the estimate).
    for timing in ("adaptive", "fast"):
        limit = 1.5 * medians[(0.0, "adaptive", 1)] + 0.005 * resends[(LOSSES[1], timing, 1)]
        figure = medians[(LOSSES[1], timing, 1)]
        print("  target: %s at %.0f %% loss with a 1 ms turnaround, within 1.5x lossless + 5 ms a resend (%.2f s): "
              "%.2f s, %s" % (timing, LOSSES[1], limit, figure, "met" if figure <= limit else "NOT met"))


def children_cpu_s():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def venue_upgrade(ztupdate, sim, hex_path, flash_path, bind, units, processes):
    """Upgrades `units` units played by `processes` simulators; returns the time, each unit's time
    and the CPU seconds of ztupdate and of the simulators."""
    base, first = bind.rsplit(".", 1)
    addresses = ["%s.%d" % (base, int(first) + i) for i in range(units)]
    per_process = units // processes
    procs = [start_sim(sim, addresses[i], ["--units", str(per_process), "--program-delay-ms", str(PROGRAM_DELAY_MS),
                                            "--check-hex", hex_path, "--check-flash", flash_path])
             for i in range(0, units, per_process)]
    args = [ztupdate] + [word for address in addresses for word in ("--ip", address)]
    args += ["--json", "upgrade", "--hex", hex_path, "--flash", flash_path, "--yes"]
    before = children_cpu_s()
    try:
        elapsed, done = timed(args)
    finally:
        after_ztupdate = children_cpu_s()
        sim_statuses = [stop_sim(proc) for proc in procs]
    cpu = (after_ztupdate - before, children_cpu_s() - after_ztupdate)
    outcomes = json.loads(done.stdout)["units"]
    if done.returncode != 0 or any(sim_statuses) or any(u["result"] != "upgraded" for u in outcomes):
        raise SystemExit("upgrade failed (ztupdate %d, simulators %s): %s" % (
            done.returncode, sim_statuses, [u["result"] for u in outcomes]))
    return elapsed, [u["seconds"] for u in outcomes], cpu


def venue_benchmark(ztupdate, sim, sample_hex, sample_flash):
    with tempfile.TemporaryDirectory(prefix="zt-bench-fleet-") as directory:
        hex_path, flash_path = write_subset(directory, sample_hex, sample_flash, DATA_RECORDS, FLASH_BYTES, "venue")
        print("Upgrade from the application: %d data records (%d program requests), %d flash bytes (%d chunks); "
              "write delay %d ms a request; restart 1 s each way" % (
                  DATA_RECORDS, DATA_RECORDS // 8, FLASH_BYTES, FLASH_BYTES // 64, PROGRAM_DELAY_MS))
        exchanges = VENUE_UNITS * (DATA_RECORDS // 8 + FLASH_BYTES // 64)
        one, _, _ = venue_upgrade(ztupdate, sim, hex_path, flash_path, "127.65.1.1", 1, 1)
        print("  one unit alone %.2f s" % one)
        for label, processes, bind in (("in one simulator process", 1, "127.65.2.1"),
                                       ("a simulator process each", VENUE_UNITS, "127.65.3.1")):
            many, per_unit, cpu = venue_upgrade(ztupdate, sim, hex_path, flash_path, bind, VENUE_UNITS, processes)
            ratio = many / one
            target = "target <= 1.15: %s" % ("met" if ratio <= 1.15 else "NOT met") if processes > 1 else "no target"
            print("  %d units %s: %.2f s (each %.2f to %.2f s), ratio %.2f (%s); CPU: ztupdate %.0f us an "
                  "exchange, simulators %.0f us, %.2f of the machine's cores busy on average" % (
                      VENUE_UNITS, label, many, min(per_unit), max(per_unit), ratio, target,
                      1e6 * cpu[0] / exchanges, 1e6 * cpu[1] / exchanges, (cpu[0] + cpu[1]) / many))


def main():
    ztupdate, sim, sample_hex, sample_flash = sys.argv[1:5]
    which = sys.argv[5] if len(sys.argv) > 5 else "all"
    if which in ("venue", "all"):
        venue_benchmark(ztupdate, sim, sample_hex, sample_flash)
    if which in ("loss", "all"):
        loss_benchmark(ztupdate, sim, sample_hex, sample_flash)


if __name__ == "__main__":
    main()
