"""What went wrong, said plainly, and runs interrupted by signals and by a second updater."""
import fcntl
import json
import os
import pty
import re
import select
import signal
import subprocess
import tempfile
import termios
import time

from e2e_support import setUpModule, PROGRAM, ScratchTest, UNDER_WINE, commands_sent, ztupdate  # noqa: F401


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
        # The first run's writes take at least 4 s, far longer than a second program needs to start
        # on a busy machine; once it is stopped, a small image shows the unit free again.
        hex_path, flash_path = self.subset(data_records=400, flash_bytes=4000)
        sim = self.sim("--start-mode", "bootload", "--program-delay-ms", "40")
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
        small = self.subset(data_records=8, flash_bytes=64, directory=tempfile.mkdtemp(dir=self.dir))
        status, out, err, _ = ztupdate("--ip", sim.address(), "update", "--hex", small[0], "--flash", small[1], "--yes")
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
