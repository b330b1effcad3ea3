#!/usr/bin/env python3
"""Write deterministic sample firmware shaped like a real ZT Series release.

Application image (Intel HEX, CR LF, lower-case digits): 31,710 lines = 27,144 data records of
at most 16 bytes, 4,565 extended linear address records (upper words 0x1D00-0x1D07, one 0x1FC0,
and 2,279 of 0x0000, each directly followed by another extended address record) and the end
record ":00000001FF". Flash image: 546,221 bytes of web-content file-system image.
"""
import argparse

DATA_RECORDS = 27144
SEGMENTS = 2286            # extended address records that carry data
ZERO_RECORDS = 2279        # extended address records of 0x0000, each before a real one
FLASH_SIZE = 546221
PROGRAM_BASE = 0x1D000000
PROGRAM_END = 0x1D080000
BOOT_BASE = 0x1FC00000


class XorShift:
    """Small fixed generator, so the images never depend on a library's choices."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF or 1

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x

    def below(self, n):
        return self.next() % n


def record(kind, address, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + data
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex()


def extended(upper):
    return record(4, 0, bytes([upper >> 8, upper & 0xFF]))


def segment_sizes():
    """Records per segment: 1,998 segments of 12 and 288 of 11 make 27,144."""
    twelves = DATA_RECORDS - 11 * SEGMENTS
    return [12 if i % SEGMENTS < twelves else 11 for i in range(SEGMENTS)]


def segment_records(rng, count):
    """Full 16-byte records with a shorter last one, as a linker's sections end."""
    lengths = [16] * (count - 1) + [1 + rng.below(16)]
    return [bytes(rng.below(256) for _ in range(n)) for n in lengths]


def application_lines():
    rng = XorShift(0x5A17)
    sizes = segment_sizes()
    # The segments without a 0x0000 record before them, spread over the image.
    unpadded = {i * (SEGMENTS // (SEGMENTS - ZERO_RECORDS)) for i in range(SEGMENTS - ZERO_RECORDS)}
    lines = []
    address = PROGRAM_BASE
    for index, count in enumerate(sizes):
        records = segment_records(rng, count)
        size = sum(len(r) for r in records)
        if index == SEGMENTS - 1:
            address = BOOT_BASE
        elif (address & 0xFFFF) + size > 0x10000:
            address = (address | 0xFFFF) + 1
        if index not in unpadded:
            lines.append(extended(0x0000))
        lines.append(extended(address >> 16))
        for data in records:
            lines.append(record(0, address & 0xFFFF, data))
            address += len(data)
        address = ((address + 15) & ~15) + 16 * rng.below(4)
        if index < SEGMENTS - 1 and address > PROGRAM_END:
            raise SystemExit("sample layout overflowed program flash")
    lines.append(":00000001FF")
    return lines


def flash_image():
    rng = XorShift(0xF1A5)
    header = b"ZTFS\x02\x01" + FLASH_SIZE.to_bytes(4, "little")
    pages = [b"<html><head><title>ZT Series</title></head><body>",
             b"<div class=\"channel\" id=\"ch%d\">", b"function poll(){fetch('/status.json')}",
             b"</body></html>\r\n"]
    out = bytearray(header)
    while len(out) < FLASH_SIZE:
        if rng.below(3) == 0:
            out += bytes(rng.below(256) for _ in range(48))
        else:
            out += pages[rng.below(len(pages))]
    return bytes(out[:FLASH_SIZE])


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--hex", required=True)
    parser.add_argument("--flash", required=True)
    args = parser.parse_args()
    with open(args.hex, "wb") as f:
        f.write(("\r\n".join(application_lines()) + "\r\n").encode("ascii"))
    with open(args.flash, "wb") as f:
        f.write(flash_image())


if __name__ == "__main__":
    main()
