#!/usr/bin/python3
"""Compares crc16 with python3-crcmod's CRC-16/XMODEM on seeded random inputs."""
import random
import subprocess
import sys

import crcmod.predefined


def main():
    program = sys.argv[1]
    rng = random.Random(0x2C16)
    inputs = [b"", b"123456789", bytes(range(256)), b"\xff" * 300]
    inputs += [bytes(rng.getrandbits(8) for _ in range(rng.randrange(1, 600))) for _ in range(500)]
    out = subprocess.run([program], input="".join(i.hex() + "\n" for i in inputs),
                         check=True, capture_output=True, text=True).stdout.split()
    xmodem = crcmod.predefined.mkCrcFun("xmodem")
    if len(out) != len(inputs):
        sys.exit(f"expected {len(inputs)} CRCs, got {len(out)}")
    for data, ours in zip(inputs, out):
        if int(ours, 16) != xmodem(data):
            sys.exit(f"crc16 {ours} != xmodem {xmodem(data):04x} for {data[:16].hex()}...")
    print(f"{len(inputs)} CRCs agree with crcmod xmodem")


if __name__ == "__main__":
    main()
