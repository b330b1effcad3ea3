"""What the end-to-end tests share: ztupdate run as built against zt-unit-sim over UDP and a
pseudo-terminal, its documents checked against the schema, its screen read as a terminal shows it.

Every unit listens on a loopback address of its own (127.A.B.x, see next_address), so these tests
never meet another test's simulator on the fixed bootloader and command ports.

With ZTUPDATE_RUNNER=wine, ZTUPDATE is the Windows build: it runs under Wine in a prefix of this
run's own, which maps each simulator's pseudo-terminal to a COM port (serial_port).
"""
import atexit
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
    `prompt` shows and keys reach the program (calling `before_answer` first); a list of answers
    is typed one at each showing of the prompt. Returns status and output. With a `stdout` file,
    only standard error is on the terminal."""
    controller, terminal = pty.openpty()
    proc = subprocess.Popen(PROGRAM + list(args), stdin=terminal, stdout=stdout or terminal, stderr=terminal,
                            env=dict(os.environ, **(env or {})))
    os.close(terminal)
    output = b""
    answers = [] if answer is None else [answer] if isinstance(answer, str) else list(answer)
    typed = 0
    deadline = time.time() + timeout
    while time.time() < deadline:
        chunk = read_some(controller, proc)
        if chunk is None:
            break
        output += chunk
        shown = screen(output.decode(errors="replace")).count(prompt)
        if typed < len(answers) and shown > typed and keys_reach_program(controller):
            if before_answer and typed == 0:
                before_answer()
            # Enter sends a carriage return; the terminal hands a line end on to a program that
            # reads lines, and Wine's console reads the key itself.
            os.write(controller, answers[typed].encode() + b"\r")
            typed += 1
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
    """Under Wine: one fresh prefix for the run, whose server and services start here, so that no
    test's output pipe is held open by them; COM1-COM4 lead to a folder, which no port open
    accepts, so the machine's own serial ports stay out of the tests. Every test module takes
    this as its own setUpModule."""
    global _wine_prefix
    if not UNDER_WINE or _wine_prefix:
        return
    _wine_prefix = tempfile.mkdtemp(prefix="zt-cli-wine-")
    atexit.register(remove_wine_prefix)
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
