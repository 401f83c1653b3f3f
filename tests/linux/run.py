#!/usr/bin/python3
"""Runs the Linux front end's black-box tests (tests/linux/test_*.py).

    /usr/bin/python3 tests/linux/run.py [-k PATTERN] [--timeout SECONDS]

Tests the program and package of build/linux (ORLIMO_LINUX_BUILD names
another build folder), which tools/test.sh --tier linux builds first. Runs
with Debian's /usr/bin/python3 (python3-dbus, python3-gi, the AT-SPI
typelib). Ends with one line "linux: N passed, N failed"; the exit status is
0 only when tests ran and none failed. Each test has a time limit, and the
whole run one; everything the run started is stopped at its end.
"""

import argparse
import ctypes
import fnmatch
import importlib
import inspect
import os
import shutil
import signal
import sys
import tempfile
import threading
import time
import traceback
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree

try:
    import harness  # noqa: E402
except ImportError as e:  # another python3 than Debian's, or bindings missing
    print("linux: %s (run with /usr/bin/python3; tools/setup.sh installs python3-dbus, "
          "python3-gi and gir1.2-atspi-2.0)\nlinux: 0 passed, 1 failed" % e)
    sys.exit(1)


# Start-up first: when the program cannot start, that failure comes first.
MODULES = ["test_startup", "test_menu", "test_notify", "test_session", "test_gnome", "test_desktop", "test_package"]
assert sorted(MODULES) == sorted(p.stem for p in HERE.glob("test_*.py")), "run.py lists every test file"


class TestTimeout(Exception):
    pass


class Result(unittest.TestResult):
    def __init__(self, test_timeout):
        super().__init__()
        self.test_timeout = test_timeout
        self.passed = 0
        self.started = 0.0
        self.reports = []

    @staticmethod
    def out(text):
        print(text, flush=True)

    def startTest(self, test):
        super().startTest(test)
        self.started = time.monotonic()
        signal.alarm(self.test_timeout)

    def stopTest(self, test):
        signal.alarm(0)
        super().stopTest(test)

    def took(self):
        return "%.1f s" % (time.monotonic() - self.started)

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1
        self.out("PASS  %s (%s)" % (test.id(), self.took()))

    def _bad(self, kind, test, err):
        name = test.id() if hasattr(test, "id") else str(test)
        self.out("%s %s (%s)" % (kind, name, self.took()))
        self.reports.append((kind, name, self._exc_info_to_string(err, test)))

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._bad("FAIL ", test, err)

    def addError(self, test, err):
        super().addError(test, err)
        self._bad("ERROR", test, err)

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            self._bad("FAIL ", subtest, err)

    def failed(self):
        return len(self.failures) + len(self.errors) + len(self.unexpectedSuccesses)


def in_written_order(suite):
    """A module's groups and their tests in the order they are written."""
    def line(obj):
        try:
            return inspect.getsourcelines(obj)[1]
        except (OSError, TypeError):
            return 0
    tests = []
    for group in suite:
        if isinstance(group, unittest.TestSuite):
            tests.extend(in_written_order(group))
        else:
            tests.append(group)
    tests.sort(key=lambda t: (line(type(t)), line(getattr(type(t), t._testMethodName))))
    return tests


PR_SET_CHILD_SUBREAPER = 36


def adopt_orphans():
    """Processes that the run's session bus starts on demand (the
    accessibility bus) outlive it briefly: as their subreaper, this process
    waits for them instead of leaving them to init."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    except (OSError, AttributeError):
        pass


def end_orphans(timeout=5):
    """Waits for the adopted processes; ends, by their ids, those still
    running after timeout seconds."""
    def children():
        me = os.getpid()
        out = []
        for stat in Path("/proc").glob("[0-9]*/stat"):
            try:
                fields = stat.read_text().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[1]) == me:
                out.append(int(stat.parent.name))
        return out
    deadline = time.monotonic() + timeout
    while True:
        try:
            while os.waitpid(-1, os.WNOHANG)[0] > 0:
                pass
        except ChildProcessError:
            return
        if time.monotonic() >= deadline:
            for pid in children():
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            deadline = time.monotonic() + 2
        time.sleep(0.1)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("-k", dest="pattern", help="only tests whose id contains this text or matches this pattern")
    ap.add_argument("--timeout", type=int, default=600, help="limit for the whole run in seconds")
    ap.add_argument("--test-timeout", type=int, default=120, help="limit for one test in seconds")
    opts = ap.parse_args()

    def summary(passed, failed):
        return "linux: %d passed, %d failed" % (passed, failed)

    if not harness.PROGRAM.exists():
        print("linux: %s is not built (cmake --build --preset linux)\n%s" % (harness.PROGRAM, summary(0, 1)))
        return 1

    loader = unittest.TestLoader()
    tests = []
    for name in MODULES:
        tests += in_written_order(loader.loadTestsFromModule(importlib.import_module(name)))
    if opts.pattern:
        tests = [t for t in tests if opts.pattern in t.id() or fnmatch.fnmatch(t.id(), opts.pattern)]
    suite = unittest.TestSuite(tests)

    work = Path(tempfile.mkdtemp(prefix="orlimo-linux-"))
    run = harness.Run(work)

    def stop_all():
        try:
            run.stop()
        except Exception:
            traceback.print_exc()
        end_orphans()

    def watchdog():
        print("linux: the run took longer than %d s; stopping it" % opts.timeout, flush=True)
        stop_all()
        print(summary(0, 1), flush=True)
        os._exit(1)

    def on_alarm(signum, frame):
        raise TestTimeout("the test took longer than %d s" % opts.test_timeout)

    def on_stop(signum, frame):
        stop_all()
        print("linux: interrupted\n" + summary(0, 1), flush=True)
        os._exit(130)

    timer = threading.Timer(opts.timeout, watchdog)
    timer.daemon = True
    timer.start()
    signal.signal(signal.SIGALRM, on_alarm)
    signal.signal(signal.SIGTERM, on_stop)
    signal.signal(signal.SIGINT, on_stop)

    adopt_orphans()
    t0 = time.monotonic()
    result = Result(opts.test_timeout)
    try:
        harness.RUN = run.start()
        print("linux: %s on display %s, private session bus, portal on 127.0.0.1:%d"
              % (harness.PROGRAM, run.display, run.portal_port), flush=True)
        suite.run(result)
    except harness.HarnessError as e:
        print("linux: %s" % e, flush=True)
        result.errors.append((None, str(e)))
    finally:
        stop_all()
        timer.cancel()

    for kind, name, text in result.reports:
        print("\n===== %s %s\n%s" % (kind.strip(), name, text))
    passed, failed = result.passed, result.failed()
    if failed == 0:
        shutil.rmtree(work, ignore_errors=True)
        print("\nlinux: %d tests in %.0f s" % (result.testsRun, time.monotonic() - t0))
    else:
        print("\nlinux: %d tests in %.0f s; files of the run in %s" % (result.testsRun, time.monotonic() - t0, work))
    if result.testsRun == 0 and failed == 0:
        print("linux: no test ran")
        failed = 1
    print(summary(passed, failed), flush=True)
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
