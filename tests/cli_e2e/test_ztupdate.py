"""ztupdate end to end: the built program against zt-unit-sim over UDP and a pseudo-terminal.

Every unit listens on a loopback address of its own (127.A.B.x, see next_address), so these tests
never meet another test's simulator on the fixed bootloader and command ports.

With ZTUPDATE_RUNNER=wine, ZTUPDATE is the Windows build: it runs under Wine in a prefix of this
run's own, which maps each simulator's pseudo-terminal to a COM port (serial_port).
"""
import fcntl
import hashlib
import itertools
import json
import os
import pty
import re
import random
import select
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import time
import unittest

import jsonschema

ZTUPDATE = os.environ["ZTUPDATE"]
RUNNER = shlex.split(os.environ.get("ZTUPDATE_RUNNER", ""))
PROGRAM = RUNNER + [ZTUPDATE]
UNDER_WINE = bool(RUNNER) and os.path.basename(RUNNER[0]) == "wine"
SIM = os.environ["ZT_UNIT_SIM"]
SAMPLE_HEX = os.environ["ZT_SAMPLE_HEX"]
SAMPLE_FLASH = os.environ["ZT_SAMPLE_FLASH"]
SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(SOURCE_DIR, "bench"))
from bench_support import write_subset  # noqa: E402
COMMANDS = ["info", "version", "inspect", "ports", "discover", "status", "enter-bootload", "update", "upgrade",
            "exit-bootload", "completion", "help"]

# Loopback subnets 127.A.B.0/24, one a simulator, from a random start: another run of these tests
# (from another build folder) may be using some at the same time.
_SUBNETS = 253 * 254
_subnets = itertools.count(random.randrange(_SUBNETS))

# The engine's worst case for a silent unit: identification, 5 attempts of 1000 ms.
SILENT_UNIT_LIMIT_S = 5 * 1.0 + 3.0


def next_address():
    """The first address of the next subnet whose bootloader port is free."""
    for _ in range(100):
        a, b = divmod(next(_subnets) % _SUBNETS, 254)
        address = "127.%d.%d.1" % (a + 2, b + 1)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
            try:
                probe.bind((address, 6234))
            except OSError:
                continue
        return address
    raise RuntimeError("no free loopback subnet in 100 tries")


class Sim:
    """One zt-unit-sim process; stop() ends it and returns its reports."""

    def __init__(self, bind, *args, units=1, report_dir=None):
        self.report = os.path.join(report_dir, "report.json") if report_dir else None
        argv = [SIM, "--bind", bind, "--no-discovery", "--units", str(units)]
        if "--restart-ms" not in args:
            argv += ["--restart-ms", "200"]
        if self.report:
            argv += ["--report", self.report]
        self.proc = subprocess.Popen(argv + list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.endpoints = {}
        deadline = time.time() + 10
        buffered = b""
        while b"ready\n" not in buffered:
            ready, _, _ = select.select([self.proc.stdout], [], [], max(0.0, deadline - time.time()))
            if not ready:
                raise RuntimeError("simulator did not start: %r" % buffered)
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                raise RuntimeError("simulator ended: %r" % buffered)
            buffered += chunk
        for line in buffered.decode().splitlines():
            words = line.split()
            if len(words) >= 4 and words[0] == "unit":
                self.endpoints[(int(words[1]), words[2])] = words[3]
            elif len(words) == 2:
                self.endpoints[(0, words[0])] = words[1]

    def address(self, unit=0):
        return self.endpoints[(unit, "udp")].split(":")[0]

    def serial(self, unit=0):
        return self.endpoints[(unit, "serial")]

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        status = self.proc.wait(timeout=20)
        self.proc.stdout.close()
        reports = []
        if self.report:
            with open(self.report) as f:
                reports = json.load(f)["units"]
        return status, reports


with open(os.path.join(SOURCE_DIR, "docs", "schema", "ztupdate.schema.json")) as _f:
    SCHEMA = json.load(_f)
# The documents docs/schema describes, by command.
SCHEMA_COMMANDS = ("status", "enter-bootload", "update", "upgrade", "exit-bootload", "discover", "version")


def check_document(args, text):
    """A --json run's standard output is one document that docs/schema describes: its command's,
    or the error document."""
    document = json.loads(text)
    command = next((a for a in args if a in COMMANDS), None)
    name = "error" if "error" in document else command
    if name in SCHEMA_COMMANDS + ("error",):
        jsonschema.Draft202012Validator(dict(SCHEMA, **{"$ref": "#/$defs/" + name})).validate(document)


def ztupdate(*args, env=None, stdin=subprocess.DEVNULL, timeout=120):
    started = time.time()
    full_env = dict(os.environ)
    full_env.pop("ZT_PIN", None)
    full_env.update(env or {})
    done = subprocess.run(PROGRAM + list(args), stdin=stdin, capture_output=True, timeout=timeout, env=full_env)
    out = done.stdout.decode()
    if "--json" in args and "--help" not in args:
        check_document(args, out)
    return done.returncode, out, done.stderr.decode(), time.time() - started


def read_some(controller, proc):
    """What the terminal shows next: bytes (empty while nothing came), None once it has ended."""
    if select.select([controller], [], [], 0.2)[0]:
        try:
            return os.read(controller, 4096) or None
        except OSError:
            return None
    return None if proc.poll() is not None else b""


def ztupdate_on_terminal(*args, answer=None, prompt="[y/N]", timeout=120, before_answer=None, env=None,
                         stdout=None):
    """Runs with standard input and output on a pseudo-terminal, typing `answer` and Enter once
    `prompt` shows and keys reach the program (calling `before_answer` first); returns status
    and output. With a `stdout` file, only standard error is on the terminal."""
    controller, terminal = pty.openpty()
    proc = subprocess.Popen(PROGRAM + list(args), stdin=terminal, stdout=stdout or terminal, stderr=terminal,
                            env=dict(os.environ, **(env or {})))
    os.close(terminal)
    output = b""
    answered = answer is None
    deadline = time.time() + timeout
    while time.time() < deadline:
        chunk = read_some(controller, proc)
        if chunk is None:
            break
        output += chunk
        if not answered and prompt in screen(output.decode(errors="replace")) and keys_reach_program(controller):
            if before_answer:
                before_answer()
            # Enter sends a carriage return; the terminal hands a line end on to a program that
            # reads lines, and Wine's console reads the key itself.
            os.write(controller, answer.encode() + b"\r")
            answered = True
    status = proc.wait(timeout=10)
    os.close(controller)
    return status, output.decode(errors="replace")


def keys_reach_program(controller):
    """Wine's console takes the terminal (line editing off) only when the program first reads
    it: keys typed before then would be echoed by the terminal, and Enter become a line feed."""
    return not UNDER_WINE or not termios.tcgetattr(controller)[3] & termios.ICANON


_CONTROL_SEQUENCE = re.compile(r"\x1b\[([0-9;?]*)([@-~])")
# What screen() shows for an escape that starts no sequence: a terminal would print what follows it.
STRAY_ESCAPE = "\u241b"


def screen(output):
    """The text a terminal shows after `output`, with cursor moves, erases and line ends carried
    out: the program's own redrawn bars, and Wine's console, which redraws every character it
    is given with such sequences."""
    lines = [[]]
    row = column = 0

    def put(character):
        nonlocal column
        line = lines[row]
        line.extend(" " * (column + 1 - len(line)))
        line[column] = character
        column += 1

    position = 0
    while position < len(output):
        character = output[position]
        position += 1
        if character == "\x1b":
            sequence = _CONTROL_SEQUENCE.match(output, position - 1)
            if not sequence:
                put(STRAY_ESCAPE)
                continue
            position = sequence.end()
            parameters, final = sequence.groups()
            count = int(parameters) if parameters.isdigit() else 1
            if final == "A":
                row = max(row - count, 0)
            elif final == "B":
                row += count
            elif final == "C":
                column += count
            elif final == "D":
                column = max(column - count, 0)
            elif final == "K" and parameters in ("", "0"):
                del lines[row][column:]
            elif final == "J" and parameters in ("", "0"):
                del lines[row][column:]
                del lines[row + 1:]
        elif character == "\r":
            column = 0
        elif character == "\n":
            row += 1
        elif character == "\b":
            column = max(column - 1, 0)
        elif character == "\a":
            pass
        else:
            put(character)
        lines.extend([] for _ in range(row + 1 - len(lines)))
    return "\n".join("".join(line).rstrip() for line in lines)


_QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
_wine_prefix = None
# Two-digit numbers, which Windows opens only by their device name (\\.\COM10).
_com_ports = itertools.count(10)


def setUpModule():
    """Under Wine: a fresh prefix whose server and services start here, so that no test's output
    pipe is held open by them; COM1-COM4 lead to a folder, which no port open accepts, so the
    machine's own serial ports stay out of the tests."""
    global _wine_prefix
    if not UNDER_WINE:
        return
    _wine_prefix = tempfile.mkdtemp(prefix="zt-cli-wine-")
    unittest.addModuleCleanup(remove_wine_prefix)
    os.environ.update(WINEPREFIX=_wine_prefix, WINEDEBUG="-all")
    # A server that stays between the tests' program starts saves each start its set-up.
    subprocess.run(["wineserver", "-p"], timeout=30, check=True, **_QUIET)
    subprocess.run(["wineboot", "--init"], timeout=120, check=True, **_QUIET)
    no_port = os.path.join(_wine_prefix, "no-port")
    os.mkdir(no_port)
    for name in ("com1", "com2", "com3", "com4"):
        link = os.path.join(_wine_prefix, "dosdevices", name)
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(no_port, link)


def remove_wine_prefix():
    subprocess.run(["wineserver", "-k"], timeout=30, **_QUIET)
    shutil.rmtree(_wine_prefix, ignore_errors=True)


def serial_port(device):
    """The name the program opens `device` by: the device itself, or under Wine a COM port
    of the prefix linked to it."""
    if not UNDER_WINE:
        return device
    name = "COM%d" % next(_com_ports)
    os.symlink(os.path.realpath(device), os.path.join(_wine_prefix, "dosdevices", name.lower()))
    return name


def program_path(path):
    """`path` as the program is given it: under Wine a Windows path on drive Z:, Wine's root."""
    return "Z:" + path.replace("/", "\\") if UNDER_WINE else path


# ISO 8601 to the millisecond; the offset follows.
ISO_TIME = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}"


def hex_data_digest(path):
    """SHA-256 of an Intel HEX file's data bytes in address order."""
    records, base = [], 0
    with open(path) as f:
        for line in f:
            data = bytes.fromhex(line.strip()[1:])
            kind, offset, payload = data[3], data[1] << 8 | data[2], data[4:4 + data[0]]
            if kind == 0:
                records.append((base + offset, payload))
            elif kind in (2, 4):
                base = int.from_bytes(payload[:2], "big") << (4 if kind == 2 else 16)
    records.sort(key=lambda record: record[0])
    return hashlib.sha256(b"".join(payload for _, payload in records)).hexdigest()


def commands_sent(report):
    return sum(report["commands"].values())


class ScratchTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="zt-cli-")
        self.dir = self.scratch.name
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            if sim.proc.poll() is None:
                sim.proc.kill()
                sim.proc.wait()
                sim.proc.stdout.close()
        self.scratch.cleanup()

    def assert_silent(self, target):
        """update and exit-bootload against a unit that never answers: exit 3 within the time-outs."""
        for command in (["update", "--yes"], ["exit-bootload"]):
            status, out, _, seconds = ztupdate(*target, "--json", *command)
            self.assertEqual(status, 3, command)
            unit = json.loads(out)["units"][0]
            self.assertEqual(unit["result"], "no_response")
            self.assertTrue(unit["message"].startswith("Received no response from unit."))
            self.assertLess(seconds, SILENT_UNIT_LIMIT_S)

    def sim(self, *args, units=1, bind=None):
        sim = Sim(bind or next_address(), *args, units=units, report_dir=tempfile.mkdtemp(dir=self.dir))
        self.sims.append(sim)
        return sim

    def subset(self, data_records=40, flash_bytes=3000, directory=None):
        return write_subset(directory or self.dir, SAMPLE_HEX, SAMPLE_FLASH, data_records, flash_bytes, name="subset")


class HelpAndUsage(unittest.TestCase):
    def test_every_help_names_examples_and_exit_statuses(self):
        for command in ["", "info", "inspect", "ports", "discover", "status", "enter-bootload", "update", "upgrade",
                        "exit-bootload"]:
            status, out, _, _ = ztupdate(*([command] if command else []), "--help")
            self.assertEqual(status, 0, command)
            self.assertIn("Exit status", out, command)
            self.assertIn("ztupdate", out.split("Exit status")[0], command)
        _, out, _, _ = ztupdate("enter-bootload", "--help")
        self.assertIn("ZT_PIN", out)
        self.assertNotIn("--pin ", out)

    def test_usage_errors_exit_2(self):
        cases = [
            [],
            ["frobnicate"],
            ["--parser-port", "1023", "info"],
            ["--parser-port", "65536", "info"],
            ["status"],
            ["--ip", "300.1.2.3", "status"],
            ["--ip", "192.0.2", "status"],
            ["--ip", "127.0.0.1", "status"],
            ["--ip", "192.0.2.1", "enter-bootload", "--pin", "1234"],
            ["--ip", "192.0.2.1", "--jobs", "0", "status"],
            ["--ip", "192.0.2.1", "--failed", "status"],
            ["--units", "/nonexistent/zt-units.txt", "status"],
            ["--ip", "192.0.2.1", "upgrade", "--retry", "11", "--yes"],
            ["--ip", "192.0.2.1", "upgrade", "--no-firmware", "--no-ui", "--yes"],
        ]
        for args in cases:
            self.assertEqual(ztupdate(*args)[0], 2, args)
            # A script that asked for JSON gets a document even then, with the same status.
            status, out, err, _ = ztupdate("--json", *args)
            self.assertEqual(status, 2, args)
            error = json.loads(out)["error"]
            self.assertIn(error["kind"], ("usage", "refused"), args)
            self.assertIn(error["message"], err, args)
        status, out, _, _ = ztupdate("--json", "version")
        self.assertEqual(status, 0)
        self.assertEqual(json.loads(out)["ztupdate_version"], ztupdate("version")[1].split()[1])
        status, _, err, _ = ztupdate()
        self.assertEqual(status, 2)
        self.assertIn("Usage: ztupdate [OPTIONS] COMMAND", err)
        for command in COMMANDS:
            self.assertRegex(err, r"\n  %s +\S" % command, "the short usage lists every command")

    def test_help_command_and_what_a_cancelled_question_gives(self):
        self.assertEqual(ztupdate("help")[:2], ztupdate("--help")[:2])
        status, out, _, _ = ztupdate("help", "upgrade")
        self.assertEqual((status, out), ztupdate("upgrade", "--help")[:2])
        self.assertIn("--pin-file", out)
        status, _, err, _ = ztupdate("help", "updte")
        self.assertEqual(status, 2)
        self.assertIn("did you mean 'update'?", err)
        for command in ("update", "upgrade"):
            self.assertIn("An answer other than yes at the question gives 1", ztupdate(command, "--help")[1])
        with open(os.path.join(SOURCE_DIR, "docs", "command-line.md")) as f:
            self.assertIn("An answer other than yes at the question gives 1", " ".join(f.read().split()))

    def test_pin_must_be_four_digits_and_never_prompted_without_terminal(self):
        for pin in ["123", "12345", "12a4"]:
            self.assertEqual(ztupdate("--ip", "192.0.2.1", "enter-bootload", env={"ZT_PIN": pin})[0], 2, pin)
        status, _, err, _ = ztupdate("--ip", "192.0.2.1", "enter-bootload")
        self.assertEqual(status, 2)
        self.assertIn("ZT_PIN", err)


class OfflineCommands(ScratchTest):
    def test_info_and_ports_json(self):
        status, out, _, _ = ztupdate("--json", "info")
        self.assertEqual(status, 0)
        self.assertEqual(json.loads(out)["model"], "ZT Series")
        status, out, _, _ = ztupdate("--json", "ports")
        self.assertEqual(status, 0)
        self.assertIsInstance(json.loads(out)["ports"], list)

    def test_inspect_embedded_and_files(self):
        status, out, _, _ = ztupdate("--json", "inspect")
        self.assertEqual(status, 0)
        doc = json.loads(out)
        self.assertGreater(doc["application"]["records"], 1000)
        self.assertEqual(doc["application"]["program_requests"], (doc["application"]["records"] + 7) // 8)
        self.assertGreater(doc["estimated_seconds"]["serial_115200"], doc["estimated_seconds"]["udp"])
        subset_hex, flash_path = self.subset(data_records=10, flash_bytes=130)
        # Letters outside any one code page: Windows must take the name as given, not as "OmegaZoe".
        hex_path = os.path.join(self.dir, "ΩmegaΖoë.hex")
        os.rename(subset_hex, hex_path)
        status, out, _, _ = ztupdate("--json", "inspect", "--hex", program_path(hex_path), "--flash",
                                     program_path(flash_path))
        doc = json.loads(out)
        self.assertEqual(doc["application"]["data_records"], 10)
        self.assertEqual(doc["application"]["source"], program_path(hex_path))
        self.assertEqual(doc["flash"]["chunks"], 3)
        status, out, _, _ = ztupdate("inspect", "--hex", program_path(hex_path))
        self.assertEqual(status, 0)
        self.assertIn("115200", out)
        self.assertNotIn("bytes\n    0x", out, "the summary only")
        self.assertNotIn("ranges", json.loads(ztupdate("--json", "inspect")[1])["application"])
        status, out, _, _ = ztupdate("inspect", "--ranges")
        self.assertLess(len(ztupdate("inspect")[1].splitlines()), 20)
        self.assertGreater(len(out.splitlines()), 1000)
        self.assertIn("ranges", json.loads(ztupdate("--json", "inspect", "--ranges")[1])["application"])

    def test_bad_files_name_file_line_and_reason(self):
        good, _ = self.subset(data_records=5)
        with open(good) as f:
            lines = f.read().splitlines()
        bad_checksum = list(lines)
        bad_checksum[2] = bad_checksum[2][:-2] + ("00" if bad_checksum[2][-2:] != "00" else "01")
        cases = {
            "checksum": (bad_checksum, ":3: checksum mismatch"),
            "no_end": (lines[:-1], ": no end-of-file record"),
            "after_end": (lines + [lines[1]], ":%d: data after the end" % (len(lines) + 1)),
            "syntax": (lines[:1] + ["00000001FF"] + lines[1:], ":2: not a record"),
            "type": (lines[:1] + [":00000007F9"] + lines[1:], ":2: unknown record type"),
            "count": (lines[:1] + [":0500000001FA"] + lines[1:], ":2: byte count"),
        }
        for name, (content, expected) in cases.items():
            path = os.path.join(self.dir, name + ".hex")
            with open(path, "w") as f:
                f.write("\n".join(content) + "\n")
            status, _, err, _ = ztupdate("inspect", "--hex", path)
            self.assertEqual(status, 2, name)
            self.assertIn(path + expected, err, name)
        empty = os.path.join(self.dir, "empty.bin")
        open(empty, "wb").close()
        status, _, err, _ = ztupdate("inspect", "--flash", empty)
        self.assertEqual(status, 2)
        self.assertIn("empty", err)
        missing = os.path.join(self.dir, "missing.hex")
        status, _, err, _ = ztupdate("inspect", "--hex", missing)
        self.assertEqual(status, 2)
        self.assertIn(missing + ": cannot be read: No such file or directory", err)

    def test_images_that_cannot_be_sent_are_refused_with_the_reason(self):
        """No data records would erase the unit and write nothing; HEX text is no web content."""
        only_end = os.path.join(self.dir, "only_end.hex")
        with open(only_end, "w") as f:
            f.write(":00000001FF\n")
        status, _, err, _ = ztupdate("inspect", "--hex", only_end)
        self.assertEqual(status, 2)
        self.assertIn(only_end + ": no data records", err)
        status, _, err, _ = ztupdate("inspect", "--flash", SAMPLE_HEX)
        self.assertEqual(status, 2)
        self.assertIn(SAMPLE_HEX + ": Intel HEX text", err)

    def test_fifos_and_devices_are_refused_without_blocking(self):
        fifo = os.path.join(self.dir, "image.fifo")
        os.mkfifo(fifo)
        for args in (["inspect", "--hex", fifo], ["inspect", "--flash", fifo], ["inspect", "--hex", "/dev/zero"],
                     ["--ip", "192.0.2.1", "enter-bootload", "--pin-file", fifo]):
            status, _, err, _ = ztupdate(*args, timeout=10)
            self.assertEqual(status, 2, args)
            self.assertIn(": cannot be read: not a regular file", err, args)
        status, _, err, _ = ztupdate("inspect", "--hex", self.dir, timeout=10)
        self.assertIn(": cannot be read: is a directory", err)
        # Output files: a log is a stream (a device or a read FIFO will do), a report a file.
        sim = self.sim("--start-mode", "bootload")
        ip = ["--ip", sim.address()]
        for args, expected in ((["--log", fifo, "update", "--yes"], "--log %s: cannot be written: a FIFO that no program reads" % fifo),
                               (["upgrade", "--report", fifo, "--yes"], "--report %s: cannot be written: not a regular file" % fifo),
                               (["upgrade", "--report", "/dev/null", "--yes"], "--report /dev/null: cannot be written: not a regular file"),
                               (["--log", self.dir, "update", "--yes"], "--log %s: cannot be written: is a directory" % self.dir)):
            status, _, err, _ = ztupdate(*ip, *args, timeout=10)
            self.assertEqual(status, 2, args)
            self.assertIn(expected, err, args)
        hex_path, flash_path = self.subset(data_records=5, flash_bytes=200)
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        try:
            status, _, err, _ = ztupdate(*ip, "--log", fifo, "update", "--hex", hex_path, "--flash", flash_path, "--yes")
            self.assertEqual(status, 0, err)
            self.assertIn(b"Server UI started", os.read(reader, 65536))
        finally:
            os.close(reader)
        status, _, err, _ = ztupdate(*ip, "--log", "/dev/null", "update", "--hex", hex_path, "--flash", flash_path, "--yes")
        self.assertEqual(status, 0, err)

    def test_build_time_image_check(self):
        checker = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "check_images.py")
        run = lambda *a: subprocess.run([sys.executable, checker] + list(a), capture_output=True, text=True)
        self.assertEqual(run("--hex", SAMPLE_HEX, "--flash", SAMPLE_FLASH).returncode, 0)
        with open(SAMPLE_HEX) as f:
            lines = f.read().splitlines()
        blanks = os.path.join(self.dir, "blanks.hex")
        with open(blanks, "w") as f:
            f.write("\n".join(lines[:5] + [lines[5] + "  "] + lines[6:]) + "\n")
        only_end = os.path.join(self.dir, "only_end.hex")
        with open(only_end, "w") as f:
            f.write(":00000001FF\n")
        empty = os.path.join(self.dir, "empty.bin")
        open(empty, "wb").close()
        for args, expected in (((blanks, SAMPLE_FLASH), blanks + ":6: "), ((only_end, SAMPLE_FLASH), "no data records"),
                               ((SAMPLE_HEX, empty), empty + ": the image is empty"),
                               ((SAMPLE_HEX, SAMPLE_HEX), "Intel HEX text")):
            done = run("--hex", args[0], "--flash", args[1])
            self.assertNotEqual(done.returncode, 0, args)
            self.assertIn(expected, done.stderr, args)


class OneUnitOverUdp(ScratchTest):
    def test_whole_job_with_embedded_images(self):
        sim = self.sim("--check-hex", SAMPLE_HEX, "--check-flash", SAMPLE_FLASH)
        ip = ["--ip", sim.address()]

        status, out, _, _ = ztupdate(*ip, "--json", "status")
        self.assertEqual(status, 0)
        self.assertEqual(json.loads(out)["units"], [
            {"target": sim.address(), "bootloader": None, "application": None, "bootload_mode": "disabled",
             "bootload_mode_from": "command_port"}])

        status, out, _, _ = ztupdate(*ip, "enter-bootload", env={"ZT_PIN": "9999"})
        self.assertEqual(status, 1)
        self.assertIn("Unable to enter Bootload Mode.", out)

        pin_file = os.path.join(self.dir, "pin")
        with open(pin_file, "w") as f:
            f.write("1234\n")
        status, out, _, seconds = ztupdate(*ip, "enter-bootload", "--pin-file", pin_file)
        self.assertEqual(status, 0)
        self.assertIn("Bootload Mode Enabled.", out)
        self.assertIn("The bootloader answers.", out)
        self.assertLess(seconds, 5.0, "the wait ends when the bootloader answers, before the dialog's 5 s")

        status, out, _, _ = ztupdate(*ip, "--json", "status")
        self.assertEqual(json.loads(out)["units"][0],
                         {"target": sim.address(), "bootloader": "3.1", "application": "1.0", "bootload_mode": "enabled",
                          "bootload_mode_from": "bootloader"})

        status, out, _, _ = ztupdate(*ip, "update")
        self.assertEqual(status, 2, "refuses without --yes when standard input is not a terminal")

        status, out, err, _ = ztupdate(*ip, "--json", "update", "--yes")
        self.assertEqual(status, 0, err)
        unit = json.loads(out)["units"][0]
        self.assertEqual((unit["target"], unit["result"], unit["message"]),
                         (sim.address(), "updated", "The firmware updated successfully."))
        self.assertGreater(unit["seconds"], 0)

        status, out, _, _ = ztupdate(*ip, "--json", "exit-bootload")
        self.assertEqual(status, 0)
        self.assertEqual(json.loads(out)["units"][0]["result"], "exited")
        self.assertEqual(json.loads(out)["units"][0]["message"], "Bootload mode exited.")

        sim_status, reports = sim.stop()
        self.assertEqual(sim_status, 0, "the simulator's memory matches the images")
        self.assertTrue(reports[0]["check"]["application"]["matches"])
        self.assertTrue(reports[0]["check"]["flash"]["matches"])
        self.assertEqual(reports[0]["command_port"]["wrong_pins"], 1)

    def test_plain_progress_lines_when_not_a_terminal(self):
        hex_path, flash_path = self.subset()
        sim = self.sim("--start-mode", "bootload")
        status, out, _, _ = ztupdate("--ip", sim.address(), "update", "--hex", hex_path, "--flash", flash_path, "--yes")
        self.assertEqual(status, 0)
        self.assertIn("Server Application", out)
        self.assertIn("100%", out)
        self.assertNotIn("\x1b[", out)
        self.assertIn("The firmware updated successfully.", out)

    def test_bars_and_confirmation_on_a_terminal(self):
        hex_path, flash_path = self.subset(data_records=200)
        # Slow enough for a redraw during a stage: finished rows show only their result.
        sim = self.sim("--start-mode", "bootload", "--program-delay-ms", "2")
        args = ["--ip", sim.address(), "update", "--hex", program_path(hex_path), "--flash", program_path(flash_path)]
        status, out = ztupdate_on_terminal(*args, answer="n")
        self.assertEqual(status, 1)
        self.assertIn("Only perform an update", screen(out))
        status, out = ztupdate_on_terminal(*args, answer="y")
        self.assertEqual(status, 0)
        shown = screen(out)
        self.assertNotIn(STRAY_ESCAPE, shown, "the terminal took every sequence the program wrote")
        self.assertNotRegex(shown, r"\[[0-9]*[AK]", "no sequence shows as text")
        # Wine's console writes plain progress lines, a sequence between characters.
        self.assertIn("Server UI", shown if UNDER_WINE else out)
        self.assertIn("100%", shown)
        self.assertIn("The firmware updated successfully.", shown)
        # Wine's console accepts the mode for such sequences but prints them, so the program
        # writes plain lines there.
        if not UNDER_WINE:
            self.assertIn("\x1b[", out)
            self.assertIn("[#", shown)
            self.assertIn("left", out)
        _, reports = sim.stop()
        self.assertEqual(reports[0]["commands"]["close"], 1, "only the confirmed run reached the unit")

    def test_bad_hex_file_sends_nothing(self):
        hex_path, flash_path = self.subset(data_records=5)
        with open(hex_path) as f:
            lines = f.read().splitlines()
        lines[3] = lines[3][:-1] + ("0" if lines[3][-1] != "0" else "1")
        with open(hex_path, "w") as f:
            f.write("\n".join(lines) + "\n")
        sim = self.sim("--start-mode", "bootload")
        status, out, err, _ = ztupdate("--ip", sim.address(), "--json", "update", "--hex", hex_path,
                                       "--flash", flash_path, "--yes")
        self.assertEqual(status, 2)
        self.assertEqual(json.loads(out)["error"]["kind"], "refused")
        self.assertIn(hex_path + ":4: checksum mismatch", json.loads(out)["error"]["message"])
        self.assertIn(hex_path + ":4: checksum mismatch", err)
        _, reports = sim.stop()
        self.assertEqual(commands_sent(reports[0]), 0)
        self.assertEqual(reports[0]["link"]["frames_received"], 0)

    def test_nothing_is_sent_for_a_unit_named_twice_or_an_empty_image(self):
        sim = self.sim("--start-mode", "bootload")
        address = sim.address()
        octets = address.split(".")
        padded = ".".join(octets[:3] + ["0" + octets[3]])
        only_end = os.path.join(self.dir, "only_end.hex")
        with open(only_end, "w") as f:
            f.write(":00000001FF\n")
        cases = [
            (["--ip", address, "--ip", address, "update", "--yes"], "names the same unit as"),
            (["--ip", address, "--ip", padded, "update", "--yes"], padded + " names the same unit as " + address),
            (["--ip", address, "update", "--hex", only_end, "--yes"], only_end + ": no data records"),
            (["--ip", address, "update", "--no-firmware", "--no-ui", "--yes"], "nothing to update"),
            (["--ip", "0.0.0.0", "update", "--yes"], "cannot reach a unit"),
            (["--ip", "255.255.255.255", "update", "--yes"], "cannot reach a unit"),
        ]
        for args, expected in cases:
            status, out, err, _ = ztupdate(*args)
            self.assertEqual(status, 2, args)
            self.assertIn(expected, err, args)
        _, reports = sim.stop()
        self.assertEqual(reports[0]["link"]["frames_received"], 0)

    def test_files_are_read_once_before_the_prompt(self):
        """A file replaced while the prompt waits does not reach the unit: the checked bytes do."""
        hex_path, flash_path = self.subset(data_records=30, flash_bytes=2000)
        checked_hex = os.path.join(self.dir, "checked.hex")
        checked_flash = os.path.join(self.dir, "checked.bin")
        shutil.copy(hex_path, checked_hex)
        shutil.copy(flash_path, checked_flash)
        sim = self.sim("--start-mode", "bootload", "--check-hex", checked_hex, "--check-flash", checked_flash)

        def replace_files():
            other_hex, other_flash = self.subset(10, 500, directory=tempfile.mkdtemp(dir=self.dir))
            os.replace(other_hex, hex_path)
            os.replace(other_flash, flash_path)

        status, out = ztupdate_on_terminal("--ip", sim.address(), "update", "--hex", hex_path, "--flash", flash_path,
                                           answer="y", before_answer=replace_files)
        self.assertEqual(status, 0, out)
        sim_status, reports = sim.stop()
        self.assertTrue(reports[0]["check"]["application"]["matches"])
        self.assertTrue(reports[0]["check"]["flash"]["matches"])

    def test_silent_unit_gives_3_within_the_engine_time_outs(self):
        sim = self.sim("--start-mode", "bootload", "--silent-bootloader", "--no-tcp")
        ip = ["--ip", sim.address()]
        self.assert_silent(ip)
        status, out, _, _ = ztupdate(*ip, "--json", "status")
        self.assertEqual(status, 3)
        self.assertEqual(json.loads(out)["units"][0]["bootload_mode"], None)
        self.assertEqual(ztupdate(*ip, "enter-bootload", env={"ZT_PIN": "1234"})[0], 3)

    def test_wrong_bootloader_version(self):
        sim = self.sim("--start-mode", "bootload", "--wrong-version")
        status, out, _, _ = ztupdate("--ip", sim.address(), "--json", "update", "--yes")
        self.assertEqual(status, 1)
        unit = json.loads(out)["units"][0]
        self.assertEqual(unit["result"], "wrong_response")
        self.assertTrue(unit["message"].startswith("Received incorrect response from unit."))

    def test_parser_port_reaches_the_command_port(self):
        sim = self.sim("--tcp-port", "5077")
        ip = ["--ip", sim.address()]
        self.assertEqual(json.loads(ztupdate(*ip, "--json", "status")[1])["units"][0]["bootload_mode"], None)
        status, out, _, _ = ztupdate(*ip, "--parser-port", "5077", "--json", "status")
        self.assertEqual(status, 0)
        self.assertEqual(json.loads(out)["units"][0]["bootload_mode"], "disabled")
        # exit-bootload asks the command port too, when the bootloader is silent.
        status, out, _, _ = ztupdate(*ip, "--parser-port", "5077", "--json", "exit-bootload")
        self.assertEqual(status, 0)
        self.assertEqual(json.loads(out)["units"][0]["result"], "nothing_to_leave")


class SeveralUnits(ScratchTest):
    def test_four_units_at_once_end_with_identical_memories(self):
        hex_path, flash_path = self.subset(data_records=60, flash_bytes=5000)
        sim = self.sim("--start-mode", "bootload", "--check-hex", hex_path, "--check-flash", flash_path, units=4)
        ips = []
        for i in range(4):
            ips += ["--ip", sim.address(i)]
        status, out, err, _ = ztupdate(*ips, "--json", "update", "--hex", hex_path, "--flash", flash_path, "--yes")
        self.assertEqual(status, 0, err)
        units = json.loads(out)["units"]
        self.assertEqual([u["target"] for u in units], [sim.address(i) for i in range(4)])
        self.assertEqual({u["result"] for u in units}, {"updated"})
        sim_status, reports = sim.stop()
        self.assertEqual(sim_status, 0)
        self.assertEqual(len({r["application_hex_sha256"] for r in reports}), 1)
        self.assertEqual(len({r["flash_sha256"] for r in reports}), 1)
        self.assertTrue(all(r["check"]["application"]["matches"] and r["check"]["flash"]["matches"] for r in reports))

    def test_one_failure_does_not_stop_the_others_and_the_worst_status_wins(self):
        hex_path, flash_path = self.subset()
        good = self.sim("--start-mode", "bootload", "--check-hex", hex_path, "--check-flash", flash_path)
        failing = self.sim("--start-mode", "bootload", "--vanish-after", "6")
        silent = self.sim("--start-mode", "bootload", "--silent-bootloader")
        args = ["--ip", good.address(), "--ip", failing.address(), "--ip", silent.address()]
        status, out, _, _ = ztupdate(*args, "update", "--hex", hex_path, "--flash", flash_path, "--yes")
        self.assertEqual(status, 3)
        table = out[out.index("unit "):]
        self.assertRegex(table, good.address() + r"\s+updated")
        self.assertRegex(table, failing.address() + r"\s+failed")
        self.assertRegex(table, silent.address() + r"\s+no_response")
        self.assertEqual(good.stop()[0], 0)

        failing2 = self.sim("--start-mode", "bootload", "--vanish-after", "6")
        good2 = self.sim("--start-mode", "bootload")
        status, out, _, _ = ztupdate("--ip", good2.address(), "--ip", failing2.address(), "--json", "update",
                                     "--hex", hex_path, "--flash", flash_path, "--yes")
        self.assertEqual(status, 1)
        self.assertEqual([u["result"] for u in json.loads(out)["units"]], ["updated", "failed"])
        self.assertEqual(json.loads(out)["units"][1]["message"], "The firmware update could not complete.")


    def test_units_whose_firmware_is_not_older_are_left_as_they_are(self):
        hex_path, flash_path = self.subset(data_records=5, flash_bytes=200)
        older = self.sim("--start-mode", "bootload")
        current = self.sim("--start-mode", "bootload", "--app-version", "1.12")
        newer = self.sim("--start-mode", "bootload", "--app-version", "1.13")
        args = ["--ip", older.address(), "--ip", current.address(), "--ip", newer.address(), "update", "--hex",
                program_path(hex_path), "--flash", program_path(flash_path)]
        status, out = ztupdate_on_terminal(*args, answer="n")
        self.assertEqual(status, 1)
        shown = screen(out)
        for line in ("%s: application 1.0 found, 1.12 to be written" % older.address(),
                     "%s: application 1.12 found, the same as the carried 1.12: skipped" % current.address(),
                     "%s: application 1.13 found, newer than the carried 1.12: skipped" % newer.address(),
                     "2 units will be skipped.\nUpdate 1 unit now? [y/N]"):
            self.assertIn(line, shown)
        status, out, err, _ = ztupdate("--json", *args, "--yes")
        self.assertEqual(status, 0, err)
        self.assertEqual([(u["result"], u["version_before"], u["version_after"]) for u in json.loads(out)["units"]],
                         [("updated", "1.0", "1.12"), ("already_current", "1.12", "1.12"),
                          ("newer_on_unit", "1.13", "1.13")])
        self.assertEqual(json.loads(out)["units"][2]["message"],
                         "the unit runs application 1.13, newer than the carried 1.12: nothing was written "
                         "(--allow-older writes the older one); the unit stays in bootload mode")
        status, out, err, _ = ztupdate("--ip", current.address(), "--ip", newer.address(), "--json", *args[6:],
                                       "--allow-reinstall", "--yes")
        self.assertEqual([u["result"] for u in json.loads(out)["units"]], ["updated", "newer_on_unit"])
        status, out, err, _ = ztupdate("--ip", newer.address(), "--json", *args[6:], "--allow-older", "--yes")
        self.assertEqual((status, json.loads(out)["units"][0]["result"]), (0, "updated"))
        for sim, erases in ((older, 1), (current, 1), (newer, 1)):
            _, reports = sim.stop()
            self.assertEqual(reports[0]["commands"].get("application_erase", 0), erases)
        # A lost reply to the version check's identification is asked again, not taken for a unit
        # with no version: the newer firmware stays.
        lossy = self.sim("--start-mode", "bootload", "--app-version", "1.13", "--lose-reply", "0x01:1")
        status, out, err, _ = ztupdate("--ip", lossy.address(), "--json", *args[6:], "--yes")
        self.assertEqual((status, json.loads(out)["units"][0]["result"]), (0, "newer_on_unit"), err)


class Fleets(ScratchTest):
    """upgrade on several units named by a units file: from the application to the application."""

    def units_file(self, lines):
        path = os.path.join(self.dir, "venue.txt")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        return path

    def test_status_of_units_in_their_application_needs_no_bootloader_time_out(self):
        sim = self.sim(units=4)
        units = self.units_file([sim.address(i) for i in range(4)])
        status, out, err, seconds = ztupdate("--units", units, "--json", "status")
        self.assertEqual(status, 0, err)
        self.assertEqual([u["bootload_mode"] for u in json.loads(out)["units"]], ["disabled"] * 4)
        self.assertLess(seconds, 1.0)
        sim_b = self.sim("--start-mode", "bootload", units=2)
        status, out, err, _ = ztupdate("--ip", sim_b.address(0), "--ip", sim_b.address(1), "--json", "status")
        self.assertEqual([u["bootloader"] for u in json.loads(out)["units"]], ["3.1"] * 2, "the bootloader wins")

    def test_a_units_file_naming_a_unit_twice_sends_nothing(self):
        sim = self.sim()
        units = self.units_file(["# stage left", sim.address(), "", sim.address() + "   # again"])
        status, _, err, _ = ztupdate("--units", units, "upgrade", "--yes", env={"ZT_PIN": "1234"})
        self.assertEqual(status, 2)
        self.assertIn("%s (%s:4) names the same unit as %s (%s:2)" % (sim.address(), units, sim.address(), units), err)
        _, reports = sim.stop()
        self.assertEqual(commands_sent(reports[0]), 0)
        self.assertEqual(reports[0]["command_port"]["commands"], 0)

    def test_three_units_in_their_application_upgraded_and_back_in_it(self):
        hex_path, flash_path = self.subset(data_records=60, flash_bytes=5000)
        sim = self.sim("--check-hex", hex_path, "--check-flash", flash_path, units=3)
        units = self.units_file(["# rack 1", "", sim.address(0) + "  # amp A", "   ", sim.address(1),
                                 "# rack 2", sim.address(2)])
        report = os.path.join(self.dir, "venue.json")
        log = os.path.join(self.dir, "venue.log")
        args = ["--units", units, "--json", "--log", log, "upgrade", "--hex", hex_path, "--flash", flash_path,
                "--report", report, "--yes"]
        status, out, err, _ = ztupdate(*args, env={"ZT_PIN": "1234", "TZ": "ZTT-05:30"})
        self.assertEqual(status, 0, err)
        self.assertNotIn("1234", out)
        document = json.loads(out)
        with open(report) as f:
            self.assertEqual(json.load(f), document)
        # A record an installer can hand over: when, with what, and each unit's times.
        run = document["run"]
        self.assertRegex(run["started"], "^" + ISO_TIME + r"\+05:30$")
        self.assertEqual("ztupdate " + run["ztupdate_version"], ztupdate("version")[1].splitlines()[0])
        self.assertEqual(run["command_line"], "ztupdate " + " ".join(args))
        with open(flash_path, "rb") as f:
            flash_digest = hashlib.sha256(f.read()).hexdigest()
        self.assertEqual(run["firmware"], {"application_version": "1.12", "hex_file": hex_path,
                                           "hex_data_sha256": hex_data_digest(hex_path), "flash_file": flash_path,
                                           "flash_sha256": flash_digest})
        with open(log) as f:
            header = f.read().splitlines()[:3]
        self.assertRegex(header[0], r"run: started %s\+05:30 by ztupdate %s$" % (ISO_TIME, run["ztupdate_version"]))
        self.assertTrue(header[1].endswith("run: command line: " + run["command_line"]), header)
        self.assertTrue(header[2].endswith("run: 3 targets: " + ", ".join(sim.address(i) for i in range(3))), header)
        for i, unit in enumerate(document["units"]):
            self.assertRegex(unit["started_at"], "^" + ISO_TIME + r"\+05:30$")
            self.assertLessEqual(run["started"], unit["started_at"])
            self.assertLess(unit["started_at"], unit["ended_at"])
            self.assertEqual(unit["target"], sim.address(i))
            self.assertEqual((unit["result"], unit["step"]), ("upgraded", None))
            self.assertEqual((unit["version_before"], unit["version_after"]), ("1.0", "1.12"))
            self.assertGreater(unit["requests"], 0)
        # Run again, the units are current: each is looked at in bootload mode and put back.
        status, out, err, seconds = ztupdate("--units", units, "--json", "upgrade", "--hex", hex_path, "--flash",
                                             flash_path, "--yes", env={"ZT_PIN": "1234"})
        self.assertEqual(status, 0, err)
        self.assertLess(seconds, 10)
        for unit in json.loads(out)["units"]:
            self.assertEqual((unit["result"], unit["step"]), ("already_current", None))
            self.assertEqual((unit["version_before"], unit["version_after"]), ("1.12", "1.12"))
            self.assertTrue(unit["message"].endswith("nothing was written (--allow-reinstall writes it again); it "
                                                     "left bootload mode again and runs its application"),
                            unit["message"])
        # Back in its application, the unit's command port may still report bootload enabled.
        status, out, _, _ = ztupdate("--ip", sim.address(0), "status")
        self.assertEqual(status, 0)
        self.assertIn("Running:        its application (its command port answers, its bootloader does not)", out)
        self.assertIn("Bootload mode:  the command port reports bootload enabled\n", out)
        self.assertNotIn("entered", out)
        sim_status, reports = sim.stop()
        self.assertEqual(sim_status, 0)
        for r in reports:
            self.assertTrue(r["check"]["application"]["matches"] and r["check"]["flash"]["matches"])
            self.assertTrue(r["version_written"] and r["leave_received"])
            self.assertEqual(r["application_version"], {"major": 1, "minor": 12})
            self.assertEqual(r["mode"], "application")
            self.assertEqual((r["commands"]["application_erase"], r["commands"]["image_erase"]), (1, 1),
                             "only the first run erased")
            self.assertEqual(r["flash_sha256"], flash_digest)
        status, out, err, _ = ztupdate("--units-from", report, "--failed", "status")
        self.assertEqual((status, out), (0, "no unit failed in %s; nothing to do\n" % report), err)
        status, out, err, _ = ztupdate("--units-from", report, "--failed", "--json", "upgrade", "--yes")
        self.assertEqual((status, json.loads(out)), (0, {"units": []}), err)

    def test_the_documented_scripts_run_on_a_commented_units_file(self):
        with open(os.path.join(SOURCE_DIR, "docs", "command-line.md")) as f:
            scripts = re.findall(r"```sh\n(#!/bin/sh\n.*?)```", f.read(), re.S)
        self.assertTrue(scripts)
        waiting = self.sim("--start-mode", "bootload")
        running = self.sim()
        self.units_file(["# rack 1", waiting.address() + "  # amp A", "", "# rack 2", running.address()])
        tools = os.path.join(self.dir, "bin")
        os.mkdir(tools)
        os.symlink(ZTUPDATE, os.path.join(tools, "ztupdate"))
        env = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"])
        for script in scripts:
            shutil.copy(os.path.join(self.dir, "venue.txt"), os.path.join(self.dir, "units.txt"))
            done = subprocess.run(["sh", "-c", script], cwd=self.dir, env=env, capture_output=True, timeout=120)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stdout, b"", "no unit failed")
            with open(os.path.join(self.dir, "results.json")) as f:
                self.assertEqual([(u["target"], u["result"]) for u in json.load(f)["units"]],
                                 [(waiting.address(), "updated")])

    def test_a_refused_pin_and_a_unit_that_never_comes_back_are_named(self):
        hex_path, flash_path = self.subset()
        good = self.sim("--check-hex", hex_path, "--check-flash", flash_path)
        wrong_pin = self.sim("--pin", "9999")
        # It starts in bootload mode and has no command port: once it leaves, nothing answers.
        gone = self.sim("--start-mode", "bootload", "--no-tcp", "--no-serial")
        units = self.units_file([wrong_pin.address(), gone.address(), good.address()])
        report = os.path.join(self.dir, "venue.json")
        status, out, _, _ = ztupdate("--units", units, "upgrade", "--hex", hex_path, "--flash", flash_path,
                                     "--restart-seconds", "2", "--report", report, "--yes", env={"ZT_PIN": "1234"})
        self.assertEqual(status, 3, out)
        self.assertIn(wrong_pin.address() + ": pin_refused at enter_bootload:", out)
        self.assertIn(gone.address() + ": did_not_return at wait_application: the unit left bootload mode", out)
        self.assertIn(good.address() + ": upgraded; the unit runs its application, application 1.0 -> 1.12", out)
        with open(report) as f:
            units_reported = json.load(f)["units"]
        results = {u["target"]: (u["result"], u["step"]) for u in units_reported}
        self.assertEqual(len({tuple(sorted(u)) for u in units_reported}), 1, "every unit has every key")
        self.assertEqual(units_reported[0]["requests"], None, "the refused unit's engine never ran")
        self.assertEqual(results, {wrong_pin.address(): ("pin_refused", "enter_bootload"),
                                   gone.address(): ("did_not_return", "wait_application"),
                                   good.address(): ("upgraded", None)})
        self.assertEqual(good.stop()[0], 0)
        _, reports = wrong_pin.stop()
        self.assertEqual((reports[0]["command_port"]["wrong_pins"], commands_sent(reports[0])), (1, 0))
        _, reports = gone.stop()
        self.assertTrue(reports[0]["leave_received"])
        status, out, _, _ = ztupdate("--units-from", report, "--failed", "--json", "status")
        self.assertEqual([u["target"] for u in json.loads(out)["units"]], [wrong_pin.address(), gone.address()])

    def test_units_that_cannot_be_upgraded_are_said_to_be_where_they_are(self):
        unsupported = self.sim("--bootloader-version", "3.3")
        stays = self.sim("--restart-into-application")
        quiet = self.sim("--silent-bootloader")
        found_unsupported = self.sim("--start-mode", "bootload", "--bootloader-version", "3.3")
        units = self.units_file([unsupported.address(), stays.address(), quiet.address(), found_unsupported.address()])
        status, out, err, _ = ztupdate("--units", units, "--json", "upgrade", "--restart-seconds", "2", "--yes",
                                       env={"ZT_PIN": "1234"})
        self.assertEqual(status, 3, err)
        results = {u["target"]: u for u in json.loads(out)["units"]}
        unit = results[unsupported.address()]
        self.assertEqual((unit["result"], unit["step"], unit["bootloader"]), ("wrong_response", "update", "3.3"))
        self.assertEqual(unit["message"], "Received incorrect response from unit. Nothing was written; it left "
                                          "bootload mode again and runs its application")
        self.assertEqual(results[found_unsupported.address()]["message"], "Received incorrect response from unit. "
                         "Nothing was written; the unit stays in bootload mode")
        unit = results[stays.address()]
        self.assertEqual((unit["result"], unit["step"]), ("bootloader_silent", "wait_bootloader"))
        self.assertRegex(unit["message"], r"^the unit did not restart into bootload mode: the bootloader did not "
                                          r"answer within 2\.\d s and its command port answers, so it still runs "
                                          r"its application$")
        unit = results[quiet.address()]
        self.assertEqual((unit["result"], unit["step"]), ("bootloader_silent", "wait_bootloader"))
        self.assertRegex(unit["message"], r"^the unit was told to restart into bootload mode, but the bootloader did "
                                          r"not answer within 2\.\d s and its command port is silent too$")
        for sim, mode, left in ((unsupported, "application", True), (stays, "application", False),
                                (quiet, "bootload", False), (found_unsupported, "bootload", False)):
            _, reports = sim.stop()
            self.assertEqual((reports[0]["mode"], reports[0]["leave_received"]), (mode, left))

    def test_a_retried_unit_keeps_every_attempt_and_names_the_first_cause(self):
        # It restarts too slowly for the wait, and is still restarting when tried again.
        slow = self.sim("--restart-ms", "30000")
        report = os.path.join(self.dir, "venue.json")
        status, out, err, _ = ztupdate("--ip", slow.address(), "upgrade", "--restart-seconds", "1", "--retry", "1",
                                       "--report", report, "--yes", env={"ZT_PIN": "1234"})
        self.assertEqual(status, 3, err)
        self.assertIn(slow.address() + ": no_response at status: Received no response from unit.", out)
        self.assertRegex(out, r"\n    attempt 1 of 2: bootloader_silent at wait_bootloader: the unit was told to "
                         r"restart into bootload mode, but the bootloader did not answer within 1\.\d s")
        with open(report) as f:
            unit = json.load(f)["units"][0]
        self.assertEqual([(a["step"], a["result"]) for a in unit["attempts"]],
                         [("wait_bootloader", "bootloader_silent"), ("status", "no_response")])
        self.assertEqual(unit["attempts"][-1]["message"], unit["message"])

    def test_a_serial_restart_wait_ends_at_its_time(self):
        hex_path, _ = self.subset(data_records=5)
        # Told to leave, it takes longer to restart than the wait allows.
        sim = self.sim("--start-mode", "bootload", "--no-tcp", "--restart-ms", "30000")
        status, out, err, _ = ztupdate("--serial", sim.serial(), "--json", "upgrade", "--hex", hex_path, "--no-ui",
                                       "--restart-seconds", "2", "--yes")
        self.assertEqual(status, 3, err)
        unit = json.loads(out)["units"][0]
        self.assertEqual((unit["result"], unit["step"]), ("did_not_return", "wait_application"))
        within = re.search(r"did not answer within (\d+\.\d) s", unit["message"])
        self.assertIsNotNone(within, unit["message"])
        waited = float(within.group(1))
        self.assertGreaterEqual(waited, 2.0)
        self.assertLess(waited, 3.0)
        self.assertLess(unit["seconds"], waited + 2.5, "the update and the leave take well under 2.5 s")

    def test_fast_resend_over_a_lossy_link_keeps_the_memory_identical(self):
        hex_path, flash_path = self.subset(data_records=80, flash_bytes=6000)
        sim = self.sim("--start-mode", "bootload", "--drop-in", "10", "--drop-out", "10", "--seed", "5",
                       "--check-hex", hex_path, "--check-flash", flash_path)
        status, out, err, _ = ztupdate("--ip", sim.address(), "--json", "update", "--hex", hex_path, "--flash",
                                       flash_path, "--fast-resend", "--yes")
        self.assertEqual(status, 0, err)
        self.assertGreater(json.loads(out)["units"][0]["resends"], 0)
        sim_status, reports = sim.stop()
        self.assertEqual(sim_status, 0)
        self.assertEqual(reports[0]["anomaly_count"], 0)

    def test_jobs_keeps_at_most_that_many_units_in_flight(self):
        hex_path, _ = self.subset(data_records=200)
        sim = self.sim("--start-mode", "bootload", "--no-tcp", "--no-serial", "--check-hex", hex_path,
                       "--program-delay-ms", "2", units=5)
        units = self.units_file([sim.address(i) for i in range(5)])
        status, out, err, _ = ztupdate("--units", units, "--jobs", "2", "--json", "upgrade", "--hex", hex_path,
                                       "--no-ui", "--stay-in-bootload", "--yes")
        self.assertEqual(status, 0, err)
        spans = [(u["started"], u["ended"]) for u in json.loads(out)["units"]]
        in_flight = [sum(1 for s, e in spans if s <= moment < e) for moment, _ in spans]
        self.assertEqual(max(in_flight), 2, spans)
        first_end = min(e for _, e in spans[:2])
        self.assertTrue(all(s >= first_end for s, _ in spans[2:]), spans)
        sim_status, reports = sim.stop()
        self.assertEqual(sim_status, 0)
        self.assertEqual({r["mode"] for r in reports}, {"bootload"})


def start_update(*args):
    """ztupdate update with standard output on a pipe, read line by line as it comes. Unbuffered, so
    that no line read_until waits for sits in a buffer that select cannot see."""
    full_env = dict(os.environ)
    full_env.pop("ZT_PIN", None)
    return subprocess.Popen(PROGRAM + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=full_env, bufsize=0)


def read_until(proc, needle, timeout=60):
    """Lines of standard output up to and including the first holding `needle`."""
    lines = []
    deadline = time.time() + timeout
    while time.time() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], max(0.0, deadline - time.time()))
        if not ready:
            break
        line = proc.stdout.readline().decode()
        if not line:
            break
        lines.append(line)
        if needle in line:
            return lines
    raise AssertionError("%r never came: %r" % (needle, lines))


class Typing(ScratchTest):
    """Options anywhere, versions, mistyped commands, completion and the man page."""

    def test_options_after_the_command_version_and_nearest_command(self):
        sim = self.sim()
        status, out, err, _ = ztupdate("status", "--ip", sim.address(), "--json")
        self.assertEqual(status, 0, err)
        self.assertEqual(json.loads(out)["units"][0]["bootload_mode"], "disabled")
        for args in (["--version"], ["version"]):
            status, out, _, _ = ztupdate(*args)
            self.assertEqual(status, 0, args)
            self.assertRegex(out, r"^ztupdate \d+\.\d+\.\d+\n")
            self.assertIn("Application firmware: V", out)
        self.assertEqual(ztupdate("-V")[:2], ztupdate("--version")[:2])
        for args, expected in (
                (["--ip", "192.0.2.1", "ststus"], "'ststus' is not a command; did you mean 'status'?"),
                (["--ip", "192.0.2.1", "--pin-file", "pin", "enter-bootload"],
                 "--pin-file belongs to enter-bootload and upgrade: put it after the command"),
                (["--ip", "192.0.2.1", "--yes", "update"], "--yes belongs to update and upgrade: put it after the command"),
                (["--ip", "192.0.2.1", "-y", "update"], "-y belongs to update and upgrade: put it after the command"),
                (["--pi", "192.0.2.1", "status"], "'--pi' is not an option; did you mean '--ip'?"),
                (["--ip", "192.0.2.1", "--jsn", "status"], "'--jsn' is not an option; did you mean '--json'?"),
                (["--ip", "192.0.2.1", "update", "--hx", "a.hex"],
                 "'--hx' is not an option of update; did you mean '--hex'?")):
            status, out, err, _ = ztupdate(*args)
            self.assertEqual((status, out), (2, ""), args)
            self.assertIn(expected, err, args)
        status, out, _, _ = ztupdate("status", "--help")
        self.assertIn("Global options (before or after the command)", out)
        self.assertIn("--ip ADDRESS", out)

    def test_completion_is_the_packaged_one_and_names_every_option(self):
        help_options = set()
        for command in [""] + COMMANDS:
            _, out, _, _ = ztupdate(*([command] if command else []), "--help")
            help_options |= set(re.findall(r"(?<![\w-])--[a-z][a-z-]+", out.split("Exit status")[0]))
        for shell, packaged in (("bash", "ztupdate.bash-completion"), ("zsh", "ztupdate.zsh-completion"),
                                ("fish", "ztupdate.fish")):
            status, script, _, _ = ztupdate("completion", shell)
            self.assertEqual(status, 0, shell)
            with open(os.path.join(SOURCE_DIR, "packaging", "linux", packaged)) as f:
                self.assertEqual(f.read(), script, "regenerate packaging/linux/%s with ztupdate completion %s"
                                 % (packaged, shell))
            names = set(re.findall(r"--[a-z][a-z-]+", script)) | {"--" + n for n in re.findall(r" -l ([a-z-]+)", script)}
            self.assertLessEqual(help_options - {"--help"}, names, shell)

    def test_man_page_lists_the_options_of_help(self):
        with open(os.path.join(SOURCE_DIR, "docs", "man", "ztupdate.1")) as f:
            page = re.sub(r"\\f[BIRP]", "", f.read().replace("\\-", "-"))
        page_options = set(re.findall(r"(?<![\w-])--[a-z][a-z-]+", page))
        help_options = set()
        for command in [""] + COMMANDS:
            _, out, _, _ = ztupdate(*([command] if command else []), "--help")
            help_options |= set(re.findall(r"(?<![\w-])--[a-z][a-z-]+", out.split("Exit status")[0]))
        self.assertEqual(help_options, page_options)
        for command in COMMANDS:
            self.assertIn(".B " + command.replace("-", "\\-"), open(os.path.join(SOURCE_DIR, "docs", "man", "ztupdate.1")).read())

    def test_yes_in_any_case_confirms(self):
        hex_path, flash_path = self.subset(data_records=5, flash_bytes=200)
        sim = self.sim("--start-mode", "bootload")
        status, out = ztupdate_on_terminal("--ip", sim.address(), "update", "--hex", hex_path, "--flash", flash_path,
                                           answer="YES")
        self.assertEqual(status, 0, out)


@unittest.skipIf(UNDER_WINE, "the shells run the Linux program")
class CompletionInTheShell(ScratchTest):
    """Each completion script read by its own shell: it parses, and a TAB after `st` gives
    `status`, after `update --h` offers `--hex`."""

    def script(self, shell):
        status, text, _, _ = ztupdate("completion", shell)
        self.assertEqual(status, 0, shell)
        path = os.path.join(self.dir, {"bash": "ztupdate.bash", "zsh": "_ztupdate", "fish": "ztupdate.fish"}[shell])
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_bash(self):
        path = self.script("bash")
        self.assertEqual(subprocess.run(["bash", "-n", path], capture_output=True).returncode, 0)
        for line, expected in (("ztupdate st", "status"), ("ztupdate update --h", "--hex")):
            words = line.split()
            driver = ('source /usr/share/bash-completion/bash_completion; source %s; COMP_WORDS=(%s); '
                      'COMP_CWORD=%d; COMP_LINE=%s; COMP_POINT=${#COMP_LINE}; _ztupdate; printf "%%s\\n" '
                      '"${COMPREPLY[@]}"' % (shlex.quote(path), line, len(words) - 1, shlex.quote(line)))
            done = subprocess.run(["bash", "--norc", "-c", driver], capture_output=True, text=True, timeout=30)
            self.assertIn(expected, done.stdout.split(), (line, done.stderr))

    def test_fish(self):
        path = self.script("fish")
        checked = subprocess.run(["fish", "--no-config", "-n", path], capture_output=True, text=True)
        self.assertEqual(checked.returncode, 0, checked.stderr)
        for line, expected in (("ztupdate st", "status"), ("ztupdate update --h", "--hex")):
            done = subprocess.run(["fish", "--no-config", "-c", "source %s; complete -C %s" % (
                shlex.quote(path), shlex.quote(line))], capture_output=True, text=True, timeout=30)
            self.assertIn(expected, [row.split("\t")[0] for row in done.stdout.splitlines()], (line, done.stderr))

    def test_zsh_on_a_terminal(self):
        path = self.script("zsh")
        checked = subprocess.run(["zsh", "-n", path], capture_output=True, text=True)
        self.assertEqual(checked.returncode, 0, checked.stderr)
        with open(os.path.join(self.dir, ".zshrc"), "w") as f:
            f.write("fpath=(%s $fpath)\nautoload -U compinit\ncompinit -u -D\nPS1='ready> '\n" % self.dir)
        for typed, expected in (("ztupdate st\t", "ztupdate status"), ("ztupdate update --h\t\t", "--hex")):
            shown = self.zsh_screen(typed, expected)
            self.assertIn(expected, shown, typed)

    def zsh_screen(self, typed, expected, timeout=20):
        """What the terminal shows once zsh has read `typed`, at the prompt, and shown `expected`
        (or the time is up)."""
        controller, terminal = pty.openpty()
        env = dict(os.environ, ZDOTDIR=self.dir, TERM="xterm", HOME=self.dir)
        proc = subprocess.Popen(["zsh", "-i"], stdin=terminal, stdout=terminal, stderr=terminal, env=env,
                                start_new_session=True)
        os.close(terminal)
        output = ""
        sent = False
        deadline = time.time() + timeout
        try:
            while time.time() < deadline:
                if select.select([controller], [], [], 0.2)[0]:
                    output += os.read(controller, 4096).decode(errors="replace")
                if not sent and "ready>" in output:
                    os.write(controller, typed.encode())
                    sent = True
                elif sent and expected in screen(output.split("ready>", 1)[1]):
                    break
        finally:
            proc.kill()
            proc.wait()
            os.close(controller)
        return screen(output.split("ready>", 1)[-1])


@unittest.skipIf(UNDER_WINE, "Wine's console takes no cursor sequences")
class LiveScreen(ScratchTest):
    """What a terminal shows while units are updated: log lines above the bars, no sequences
    where a terminal cannot take them, results that keep their words."""

    def test_log_lines_go_above_the_bars(self):
        hex_path, flash_path = self.subset(data_records=200, flash_bytes=20000)
        sim = self.sim("--start-mode", "bootload", "--program-delay-ms", "1")
        status, out = ztupdate_on_terminal("--ip", sim.address(), "-v", "update", "--hex", hex_path, "--flash",
                                           flash_path, "--yes")
        self.assertEqual(status, 0, out)
        rows = screen(out).splitlines()
        bars = [i for i, row in enumerate(rows) if re.search(r"\[[#.]{4,}\]", row)]
        self.assertEqual(len(bars), 1, "\n".join(rows))
        logged = [i for i, row in enumerate(rows) if re.match(r"\[ *\d+\.\d{3}\] \S+: Server (Application|UI) "
                                                              r"(started|took [0-9.]+ s)", row)]
        self.assertGreaterEqual(len(logged), 4, "\n".join(rows))
        self.assertLess(max(logged), bars[0], "every log line above the bars")

    def test_no_sequences_for_a_dumb_terminal_and_json_keeps_its_progress(self):
        hex_path, flash_path = self.subset(data_records=40, flash_bytes=3000)
        sim = self.sim("--start-mode", "bootload")
        # The same unit twice: the second update would otherwise find it current.
        args = ["--ip", sim.address(), "update", "--hex", hex_path, "--flash", flash_path, "--allow-reinstall", "--yes"]
        status, out = ztupdate_on_terminal(*args, env={"TERM": "dumb"})
        self.assertEqual(status, 0, out)
        self.assertNotIn("\x1b", out)
        self.assertIn("100%", out)
        with tempfile.TemporaryFile() as document:
            status, err = ztupdate_on_terminal("--json", *args, stdout=document)
            document.seek(0)
            self.assertEqual(json.load(document)["units"][0]["result"], "updated")
        self.assertEqual(status, 0, err)
        self.assertRegex(screen(err), r"\[#+\] 100%", "the bars on standard error")

    def test_results_keep_their_words_and_the_table_its_columns(self):
        sims = [self.sim() for _ in range(2)]
        args = [word for sim in sims for word in ("--ip", sim.address())]
        status, out = ztupdate_on_terminal(*args, "update", "--yes")
        self.assertEqual(status, 1, out)
        rows = screen(out).splitlines()
        header = next(row for row in rows if row.startswith("unit "))
        self.assertTrue(all(len(row) < 80 for row in rows[:rows.index(header)]), "\n".join(rows))
        for sim in sims:
            self.assertIn("ztupdate --ip %s enter-bootload" % sim.address(), " ".join(screen(out).split()))
        table = [row for row in rows if "application_running " in row]
        self.assertEqual(len(table), 2, "\n".join(rows))
        for row in table:
            self.assertEqual(row.index("s", row.index("application_running ") + 19), header.index("time") + 3, rows)


class SaysWhatWentWrong(ScratchTest):
    def test_serial_ports_that_cannot_be_opened(self):
        missing = os.path.join(self.dir, "ttyUSB9")
        plain = os.path.join(self.dir, "plain")
        open(plain, "w").close()
        sim = self.sim("--start-mode", "bootload")
        holder = os.open(sim.serial(), os.O_RDWR | os.O_NOCTTY)
        fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
        try:
            cases = [(missing, "cannot open %s: No such file or directory" % missing),
                     (plain, "cannot open %s: not a serial port" % plain),
                     (sim.serial(), "%s is in use by another program" % sim.serial())]
            for port, expected in cases:
                for command in (["status"], ["update", "--yes"], ["exit-bootload"]):
                    status, _, err, seconds = ztupdate("--serial", port, *command)
                    self.assertEqual(status, 2, (port, command))
                    self.assertIn(expected, err, (port, command))
                    self.assertLess(seconds, 3)
        finally:
            os.close(holder)

    def test_odd_names_are_refused_with_the_reason_never_an_abort(self):
        """Names a person can type or a file can hold: each is refused (exit 2) with its place and
        a reason, echoed escaped and cut short; nothing ends in an abort or reaches a unit."""
        sim = self.sim()
        units = os.path.join(self.dir, "venue.txt")
        long_name = b"/dev/tty" + b"A" * (1 << 20)
        # Command-line arguments, or the bytes of a units file.
        cases = [
            (["--serial", "/dev/ttyÜSB0"], "cannot open /dev/ttyÜSB0: No such file or directory"),
            (["--serial", b"/dev/tty\xffUSB0"],
             "--serial /dev/tty\\xffUSB0: not a usable unit name: it holds a byte that is not UTF-8 text (\\xff)"),
            (["--serial", "/dev/tty\x1b[2JUSB0"],
             "--serial /dev/tty\\x1b[2JUSB0: not a usable unit name: it holds a control character (\\x1b)"),
            (["--serial", "127.79.0.2:6234"],
             "--serial 127.79.0.2:6234: not a serial port, and not an IPv4 address (a port number does not belong here)"),
            (["--serial", sim.address()],
             "--serial %s: an IPv4 address, not a serial port: name it with --ip %s" % (sim.address(), sim.address())),
            (["--ip", "localhost"], "--ip localhost: not an IPv4 address (a host name: ztupdate looks up no names"),
            (b"/dev/tty\xc3\x9cSB0\n", ":1: cannot open /dev/ttyÜSB0: No such file or directory"),
            (b"127.79.0.2\x00\n", ":1: 127.79.0.2\\x00: not a usable unit name: it holds a control character (\\x00)"),
            (b"# rack\n127.79.0.2:6234\n", ":2: 127.79.0.2:6234: not an IPv4 address (a port number does not belong here)"),
            (b"localhost\n", ":1: localhost: not an IPv4 address (a host name"),
            (b"::1\n", ":1: ::1: not an IPv4 address (an IPv6 address"),
            (b"-1.2.3.4\n", ":1: -1.2.3.4: not an IPv4 address (mistyped? '-' is not a digit)"),
            (b"127.0.0.1O\n", ":1: 127.0.0.1O: not an IPv4 address (mistyped? 'O' is not a digit)"),
            (b"192.0.2.1 192.0.2.2\n", ":1: 192.0.2.1 192.0.2.2: more than one name on the line"),
            (b"\r\n\r\n" + long_name + b"\r\n", ":3: cannot open /dev/tty" + "A" * 92 + "...: File name too long"),
        ]
        for args, expected in cases:
            if isinstance(args, bytes):
                with open(units, "wb") as f:
                    f.write(args)
                args, expected = ["--units", units], units + expected
            status, _, err, seconds = ztupdate(*args, "status", env={"LANG": "C.UTF-8"})
            self.assertEqual(status, 2, expected)
            self.assertIn(expected, err)
            self.assertNotRegex(err, "[\x00-\x08\x0b-\x1f\x7f]", expected)
            self.assertLess(len(err), 500, expected)
            self.assertLess(seconds, 3)
        _, reports = sim.stop()
        self.assertEqual((commands_sent(reports[0]), reports[0]["command_port"]["commands"]), (0, 0))
        # Notepad's byte-order mark and line ends are no part of the first name.
        sim = self.sim()
        with open(units, "wb") as f:
            f.write(b"\xef\xbb\xbf" + sim.address().encode() + b"\r\n# spare\r\n")
        status, out, err, _ = ztupdate("--units", units, "--json", "status", env={"LANG": "C.UTF-8"})
        self.assertEqual(status, 0, err)
        self.assertEqual(json.loads(out)["units"][0]["target"], sim.address())

    def test_a_report_of_the_wrong_shape_names_the_file_and_the_key(self):
        report = os.path.join(self.dir, "venue.json")
        cases = [
            ({"units": [{"target": "192.0.2.5", "result": 3}]}, "units[0].result is a number, not a string"),
            ({"units": [{"target": "192.0.2.5", "result": "upgraded"}, {"target": "192.0.2.6", "result": None}]},
             "units[1].result is null, not a string"),
            ({"units": [{"target": 17}]}, "units[0].target is a number, not a string"),
            ({"units": ["192.0.2.5"]}, "units[0] is a string, not an object"),
            ({"units": {"target": "192.0.2.5"}}, "units is an object, not a list"),
            ([{"target": "192.0.2.5"}], "not a ztupdate JSON result (a list, not an object"),
            ({"units": [{"target": "192.0.2.5:6234"}]}, "192.0.2.5:6234: not an IPv4 address (a port number"),
        ]
        for document, expected in cases:
            with open(report, "w") as f:
                json.dump(document, f)
            for failed in ([], ["--failed"]):
                status, _, err, _ = ztupdate("--units-from", report, *failed, "status")
                self.assertEqual(status, 2, document)
                self.assertIn(report, err, document)
                self.assertIn(expected, err, document)
        with open(report, "w") as f:
            f.write('{"units": [')
        status, _, err, _ = ztupdate("--units-from", report, "status")
        self.assertEqual(status, 2)
        self.assertIn("--units-from %s: not a ztupdate JSON result (not JSON text" % report, err)

    def test_a_unit_running_its_application(self):
        sim = self.sim()
        ip = ["--ip", sim.address()]
        status, out, _, _ = ztupdate(*ip, "status")
        self.assertEqual(status, 0)
        self.assertIn("Running:        its application (its command port answers, its bootloader does not)", out)
        self.assertIn("Bootload mode:  the command port reports bootload disabled (enter-bootload enters", out)
        self.assertNotIn("not found", out)
        status, out, _, _ = ztupdate(*ip, "--json", "exit-bootload")
        self.assertEqual(status, 0)
        unit = json.loads(out)["units"][0]
        self.assertEqual((unit["result"], unit["message"]),
                         ("nothing_to_leave", "the unit runs its application (its command port answers, its "
                                              "bootloader does not): there is no bootload mode to leave"))
        status, out, _, _ = ztupdate(*ip, "--json", "update", "--yes")
        self.assertEqual(status, 1)
        unit = json.loads(out)["units"][0]
        self.assertEqual(unit["result"], "application_running")
        self.assertIn("ztupdate --ip %s enter-bootload" % sim.address(), unit["message"])
        status, out, _, seconds = ztupdate(*ip, "enter-bootload", env={"ZT_PIN": "1234"})
        self.assertEqual(status, 0, out)
        self.assertIn("The bootloader answers.", out)
        self.assertLess(seconds, 3.0, "the wait ends when the bootloader answers")
        self.assertEqual(json.loads(ztupdate(*ip, "--json", "status")[1])["units"][0]["bootloader"], "3.1")

    def test_unsupported_bootloader_is_marked(self):
        sim = self.sim("--start-mode", "bootload", "--wrong-version")
        status, out, _, _ = ztupdate("--ip", sim.address(), "status")
        self.assertIn("bootloader 2.9 (unsupported: this updater cannot update it)", out)
        self.assertEqual(json.loads(ztupdate("--ip", sim.address(), "--json", "status")[1])["units"][0]["bootloader"],
                         "2.9")

    def test_log_and_counts(self):
        hex_path, flash_path = self.subset(data_records=40, flash_bytes=3000)
        sim = self.sim("--start-mode", "bootload", "--drop-out", "5", "--seed", "3")
        log = os.path.join(self.dir, "run.log")
        status, out, err, _ = ztupdate("--ip", sim.address(), "--json", "--log", log, "update", "--hex", hex_path,
                                       "--flash", flash_path, "--yes")
        self.assertEqual(status, 0, err)
        unit = json.loads(out)["units"][0]
        self.assertGreater(unit["requests"], 40)
        self.assertGreater(unit["resends"], 0)
        with open(log) as f:
            text = f.read()
        for expected in ("Server Application started", "Server Application took", "Server UI started",
                         "sent again", "updated; requests %d, resends %d" % (unit["requests"], unit["resends"]),
                         "before the update: bootloader 3.1, application 1.0, bootload mode entered"):
            self.assertIn(expected, text)
        status, out, err, _ = ztupdate("--ip", sim.address(), "-v", "update", "--hex", hex_path, "--flash", flash_path,
                                       "--allow-reinstall", "--yes")
        self.assertIn("before the update: bootloader 3.1, application 1.12, bootload mode entered", err)
        self.assertIn("Server UI took", err)

    def test_output_that_is_lost_or_would_clash_is_named(self):
        """A log or a result lost to a full disk fails the run (exit 1); a report over the log, or a
        log in the middle of --json's document, is refused before anything is sent (exit 2)."""
        hex_path, flash_path = self.subset(data_records=5, flash_bytes=200)
        sim = self.sim("--start-mode", "bootload")
        ip = ["--ip", sim.address()]
        images = ["--hex", hex_path, "--flash", flash_path, "--allow-reinstall", "--yes"]
        status, _, err, _ = ztupdate(*ip, "--log", "/dev/full", "update", *images)
        self.assertEqual(status, 1, err)
        self.assertIn("--log /dev/full: the log could not be written whole: No space left on device", err)
        log = os.path.join(self.dir, "run.log")
        for args, expected in (
                (["--log", log, "upgrade", "--report", log, *images], "--report %s is also the --log file" % log),
                (["--log", "/dev/stdout", "--json", "update", *images], "--log /dev/stdout is the standard output")):
            status, _, err, _ = ztupdate(*ip, *args)
            self.assertEqual(status, 2, args)
            self.assertIn(expected, err, args)
        for args in (["--json", "status"], ["status"], ["--json", "update", *images], ["--json", "inspect"]):
            with open("/dev/full", "w") as full:
                done = subprocess.run(PROGRAM + ip + args, stdin=subprocess.DEVNULL, stdout=full,
                                      stderr=subprocess.PIPE, timeout=60)
            self.assertEqual(done.returncode, 1, args)
            self.assertIn(b"standard output: the result could not be written: No space left on device", done.stderr)
        _, reports = sim.stop()
        self.assertEqual(reports[0]["commands"]["close"], 2, "only the runs to /dev/full reached the unit")


class Interrupts(ScratchTest):
    """A signal stops each unit at a transaction boundary; the unit stays in bootload mode."""

    def interrupt_during(self, target_args, stage, sig, expected_status, reported=None):
        hex_path, flash_path = self.subset(data_records=400, flash_bytes=40000)
        # One unit serves every stage: what an earlier stop wrote must not skip the next run.
        proc = start_update(*target_args, "update", "--hex", hex_path, "--flash", flash_path, "--allow-reinstall",
                            "--yes")
        read_until(proc, stage)
        proc.send_signal(sig)
        out, err = proc.communicate(timeout=30)
        self.assertEqual(proc.returncode, expected_status, err)
        label = target_args[1]
        self.assertRegex(out.decode(), re.escape(label) + r": stopped during " + (reported or re.escape(stage)) +
                         r"(, before anything was erased| after \d+ of \d+ requests: the (application|web content) "
                         r"(may be erased|is erased and incomplete)); the unit stays in bootload mode; run update again")
        status, out, _, _ = ztupdate(*target_args, "--json", "status")
        self.assertEqual(json.loads(out)["units"][0]["bootloader"], "3.1", "still in its bootloader")

    def test_a_second_updater_on_the_same_unit_is_refused_until_the_first_ends(self):
        hex_path, flash_path = self.subset(data_records=400, flash_bytes=4000)
        sim = self.sim("--start-mode", "bootload", "--program-delay-ms", "2", "--check-hex", hex_path)
        update = ["--ip", sim.address(), "update", "--hex", hex_path, "--flash", flash_path, "--yes"]
        first = start_update(*update)
        read_until(first, "Server Application")
        status, _, err, _ = ztupdate(*update)
        self.assertEqual(status, 2, err)
        holder = r"\d+" if UNDER_WINE else str(first.pid)
        self.assertRegex(err, re.escape(sim.address()) + r" is being updated by another ztupdate \(pid %s\)" % holder)
        first.send_signal(signal.SIGINT)
        first.communicate(timeout=30)
        self.assertEqual(first.returncode, 130)
        status, out, err, _ = ztupdate(*update)
        self.assertEqual(status, 0, out + err)
        self.assertEqual(sim.stop()[0], 0)

    def test_each_stage_over_udp_and_serial(self):
        sim = self.sim("--start-mode", "bootload", "--program-delay-ms", "2")
        for target in (["--ip", sim.address()], ["--serial", sim.serial()]):
            # A stop during identification takes effect at the next request, the application erase.
            for stage, sig, expected, reported in (
                    ("Server Application", signal.SIGINT, 130, None), ("Server UI", signal.SIGTERM, 143, None),
                    ("Initializing", signal.SIGHUP, 129, "(Initializing|Server Application)")):
                with self.subTest(target=target[0], stage=stage):
                    self.interrupt_during(target, stage, sig, expected, reported)

    def test_upgrade_stops_say_what_was_done(self):
        hex_path, flash_path = self.subset(data_records=400, flash_bytes=40000)
        writing = self.sim("--start-mode", "bootload", "--program-delay-ms", "10")
        proc = start_update("--ip", writing.address(), "upgrade", "--hex", hex_path, "--flash", flash_path, "--yes")
        # The first progress line comes with the first request of Server Application.
        read_until(proc, writing.address() + ": 0%")
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=30)
        self.assertEqual(proc.returncode, 130, err)
        stopped = re.search(re.escape(writing.address()) + r": stopped at update: stopped during Server Application "
                            r"after (\d+) of (\d+) requests: the application is erased and incomplete; the unit stays "
                            r"in bootload mode; run upgrade again", out.decode())
        self.assertIsNotNone(stopped, out)
        _, reports = writing.stop()
        self.assertEqual(int(stopped.group(1)), reports[0]["commands"]["record_program"])
        self.assertGreater(int(stopped.group(2)), int(stopped.group(1)))

        hex_path, flash_path = self.subset(data_records=5, flash_bytes=200)
        returning = self.sim("--start-mode", "bootload", "--restart-ms", "30000")
        proc = start_update("--ip", returning.address(), "upgrade", "--hex", hex_path, "--flash", flash_path, "--yes")
        read_until(proc, "Waiting for the application")
        proc.send_signal(signal.SIGTERM)
        out, err = proc.communicate(timeout=30)
        self.assertEqual(proc.returncode, 143, err)
        self.assertIn(returning.address() + ": stopped at wait_application: stopped; the update is complete and verified; the "
                      "unit was told to leave bootload mode; only its return was not awaited", out.decode())
        _, reports = returning.stop()
        self.assertTrue(reports[0]["version_written"] and reports[0]["leave_received"])

    def test_closed_output_never_stops_an_update(self):
        hex_path, flash_path = self.subset(data_records=200, flash_bytes=20000)
        sim = self.sim("--start-mode", "bootload", "--check-hex", hex_path, "--check-flash", flash_path,
                       "--program-delay-ms", "1")
        proc = start_update("--ip", sim.address(), "update", "--hex", hex_path, "--flash", flash_path, "--yes")
        proc.stdout.readline()
        proc.stdout.close()
        proc.wait(timeout=120)
        self.assertEqual(proc.returncode, 0, proc.stderr.read())
        proc.stderr.close()
        sim_status, reports = sim.stop()
        self.assertEqual(sim_status, 0)
        self.assertTrue(reports[0]["check"]["application"]["matches"])

    def test_terminal_echo_is_back_after_an_interrupt_at_the_pin_prompt(self):
        sim = self.sim()
        for sig, expected in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            controller, terminal = pty.openpty()
            proc = subprocess.Popen(PROGRAM + ["--ip", sim.address(), "enter-bootload"], stdin=terminal,
                                    stdout=terminal, stderr=terminal)
            output = b""
            deadline = time.time() + 20
            while b"Installer PIN:" not in output and time.time() < deadline:
                if select.select([controller], [], [], 0.2)[0]:
                    output += os.read(controller, 4096)
            self.assertFalse(termios.tcgetattr(terminal)[3] & termios.ECHO, "echo off at the prompt")
            proc.send_signal(sig)
            self.assertEqual(proc.wait(timeout=10), expected)
            self.assertTrue(termios.tcgetattr(terminal)[3] & termios.ECHO, "echo back on")
            os.close(terminal)
            os.close(controller)


class TypedPin(ScratchTest):
    def test_pin_typed_at_the_prompt_is_not_echoed(self):
        sim = self.sim()
        ip = ["--ip", sim.address()]
        status, out = ztupdate_on_terminal(*ip, "enter-bootload", answer="4321", prompt="Installer PIN:")
        self.assertEqual(status, 1, out)
        self.assertNotIn("4321", screen(out))
        self.assertIn("Unable to enter Bootload Mode. The unit refused the Installer PIN or broke off the unlock: check "
                      "the PIN before trying again, as units may lock after wrong PINs.", " ".join(screen(out).split()))
        status, out = ztupdate_on_terminal(*ip, "enter-bootload", answer="1234", prompt="Installer PIN:")
        self.assertEqual(status, 0, out)
        self.assertNotIn("1234", screen(out))
        self.assertIn("Bootload Mode Enabled.", screen(out))
        self.assertEqual(json.loads(ztupdate(*ip, "--json", "status")[1])["units"][0]["bootload_mode"], "enabled")


    @unittest.skipIf(UNDER_WINE, "Wine's console does not hand over the second line typed at the prompt")
    def test_a_mistyped_pin_is_asked_for_again_up_to_three_times(self):
        sim = self.sim()
        ip = ["--ip", sim.address()]
        status, shown = self.type_pins(ip, ["123", "1234"])
        self.assertEqual(status, 0, shown)
        self.assertIn("The PIN is four digits; try again.", shown)
        self.assertIn("Bootload Mode Enabled.", shown)
        status, shown = self.type_pins(ip, ["12", "12a4", "12345"])
        self.assertEqual(status, 2, shown)
        self.assertEqual(shown.count("Installer PIN:"), 3, shown)
        self.assertIn("the PIN from the prompt is not exactly four digits", shown)

    def type_pins(self, target, pins, timeout=30):
        """enter-bootload on a pseudo-terminal, typing each PIN at its own prompt; the status and
        the screen."""
        controller, terminal = pty.openpty()
        proc = subprocess.Popen(PROGRAM + target + ["enter-bootload"], stdin=terminal, stdout=terminal,
                                stderr=terminal)
        os.close(terminal)
        output = b""
        typed = 0
        deadline = time.time() + timeout
        while time.time() < deadline:
            chunk = read_some(controller, proc)
            if chunk is None:
                break
            output += chunk
            prompts = output.count(b"Installer PIN:")
            if typed < len(pins) and prompts > typed and keys_reach_program(controller):
                os.write(controller, pins[typed].encode() + b"\r")
                typed += 1
        status = proc.wait(timeout=10)
        os.close(controller)
        return status, screen(output.decode(errors="replace"))


class SerialLine(ScratchTest):
    def test_silent_unit_gives_3_within_the_engine_time_outs(self):
        sim = self.sim("--start-mode", "bootload", "--silent-bootloader", "--no-tcp")
        self.assert_silent(["--serial", serial_port(sim.serial())])

    def test_status_enter_update_and_exit_over_a_pseudo_terminal(self):
        hex_path, flash_path = self.subset(data_records=20, flash_bytes=1000)
        sim = self.sim("--check-hex", hex_path, "--check-flash", flash_path)
        name = serial_port(sim.serial())
        port = ["--serial", name]
        status, out, _, _ = ztupdate(*port, "--json", "status")
        self.assertEqual(status, 0)
        self.assertEqual(json.loads(out)["units"][0]["bootload_mode"], "disabled")
        self.assertEqual(ztupdate(*port, "enter-bootload", env={"ZT_PIN": "1234"})[0], 0)
        status, out, _, _ = ztupdate(*port, "--json", "status")
        self.assertEqual(json.loads(out)["units"][0]["bootloader"], "3.1")
        status, out, _, _ = ztupdate(*port, "--json", "update", "--hex", program_path(hex_path), "--flash",
                                     program_path(flash_path), "--yes")
        self.assertEqual(status, 0)
        self.assertEqual(json.loads(out)["units"][0]["target"], name)
        self.assertEqual(json.loads(ztupdate(*port, "--json", "exit-bootload")[1])["units"][0]["result"], "exited")
        self.assertEqual(sim.stop()[0], 0)

    def test_lost_replies_answered_by_the_last_send_on_a_paced_line(self):
        # The image erase loses its first reply, the third chunk those of its first four sends:
        # the last send's reply, cut into pieces by the line, must still be taken.
        hex_path, flash_path = self.subset(data_records=20, flash_bytes=1000)
        sim = self.sim("--start-mode", "bootload", "--pace-serial", "--lose-reply", "0x05:1", "--lose-reply",
                       "0x06:3-6", "--check-hex", hex_path, "--check-flash", flash_path)
        status, out, err, _ = ztupdate("--serial", serial_port(sim.serial()), "--json", "update", "--hex",
                                       program_path(hex_path), "--flash", program_path(flash_path), "--yes")
        self.assertEqual(status, 0, out + err)
        unit = json.loads(out)["units"][0]
        self.assertEqual((unit["result"], unit["timeouts"]), ("updated", 0), unit)
        self.assertEqual(sim.stop()[0], 0)


if __name__ == "__main__":
    if UNDER_WINE and not os.access(SIM, os.X_OK):
        print("skip: no natively built simulator at " + SIM)
        sys.exit(77)
    unittest.main()
