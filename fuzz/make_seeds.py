#!/usr/bin/python3
"""Writes the small seed corpora under fuzz/corpus/ from real frames and texts of the product.

Run from the repository root with the generated sample image's path:
    fuzz/make_seeds.py build/fuzz/generated/sample_application.hex
"""
import crcmod.predefined
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"
crc16 = crcmod.predefined.mkCrcFun("xmodem")


def frame(message: bytes) -> bytes:
    crc = crc16(message)
    body = message + bytes([crc & 0xFF, crc >> 8])
    out = bytearray([0x01])
    for b in body:
        if b in (0x01, 0x04, 0x10):
            out.append(0x10)
        out.append(b)
    out.append(0x04)
    return bytes(out)


def write(target: str, name: str, data: bytes) -> None:
    folder = ROOT / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def run(data: bytes) -> bytes:
    """One read of a fuzz transport: a length byte, then the bytes."""
    return bytes([len(data)]) + data


version_reply = frame(bytes([0x01, 0x03, 0x01, 0x01]))
plain_version = frame(bytes([0x01, 0x03, 0x00]))
ack = frame(bytes([0x82, 0, 0, 0, 1, 0x01]))
query_reply = frame(bytes([0x89, 0, 0, 0, 1, 0x05, 0x00, 0x02, 0x00]))
identification = frame(b"\x0dZT Unit\r\n00-1E-C0-00-00-01\r\nTavin ZT Series - Bootload\r\n")
frames = {
    "command_01": bytes.fromhex("0110012110100 4".replace(" ", "")),
    "command_89": bytes.fromhex("01890000001001 8D9A04".replace(" ", "")),
    "reply_89": bytes.fromhex("0189000000100105000200180D04"),
    "command_0d": bytes.fromhex("010DADD104"),
    "version_reply": version_reply,
    "ack_sequenced": ack,
    "identification": identification,
}
for name, data in frames.items():
    write("frame_decoder", name, b"\x00" + data)
    write("frame_decoder", name + "_split", b"\x03\x01\x02\x05" + b"noise" + data + data)

# transact: command, attempts, timeout, length/9, 72 payload bytes, sequence choice, then reads
# (a mode byte: odd = a framed reply to the last command with the run's bytes as payload).
head = lambda command, length9=0: bytes([command, 4, 99, length9]) + bytes(72) + b"\x00"
write("transact", "identify_sequenced", head(0x01) + b"\x00" + run(version_reply))
write("transact", "identify_plain", head(0x01) + b"\x00" + run(plain_version))
write("transact", "erase_framed", head(0x82) + b"\x01" + run(b"\x01"))
write("transact", "query_framed", head(0x89) + b"\x01" + run(b"\x05\x00\x02\x00"))
write("transact", "identification", head(0x0D) + b"\x00" + run(identification[:40]) + b"\x00" + run(identification[40:]))
write("transact", "silent_then_close", head(0x04) + b"\x00\x00")
write("transact", "records", head(0x83, 3) + bytes(27) + b"\x00\x01" + run(b"\x01"))

hex_path = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else None
sample = hex_path.read_bytes().splitlines(keepends=True)[:24] if hex_path else []
for target in ("hex_image", "hex_check"):
    write(target, "sample_head", b"".join(sample) + b":00000001FF\r\n")
    write(target, "end_only", b":00000001FF\n")
    write(target, "extended_address", b":020000040000FA\r\n:10000000000102030405060708090A0B0C0D0E0F78\r\n:00000001FF\r\n")
    write(target, "bad_checksum", b":10000000000102030405060708090A0B0C0D0E0F00\n:00000001FF\n")
    write(target, "no_line_end", b":0400000001020304F2\r\n:00000001FF")

resources = ROOT.parent.parent / "resources"
for name in ("unit.properties", "updater.properties"):
    text = (resources / name).read_bytes()
    write("properties", name, text[:4000])
write("properties", "edge_lines", b"key=value\r\n# comment\n  spaced key  =  spaced value \n=empty key\nno equals\nkey=second\n")

reply = b"ZT Unit\r\n00-1E-C0-00-00-01\r\nTavin ZT Series - Bootload\r\n"
write("discovery_reply", "bootload", b"\x00" + reply)
write("discovery_reply", "application", b"\x00" + reply.replace(b"Bootload", b"Application"))
write("discovery_reply", "bare_lf", b"\x00" + reply[:-2] + b"\n")
write("discovery_reply", "identification_prefix", bytes([15 << 2]) + reply)
write("discovery_reply", "custom_prefix", bytes([1 | (5 << 3)]) + b"Tavin" + reply)

# exchange_text: choice (bit 0 serial read time, bit 1 COM, bit 2 unlock), reply size, budget,
# then reads.
write("exchange_text", "query_tcp", b"\x00\x10\x14" + run(b"") + run(b"<sy,bq = ue/>\r\n"))
write("exchange_text", "query_split_com", b"\x03\x10\x14" + run(b"") + run(b"echo<sy,b") + run(b"q = ud/>\r\n"))
write("exchange_text", "too_long", b"\x00\x05\x14" + run(b"") + run(b"<sy,bq = ue/>"))
write("exchange_text", "unlock", b"\x04\x20\x14" + run(b"") + run(b"<sy,bu = ue/>\r\n") + run(b"")
      + run(b"<sy,be = ue/>\r\n") + run(b"") + run(b"<sy,br/>\r\n"))

# units_file: a venue as documented, Notepad's form of it, and lines each reader must refuse.
venue = b"# stage left\n192.0.2.10\n192.0.2.11   # amp B\n\n/dev/ttyUSB0\nCOM3\n"
write("units_file", "venue", venue)
write("units_file", "notepad", b"\xef\xbb\xbf" + venue.replace(b"\n", b"\r\n"))
write("units_file", "old_mac", venue.replace(b"\n", b"\r"))
write("units_file", "odd_names", b"127.79.0.2:6234\nlocalhost\n::1\n-1.2.3.4\n127.0.0.1O\n/dev/tty\xc3\x9cSB0\n"
      b"192.0.2.10/24\n127.79.0.2\x00\n/dev/tty\x1b[2J\n/dev/tty\xc0\xaf\n0.0.0.0\n127.0.0.1\n")
write("units_file", "two_words", b"192.0.2.1 192.0.2.2\n")
write("units_file", "utf16", "192.0.2.10\r\n".encode("utf-16"))

# report: an upgrade's result as it writes it, and shapes a hand-edited one may take.
write("report", "upgrade", b'{\n  "units": [\n    {"target": "192.0.2.10", "result": "upgraded", "step": null,\n'
      b'     "message": "upgraded; the unit runs its application", "seconds": 34.2, "attempts": 1},\n'
      b'    {"target": "/dev/ttyUSB0", "result": "did_not_return", "step": "wait_application"},\n'
      b'    {"target": "192.0.2.12", "result": "pin_refused"}\n  ]\n}\n')
write("report", "wrong_types", b'{"units": [{"target": "192.0.2.5", "result": 3}, {"target": 7}, null, "x"]}')
write("report", "odd_targets", b'{"units": [{"target": "localhost:6234"}, {"target": "\\u001b[2J"},'
      b' {"target": "::1", "result": null}]}')
write("report", "not_a_result", b'[{"units": {}}]')
