# tests/e2e/run_e2e.py — runs the end-to-end tests: parvel.exe under Wine, driven by its window.
# Usage: run_e2e.py PARVEL_EXE DRIVER_EXE WINE_STATE ARTEFACTS [TEST_NAME...]
# (names such as test_https or test_https.HttpsTest.test_depths_offline_links_and_an_unchanged_second_run;
# all tests without)
import os
import sys
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "tools", "e2e"))
sys.path.insert(0, os.path.join(here, "..", "..", "tools", "servers"))

import e2econfig  # noqa: E402

e2econfig.PARVEL, e2econfig.DRIVER, e2econfig.STATE, e2econfig.ARTEFACTS = sys.argv[1:5]
os.makedirs(e2econfig.ARTEFACTS, exist_ok=True)
if sys.argv[5:]:
    suite = unittest.defaultTestLoader.loadTestsFromNames(sys.argv[5:])
else:
    suite = unittest.defaultTestLoader.discover(here, pattern="test_*.py")
result = unittest.TextTestRunner(verbosity=2).run(suite)
sys.exit(0 if result.wasSuccessful() else 1)
