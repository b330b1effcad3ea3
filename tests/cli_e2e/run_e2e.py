"""Runs the end-to-end tests: every subject, or the modules, classes and tests named
(`run_e2e.py test_updates.SerialLine`). Exit 77 (skipped) under Wine without a native simulator."""
import os
import sys
import unittest

from e2e_support import SIM, UNDER_WINE

SUBJECTS = ["test_commands", "test_updates", "test_terminal", "test_failures"]

if __name__ == "__main__":
    if UNDER_WINE and not os.access(SIM, os.X_OK):
        print("skip: no natively built simulator at " + SIM)
        sys.exit(77)
    unittest.main(module=None, argv=[sys.argv[0], "-v"] + (sys.argv[1:] or SUBJECTS))
