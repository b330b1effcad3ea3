"""What the benchmarks share: image subsets of the size a benchmark wants, and simulators started
until they say "ready" and stopped by SIGTERM."""
import os
import select
import signal
import subprocess
import time


def write_subset(directory, sample_hex, sample_flash, data_records, flash_bytes, name="bench"):
    """The first data records of the sample image (with their address records) and an end record,
    and the first bytes of the sample flash image, as NAME.hex and NAME.bin in `directory`."""
    hex_path = os.path.join(directory, name + ".hex")
    flash_path = os.path.join(directory, name + ".bin")
    written = 0
    with open(sample_hex) as source, open(hex_path, "w") as out:
        for line in source:
            if written >= data_records:
                break
            out.write(line)
            written += line[7:9] == "00"
        out.write(":00000001FF\n")
    with open(sample_flash, "rb") as source, open(flash_path, "wb") as out:
        out.write(source.read(flash_bytes))
    return hex_path, flash_path


def launch_sim(command, wait_s=20):
    """Starts zt-unit-sim with `command`; returns the process and what it printed up to "ready"."""
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    output = b""
    deadline = time.time() + wait_s
    while b"ready\n" not in output:
        if not select.select([proc.stdout], [], [], max(0.0, deadline - time.time()))[0]:
            raise SystemExit("simulator did not start")
        output += os.read(proc.stdout.fileno(), 4096)
    return proc, output


def stop_sim(proc):
    proc.send_signal(signal.SIGTERM)
    status = proc.wait(timeout=30)
    proc.stdout.close()
    return status
