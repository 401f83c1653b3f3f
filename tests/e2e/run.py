#!/usr/bin/env python3
"""Runs orlimo's end-to-end tests (tests/e2e/test_*.py) under Wine and Xvfb.

    python3 tests/e2e/run.py [--arch i686|x86_64] [-k PATTERN] [--no-build] [--timeout SECONDS]

Tests one build: the i686 program in a 32-bit prefix or the x86_64 program
in a 64-bit prefix (--arch; by default the first that this machine runs, as
tools/wineprefix.sh arches tells). Builds orlimo.exe, orlimo-driver.exe and
menudump.dll of that build first (unless --no-build), runs every group in the order written in its file, and ends
with one line "e2e: N passed, N failed, N skipped". The exit status is 0
only when nothing failed. Each test has a time limit (--test-timeout), and
the whole run has one (--timeout); when one is reached, everything the run
started (Xvfb, portals, wineservers of its prefixes) is stopped.
ORLIMO_E2E_KEEP=1 keeps the prefixes in build/e2e/work/.
"""

import argparse
import fnmatch
import importlib
import inspect
import os
import signal
import subprocess
import sys
import threading
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import harness  # noqa: E402


class TestTimeout(Exception):
    pass


class DefinitionOrderLoader(unittest.TestLoader):
    """Test methods in the order they are written: a group's tests read as
    the story of one run of the program."""

    def getTestCaseNames(self, testCaseClass):
        names = super().getTestCaseNames(testCaseClass)

        def line(name):
            fn = getattr(testCaseClass, name)
            try:
                return inspect.getsourcelines(fn)[1]
            except (OSError, TypeError):
                return 0
        return sorted(names, key=line)


    def loadTestsFromModule(self, module, *args, **kw):
        """Groups in the order they are written, too."""
        suite = super().loadTestsFromModule(module, *args, **kw)

        def line(group):
            tests = list(group)
            if not tests:
                return 0
            try:
                return inspect.getsourcelines(type(tests[0]))[1]
            except (OSError, TypeError):
                return 0
        return self.suiteClass(sorted(suite, key=line))


class Result(unittest.TestResult):
    def __init__(self, test_timeout, stream):
        super().__init__()
        self.test_timeout = test_timeout
        self.stream = stream
        self.passed = 0
        self.started = 0.0
        self.reports = []

    def out(self, text):
        self.stream.write(text + "\n")
        self.stream.flush()

    def startTest(self, test):
        super().startTest(test)
        self.started = time.monotonic()
        signal.alarm(self.test_timeout)

    def stopTest(self, test):
        signal.alarm(0)
        super().stopTest(test)

    def _took(self):
        return "%.1f s" % (time.monotonic() - self.started)

    def _shot(self, test):
        env = getattr(type(test), "env", None)
        if env is None:
            return ""
        try:
            name = test.id().split(".")[-1]
            path = env.screenshot("failed-" + name)
            target = harness.LOGS / type(test).__name__
            target.mkdir(parents=True, exist_ok=True)
            dest = target / path.name
            dest.write_bytes(path.read_bytes())
            return " (screenshot %s)" % dest
        except Exception:
            return ""

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1
        self.out("PASS  %s (%s)" % (test.id(), self._took()))

    def _unfinished(self, test):
        if isinstance(test, harness.GroupTestCase):
            type(test).note_failure()

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._unfinished(test)
        self.out("FAIL  %s (%s)%s" % (test.id(), self._took(), self._shot(test)))
        self.reports.append(("FAIL", test, self._exc_info_to_string(err, test)))

    def addError(self, test, err):
        super().addError(test, err)
        self._unfinished(test)
        name = test.id() if hasattr(test, "id") else str(test)
        self.out("ERROR %s (%s)" % (name, self._took()))
        self.reports.append(("ERROR", test, self._exc_info_to_string(err, test)))

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self.out("SKIP  %s: %s" % (test.id(), reason))

    def addExpectedFailure(self, test, err):
        super().addExpectedFailure(test, err)
        self.out("XFAIL %s" % test.id())

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self.out("XPASS %s (counted as failed)" % test.id())

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            self._unfinished(test)
            self.out("  sub-test failed: %s" % subtest.id())
            self.reports.append(("FAIL", subtest, self._exc_info_to_string(err, test)))

    def counts(self):
        failed = len(self.failures) + len(self.errors) + len(self.unexpectedSuccesses)
        return self.passed, failed, len(self.skipped)


def summary(passed, failed, skipped):
    return "e2e: %d passed, %d failed, %d skipped" % (passed, failed, skipped)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--arch", choices=harness.ARCHES, help="the build to test (default: the first "
                    "that this machine runs)")
    ap.add_argument("-k", dest="pattern", help="only tests whose id matches this shell pattern "
                    "(or contains this text)")
    ap.add_argument("--no-build", action="store_true", help="do not build before running")
    ap.add_argument("--timeout", type=int, default=int(os.environ.get("ORLIMO_E2E_TIMEOUT", 2400)),
                    help="limit for the whole run in seconds (default 2400)")
    ap.add_argument("--test-timeout", type=int, default=300, help="limit for one test in seconds")
    opts = ap.parse_args()

    stream = sys.stdout
    t0 = time.monotonic()
    try:
        arch = harness.configure(opts.arch)
    except (harness.HarnessError, IndexError, OSError, subprocess.SubprocessError) as e:
        stream.write("e2e: no architecture to test: %s\n%s\n" % (e, summary(0, 1, 0)))
        return 1
    stream.write("e2e: the %s program in a %s prefix (%s)\n"
                 % (arch, "32-bit" if arch == "i686" else "64-bit", harness.ORLIMO_EXE))

    def watchdog():
        stream.write("e2e: the run took longer than %d s; stopping everything it started\n" % opts.timeout)
        harness.cleanup_all()
        stream.write(summary(0, 1, 0) + "\n")
        stream.flush()
        os._exit(1)

    timer = threading.Timer(opts.timeout, watchdog)
    timer.daemon = True
    timer.start()

    def on_alarm(signum, frame):
        raise TestTimeout("test took longer than %d s" % opts.test_timeout)

    def on_stop(signum, frame):
        harness.cleanup_all()
        stream.write("e2e: interrupted\n" + summary(0, 1, 0) + "\n")
        stream.flush()
        os._exit(130)

    signal.signal(signal.SIGALRM, on_alarm)
    signal.signal(signal.SIGTERM, on_stop)
    signal.signal(signal.SIGINT, on_stop)

    if not opts.no_build:
        try:
            harness.build()
        except harness.HarnessError as e:
            stream.write("e2e: build failed\n%s\n%s\n" % (e, summary(0, 1, 0)))
            return 1
    try:
        harness.check_built()
        # The prefix template is made here once, so its time is not charged
        # to the first test group.
        t = time.monotonic()
        rc, o, e = harness.run_bounded([str(harness.TOOLS / "wineprefix.sh"), "template"], 600)
        if rc != 0:
            raise harness.HarnessError("prefix template: " + (o + e).decode(errors="replace"))
        stream.write("e2e: prefix template ready (%.1f s)\n" % (time.monotonic() - t))
    except harness.HarnessError as e:
        stream.write("e2e: %s\n%s\n" % (e, summary(0, 1, 0)))
        return 1

    loader = DefinitionOrderLoader()
    suite = unittest.TestSuite()
    for path in sorted(HERE.glob("test_*.py")):
        module = importlib.import_module(path.stem)
        suite.addTests(loader.loadTestsFromModule(module))

    if opts.pattern:
        def matches(test):
            tid = test.id()
            return opts.pattern in tid or fnmatch.fnmatch(tid, opts.pattern)

        def keep(s):
            out = unittest.TestSuite()
            for t in s:
                if isinstance(t, unittest.TestSuite):
                    sub = keep(t)
                    if sub.countTestCases():
                        out.addTest(sub)
                elif matches(t):
                    out.addTest(t)
            return out
        suite = keep(suite)

    result = Result(opts.test_timeout, stream)
    try:
        suite.run(result)
    finally:
        harness.cleanup_all()
        harness.stop_shared_display()
    timer.cancel()

    for kind, test, text in result.reports:
        stream.write("\n===== %s %s\n%s" % (kind, test.id() if hasattr(test, "id") else test, text))
    passed, failed, skipped = result.counts()
    stream.write("\ne2e: %d tests in %.0f s; logs in %s\n" % (result.testsRun, time.monotonic() - t0, harness.LOGS))
    stream.write(summary(passed, failed, skipped) + "\n")
    stream.flush()
    return 0 if failed == 0 and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
