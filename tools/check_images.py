#!/usr/bin/env python3
"""Refuse to embed images the programs could not send.

The same rules as content/hex_check.cpp, which the command line applies to outside files: an
application image is Intel HEX whose every line is a well-formed record of at most 256 bytes,
with data records and an end record; a flash image is not empty, fits the 32-bit chunk
addresses from its origin, and is not Intel HEX text. Exits 1 naming FILE:LINE and the reason.
"""
import argparse
import re
import sys

MAX_RECORD_BYTES = 256
# kFlashImageOrigin in content/content_globals.h.
FLASH_ORIGIN = 0x40000
TYPE_COUNTS = {0: None, 1: 0, 2: 2, 3: 4, 4: 2, 5: 4}
LINE_ENDS = re.compile(rb"\r\n|\r|\n")
RECORD_TEXT = re.compile(rb":(?:[0-9A-Fa-f]{2})*")


def record_problem(line):
    """None for a well-formed record, else the reason."""
    if not RECORD_TEXT.fullmatch(line):
        return "not a record: ':' and pairs of hex digits expected"
    data = bytes.fromhex(line[1:].decode("ascii"))
    if len(data) < 5:
        return "byte count does not match the record"
    if len(data) > MAX_RECORD_BYTES:
        return "record longer than 256 bytes"
    count, kind = data[0], data[3]
    if len(data) != count + 5:
        return "byte count does not match the record"
    if sum(data) & 0xFF:
        return "checksum mismatch"
    if kind not in TYPE_COUNTS:
        return "unknown record type"
    if TYPE_COUNTS[kind] is not None and TYPE_COUNTS[kind] != count:
        return "byte count does not match the record"
    return None


def hex_problem(text):
    """(line, reason) of the first problem, line 0 for the whole file; None when it passes."""
    ended = False
    data_records = 0
    for number, line in enumerate(LINE_ENDS.split(text), start=1):
        if not line:
            continue
        if ended:
            return number, "data after the end-of-file record"
        problem = record_problem(line)
        if problem:
            return number, problem
        kind = int(line[7:9], 16)
        data_records += kind == 0 and int(line[1:3], 16) > 0
        ended = kind == 1
    if not ended:
        return 0, "no end-of-file record"
    if data_records == 0:
        return 0, "no data records: the update would erase the unit and write nothing"
    return None


def flash_problem(data):
    if not data:
        return "the image is empty"
    if FLASH_ORIGIN + len(data) > 1 << 32:
        return "too large: its chunks would run past the last 32-bit address"
    first = LINE_ENDS.split(data, maxsplit=1)[0]
    if first and record_problem(first) is None:
        return "Intel HEX text, not a web-content image"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hex", required=True, help="application image (Intel HEX)")
    parser.add_argument("--flash", required=True, help="web-content flash image")
    parser.add_argument("--stamp", help="file to touch when both pass")
    args = parser.parse_args()
    failed = False
    with open(args.hex, "rb") as f:
        problem = hex_problem(f.read())
    if problem:
        line, reason = problem
        print(f"{args.hex}:{line}: {reason}" if line else f"{args.hex}: {reason}", file=sys.stderr)
        failed = True
    with open(args.flash, "rb") as f:
        reason = flash_problem(f.read())
    if reason:
        print(f"{args.flash}: {reason}", file=sys.stderr)
        failed = True
    if failed:
        sys.exit(1)
    if args.stamp:
        open(args.stamp, "w").close()


if __name__ == "__main__":
    main()
