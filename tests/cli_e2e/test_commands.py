"""What ztupdate says and does without a unit: help, usage, the offline commands, typing
at a terminal and completion in the shells."""
import json
import os
import pty
import re
import select
import shlex
import subprocess
import sys
import time
import unittest

from e2e_support import (  # noqa: F401 (setUpModule: the Wine prefix)
    setUpModule, COMMANDS, SAMPLE_FLASH, SAMPLE_HEX, SOURCE_DIR, ScratchTest, UNDER_WINE, program_path, screen,
    ztupdate, ztupdate_on_terminal)


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
            source = f.read()
        page = re.sub(r"\\f[BIRP]", "", source.replace("\\-", "-"))
        page_options = set(re.findall(r"(?<![\w-])--[a-z][a-z-]+", page))
        help_options = set()
        for command in [""] + COMMANDS:
            _, out, _, _ = ztupdate(*([command] if command else []), "--help")
            help_options |= set(re.findall(r"(?<![\w-])--[a-z][a-z-]+", out.split("Exit status")[0]))
        self.assertEqual(help_options, page_options)
        for command in COMMANDS:
            self.assertIn(".B " + command.replace("-", "\\-"), source)

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
