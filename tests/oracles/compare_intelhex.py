#!/usr/bin/python3
"""Compares the memory map the C++ helper builds from CHexManager's records with the one
python3-intelhex reads from the same HEX file."""
import subprocess
import sys

from intelhex import IntelHex


def ranges_from_helper(program):
    out = subprocess.run([program], check=True, capture_output=True, text=True).stdout
    ranges = {}
    for line in out.splitlines():
        address, count, data = line.split()
        payload = bytes.fromhex(data)
        if len(payload) != int(count):
            sys.exit(f"helper range at {address} claims {count} bytes, carries {len(payload)}")
        ranges[int(address, 16)] = payload
    return ranges


def ranges_from_intelhex(path):
    image = IntelHex(path)
    return {start: image.tobinstr(start, stop - 1) for start, stop in image.segments()}


def main():
    program, hex_file = sys.argv[1], sys.argv[2]
    ours = ranges_from_helper(program)
    theirs = ranges_from_intelhex(hex_file)
    if ours.keys() != theirs.keys():
        only_ours = sorted(set(ours) - set(theirs))[:5]
        only_theirs = sorted(set(theirs) - set(ours))[:5]
        sys.exit(f"ranges differ: ours only {only_ours}, intelhex only {only_theirs}")
    for start in ours:
        if ours[start] != theirs[start]:
            sys.exit(f"bytes differ in the range at {start:#010x}")
    total = sum(len(v) for v in ours.values())
    print(f"{len(ours)} ranges, {total} bytes agree with intelhex")


if __name__ == "__main__":
    main()
