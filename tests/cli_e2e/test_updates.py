"""Updates end to end: one unit over UDP, several at once, venues and serial lines."""
import hashlib
import json
import os
import re
import shutil
import subprocess
import tempfile

from e2e_support import (  # noqa: F401 (setUpModule: the Wine prefix)
    setUpModule, ISO_TIME, SAMPLE_FLASH, SAMPLE_HEX, SOURCE_DIR, STRAY_ESCAPE, ScratchTest, UNDER_WINE, ZTUPDATE,
    commands_sent, hex_data_digest, program_path, screen, serial_port, ztupdate, ztupdate_on_terminal)


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
        # One step of two sends (0.5 s) against the five of a bootloader that stays silent (2.5 s).
        self.assertLess(seconds, 2.0)
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
