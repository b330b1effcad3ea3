"""ztupdate at a terminal: the live screen and the PIN typed at the prompt."""
import json
import re
import tempfile
import unittest

from e2e_support import (  # noqa: F401 (setUpModule: the Wine prefix)
    setUpModule, ScratchTest, UNDER_WINE, screen, ztupdate, ztupdate_on_terminal)


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

    def type_pins(self, target, pins):
        """enter-bootload on a pseudo-terminal, typing each PIN at its own prompt; the status and
        the screen."""
        status, output = ztupdate_on_terminal(*target, "enter-bootload", answer=pins, prompt="Installer PIN:",
                                              timeout=30)
        return status, screen(output)
