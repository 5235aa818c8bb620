#!/usr/bin/env python3
"""Runs every test_*.py of this folder under one Wine session; prints a count line.

Usage: run_tests.py [PATTERN]   (unittest -k pattern, optional)
"""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import harness  # noqa: E402


class UnitTestsUnderWine(unittest.TestCase):
    """The unit tests built for Windows, where wchar_t is 16 bits, plus the
    tests of the Win32 halves. Each gtest case counts once in the totals."""

    counts = {"passed": 0, "failed": 0, "runs": 0}

    def run_gtest(self, arch):
        self.counts["runs"] += 1
        _, wine = harness.session()
        code, out = wine.run(harness.exe("gd_unit_tests.exe", arch), "--gtest_brief=1", timeout=600)
        passed = failed = 0
        for line in out.splitlines():
            if line.startswith("[  PASSED  ]"):
                passed = int(line.split()[3])
            elif line.startswith("[  FAILED  ]") and "test" in line and "listed below" in line:
                failed = int(line.split()[3])
            elif line.startswith("[  FAILED  ]"):
                print("gtest %s %s" % (arch, line))
        self.counts["passed"] += passed
        # A run that crashed or found no tests counts as one failure.
        self.counts["failed"] += failed if failed or (code == 0 and passed) else 1
        print("gtest %s: %d passed, %d failed" % (arch, passed, failed))
        self.assertGreater(passed, 0, out[-2000:])
        self.assertEqual((code, failed), (0, 0), out[-4000:])

    def test_win32(self):
        self.run_gtest("win32")

    def test_win64(self):
        self.run_gtest("win64")


def main():
    loader = unittest.TestLoader()
    if len(sys.argv) > 1:
        loader.testNamePatterns = ["*%s*" % p for p in sys.argv[1:]]
    suite = loader.discover(HERE, pattern="test_*.py", top_level_dir=HERE)
    suite.addTests(loader.loadTestsFromTestCase(UnitTestsUnderWine))
    try:
        result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    finally:
        harness.end_session()
    broken = [t for t, _ in result.failures + result.errors]
    wrappers_broken = sum(1 for t in broken if isinstance(t, UnitTestsUnderWine))
    failed = len(broken) + len(result.unexpectedSuccesses) - wrappers_broken
    passed = result.testsRun - UnitTestsUnderWine.counts["runs"] - len(result.skipped) - failed
    # The gtest runs count by their cases, not as two tests.
    passed += UnitTestsUnderWine.counts["passed"]
    failed += UnitTestsUnderWine.counts["failed"]
    print("wine tests: %d passed, %d failed, %d skipped" % (passed, failed, len(result.skipped)))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
