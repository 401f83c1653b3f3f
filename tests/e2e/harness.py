"""End-to-end harness: the real orlimo.exe under Wine and Xvfb.

One Xvfb and one prefix template serve a whole run; every test group gets a
fresh prefix restored from the template (tools/wineprefix.sh), its own HOME,
a stand-in portal on 127.0.0.1 (tools/portal.py) and a stand-in browser
(tools/test-browser) that records the addresses it is given. The program is
watched and driven through orlimo-driver.exe, which runs inside the same
prefix.

Every wait here has a time-out, and every process the harness starts is
ended by the harness: by its own process id, or, for Wine, with
`wineserver -k` on the prefix it made. Child processes of Wine get files,
never pipes, as their standard streams, so that Wine's background services
cannot keep a pipe of the test runner open.
"""

import atexit
import contextlib
import fcntl
import json
import unittest
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import urllib.error
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
TOOLS = ROOT / "tools"
E2E_BUILD = ROOT / "build" / "e2e"

# The architecture under test (configure() sets it): i686 runs in a 32-bit
# prefix, x86_64 in a 64-bit one, each with a driver and menu reader of its
# own build, since both must match the programs they look into.
ARCHES = ("i686", "x86_64")
ARCH = None
PRESET = None
BUILD = None
ORLIMO_EXE = DRIVER_EXE = MENUDUMP_DLL = None
LOGS = None


def runnable_arches():
    """The architectures whose programs this machine's Wine runs, i686
    first, and why i686 is missing when it is (tools/wineprefix.sh arches
    decides by trying the 32-bit loader)."""
    p = subprocess.run(["bash", str(TOOLS / "wineprefix.sh"), "arches"], stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=120)
    return p.stdout.decode().split(), p.stderr.decode().strip()


def configure(arch=None):
    """Points the harness at one build: ORLIMO_ARCH, else the first
    architecture this machine runs. Every Wine process of the run inherits
    ORLIMO_ARCH, so prefixes are made for it."""
    global ARCH, PRESET, BUILD, ORLIMO_EXE, DRIVER_EXE, MENUDUMP_DLL, LOGS
    arch = arch or os.environ.get("ORLIMO_ARCH") or runnable_arches()[0][0]
    if arch not in ARCHES:
        raise HarnessError("unknown architecture %r (one of %s)" % (arch, ", ".join(ARCHES)))
    ARCH = arch
    PRESET = "mingw-" + arch
    os.environ["ORLIMO_ARCH"] = arch
    BUILD = Path(os.environ.get("ORLIMO_BUILD_DIR", ROOT / "build" / PRESET))
    ORLIMO_EXE = BUILD / "orlimo.exe"
    DRIVER_EXE = BUILD / "orlimo-driver.exe"
    MENUDUMP_DLL = BUILD / "menudump.dll"
    LOGS = E2E_BUILD / "logs" / arch
    return arch

INSTALL_DIR = r"c:\Program Files\orlimo"
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
# Quoted: the path holds a blank, and Windows would try c:\Program.exe first.
RUN_VALUE_DATA = r'"c:\Program Files\orlimo\orlimo.exe"'

# Window messages and ids of the program's interface.
WM_LBUTTONDOWN = 0x201
WM_LBUTTONDBLCLK = 0x203
WM_RBUTTONDOWN = 0x204
ID_APP_EXIT = 57665

TIP_NORMAL = "短消息通知"
TIP_NET_FAULT = "消息通知:网络故障!"
TIP_NEW_MESSAGE = "您有新消息!"
APP_TITLE = "orlimo"
NO_SETTINGS_TEXT = "配置文件不存在,请以管理员身份安装!"


class HarnessError(Exception):
    pass


# --------------------------------------------------------------- processes

_started = []          # (kind, object) of everything to stop at exit
_started_lock = threading.Lock()


def _register(obj):
    with _started_lock:
        _started.append(obj)


def _unregister(obj):
    with _started_lock:
        if obj in _started:
            _started.remove(obj)


def cleanup_all():
    """Stops whatever this process started and has not stopped yet, newest
    first. Safe to call more than once and from a signal handler."""
    with _started_lock:
        items = list(reversed(_started))
    for obj in items:
        try:
            obj.stop()
        except Exception:
            pass


atexit.register(cleanup_all)


def _as(account):
    """Popen arguments that run a child as account ((uid, gid), or None for
    this process's own)."""
    if account is None:
        return {}
    return {"user": account[0], "group": account[1], "extra_groups": []}


def run_bounded(argv, timeout, env=None, cwd=None, log=None, account=None):
    """Runs argv to its end or for at most timeout seconds, with its output
    in temporary files (never pipes). Returns (returncode, stdout bytes,
    stderr bytes); on time-out kills the process group it made and raises."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                             env=env, cwd=cwd, start_new_session=True, **_as(account))
        try:
            rc = p.wait(timeout)
        except subprocess.TimeoutExpired:
            _kill_group(p)
            raise HarnessError("timed out after %s s: %s" % (timeout, " ".join(map(str, argv))))
        except BaseException:
            # Interrupted (a test's time limit): leave nothing behind.
            _kill_group(p)
            raise
        out.seek(0)
        err.seek(0)
        o, e = out.read(), err.read()
    if log is not None:
        with open(log, "ab") as f:
            f.write(b"$ " + " ".join(map(str, argv)).encode() + b"\n" + o + e)
    return rc, o, e


def _kill_group(p):
    """Ends the process group that p leads (it was started in its own
    session by this module)."""
    try:
        os.killpg(p.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    try:
        p.wait(5)
    except subprocess.TimeoutExpired:
        pass


def _terminate(proc, grace=5):
    """Ends a process the harness started: politely, then by force."""
    if proc and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(grace)


@contextlib.contextmanager
def machine_lock(name, timeout=300):
    """Holds a lock of this machine named name: what two runs side by side
    cannot share (port 80, making the test account) is done by one at a
    time."""
    path = Path(tempfile.gettempdir()) / ("orlimo-e2e-%s.lock" % name)
    with open(path, "a") as f:
        deadline = time.monotonic() + timeout
        while True:
            try:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise HarnessError("the lock %s stayed busy for %s s" % (path, timeout))
                time.sleep(0.2)
        try:
            yield
        finally:
            fcntl.flock(f, fcntl.LOCK_UN)


def wait_until(predicate, timeout, interval=0.1):
    """Calls predicate until it returns a true value or timeout seconds have
    passed; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


# --------------------------------------------------------------- build

def build(targets=("orlimo", "orlimo-driver", "menudump", "installer"), timeout=900):
    """Configures (once) and builds the program and the driver."""
    if not (BUILD / "build.ninja").exists():
        rc, o, e = run_bounded(["cmake", "--preset", PRESET], timeout, cwd=ROOT)
        if rc != 0:
            raise HarnessError("cmake configure failed:\n" + (o + e).decode(errors="replace")[-4000:])
    rc, o, e = run_bounded(["cmake", "--build", "--preset", PRESET, "--target", *targets],
                           timeout, cwd=ROOT)
    if rc != 0:
        raise HarnessError("build failed:\n" + (o + e).decode(errors="replace")[-4000:])


def check_built():
    missing = [p.name for p in (ORLIMO_EXE, DRIVER_EXE, MENUDUMP_DLL) if not p.exists()]
    if missing:
        raise HarnessError("not built: %s (run python3 tests/e2e/run.py, which builds them)"
                           % ", ".join(missing))


def package_path():
    """The build's installer package (the "installer" target)."""
    arch = "x86" if ARCH == "i686" else "x64"
    return BUILD / ("orlimo-%s-%s.msi" % (cmake_cache_value("CMAKE_PROJECT_VERSION"), arch))


def make_package(version, out, timeout=300):
    """The build's programs packaged again under another product version."""
    rc, o, e = run_bounded(["bash", str(TOOLS / "msi.sh"), ARCH, version, str(BUILD), str(out)], timeout)
    if rc != 0:
        raise HarnessError("msi.sh failed: " + (o + e).decode(errors="replace")[-2000:])


def program_of(arch, timeout=900):
    """The given architecture's orlimo.exe (the mingw-ARCH preset, built
    here when needed)."""
    build = ROOT / "build" / ("mingw-" + arch)
    if not (build / "build.ninja").exists():
        rc, o, e = run_bounded(["cmake", "--preset", "mingw-" + arch], timeout, cwd=ROOT)
        if rc != 0:
            raise HarnessError("cmake configure failed:\n" + (o + e).decode(errors="replace")[-4000:])
    rc, o, e = run_bounded(["cmake", "--build", "--preset", "mingw-" + arch, "-j2", "--target", "orlimo",
                            "orlimo-setup"], timeout, cwd=ROOT)
    if rc != 0:
        raise HarnessError("build failed:\n" + (o + e).decode(errors="replace")[-4000:])
    return build / "orlimo.exe"


def make_package_of(arch, version, out, timeout=900):
    """An installer package of the given architecture's programs (the
    mingw-ARCH preset, built here when needed) under a product version."""
    program_of(arch, timeout)
    build = ROOT / "build" / ("mingw-" + arch)
    rc, o, e = run_bounded(["bash", str(TOOLS / "msi.sh"), arch, version, str(build), str(out)], timeout)
    if rc != 0:
        raise HarnessError("msi.sh failed: " + (o + e).decode(errors="replace")[-2000:])
    return build / "orlimo.exe"


def msi_sql(package, *queries, timeout=120):
    """Changes a built package's tables with msitools' msibuild."""
    for q in queries:
        rc, o, e = run_bounded(["msibuild", str(package), "-q", q], timeout)
        if rc != 0:
            raise HarnessError("msibuild %s: %s" % (q, (o + e).decode(errors="replace")))


def pe_machine(path):
    """The machine field of a Windows program's header (0x14C: x86, 0x8664: x64)."""
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 0x40:
        raise HarnessError("%s is not a Windows program" % path)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    if head[pe:pe + 4] != b"PE\0\0":
        raise HarnessError("%s is not a Windows program" % path)
    return int.from_bytes(head[pe + 4:pe + 6], "little")


def msi_platform(package):
    """The platform of an installer package ("Intel" or "x64"), from its
    summary information's Template, as msiexec reads it."""
    rc, o, e = run_bounded(["msiinfo", "suminfo", str(package)], 60)
    m = re.search(rb"^Template:\s*([^;\s]*)", o, re.M)
    if rc != 0 or not m:
        raise HarnessError("cannot read the summary of %s: %s" % (package, e.decode(errors="replace")))
    return m.group(1).decode()


def run_values(prefix):
    """The machine-wide Run values named orlimo, by registry view ("32",
    "64"): what reg.exe reads there (a 32-bit program's view is the
    Wow6432Node one)."""
    found = {}
    for view in ("32", "64"):
        rc, o, e = prefix.wine("reg", "query", RUN_KEY, "/v", "orlimo", "/reg:" + view, timeout=60)
        if rc == 0 and b"orlimo" in o:
            found[view] = o.decode(errors="replace").split("REG_SZ", 1)[-1].strip()
    return found


def installed_products(prefix, upgrade_code="{6F3B0D2A-6B1C-4E3A-9B1E-2F6C8D0A4E11}"):
    """The packed codes of the products Windows Installer registered under
    the packages' upgrade code."""
    g = upgrade_code.strip("{}").replace("-", "")
    packed = g[7::-1] + g[11:7:-1] + g[15:11:-1] + "".join(g[i + 1] + g[i] for i in range(16, 32, 2))
    rc, o, e = prefix.wine("reg", "query", "HKLM\\Software\\Classes\\Installer\\UpgradeCodes\\" + packed,
                           timeout=60)
    if rc != 0:
        return []
    return sorted(set(re.findall(r"^\s+([0-9A-F]{32})\b", o.decode(errors="replace"), re.M)))


def cmake_cache_value(name):
    """A value of the build's CMake cache, such as ORLIMO_DEFAULT_SERVER."""
    cache = BUILD / "CMakeCache.txt"
    for line in cache.read_text(errors="replace").splitlines():
        m = re.match(r"^%s:[A-Z]+=(.*)$" % re.escape(name), line)
        if m:
            return m.group(1)
    raise HarnessError("%s not in %s" % (name, cache))


# --------------------------------------------------------------- display

class Display:
    """A private Xvfb server; its display number is chosen by Xvfb itself."""

    def __init__(self, size="1280x1024x24"):
        self.size = size
        self.proc = None
        self.name = None

    def start(self, timeout=20):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-nolisten", "tcp", "-screen", "0", self.size],
            pass_fds=(w,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(w)
        _register(self)
        data = b""
        deadline = time.monotonic() + timeout
        try:
            while not data.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([r], [], [], left)[0]:
                    raise HarnessError("Xvfb did not report a display")
                chunk = os.read(r, 64)
                if not chunk:
                    raise HarnessError("Xvfb ended at start")
                data += chunk
        finally:
            os.close(r)
        self.name = ":" + data.decode().strip()
        return self

    def stop(self):
        _terminate(self.proc)
        _unregister(self)

    def screenshot(self, path, timeout=20):
        path = Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        rc, o, e = run_bounded(["import", "-display", self.name, "-window", "root", str(path)], timeout)
        if rc != 0:
            raise HarnessError("screenshot failed: " + e.decode(errors="replace"))
        return path

    def xdotool(self, *args, timeout=10):
        env = dict(os.environ, DISPLAY=self.name)
        rc, o, e = run_bounded(["xdotool", *map(str, args)], timeout, env=env)
        if rc != 0:
            raise HarnessError("xdotool %s failed: %s" % (args, e.decode(errors="replace")))
        return o.decode()


_display = None


def shared_display():
    """The run's one Xvfb, started on first use."""
    global _display
    if _display is None:
        _display = Display().start()
    return _display


# --------------------------------------------------------------- portal

class Portal:
    """tools/portal.py on a free port of 127.0.0.1, scripted over HTTP."""

    def __init__(self, log_path):
        self.log_path = Path(log_path)
        self.proc = None
        self.port = None

    def start(self, timeout=15, port=0):
        self.proc = subprocess.Popen(
            ["python3", str(TOOLS / "portal.py"), "--port", str(port), "--log", str(self.log_path)],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            start_new_session=True)
        _register(self)
        fd = self.proc.stdout.fileno()
        if not select.select([fd], [], [], timeout)[0]:
            raise HarnessError("portal did not start")
        line = self.proc.stdout.readline().decode().strip()
        if not line.isdigit():
            raise HarnessError("portal printed %r" % line)
        self.port = int(line)
        return self

    def stop(self):
        _terminate(self.proc)
        if self.proc and self.proc.stdout:
            self.proc.stdout.close()
        _unregister(self)

    def control(self, command, payload=None, timeout=10):
        url = "http://127.0.0.1:%d/_control/%s" % (self.port, command)
        data = json.dumps(payload).encode() if payload is not None else None
        req = urllib.request.Request(url, data=data, method="POST" if data is not None else "GET")
        try:
            with urllib.request.urlopen(req, timeout=timeout) as r:
                return json.loads(r.read().decode("utf-8"))
        except urllib.error.HTTPError as e:
            raise HarnessError("portal control %s: %s %s" % (command, e.code, e.read()[:200]))

    def set_default(self, kind="text", **opts):
        return self.control("default", dict(opts, kind=kind))

    def queue(self, kind="text", **opts):
        return self.control("queue", dict(opts, kind=kind))

    def requests(self, path=None):
        log = self.control("log")
        return [r for r in log if path is None or r["path"] == path]

    def clear(self):
        return self.control("clear", {})

    def reset(self):
        return self.control("reset", {})


# --------------------------------------------------------------- settings

def config_bytes(server="127.0.0.1", user_id=0, interval_time=1, server_port=80, bookmark=None,
                 extra=(), order=("server", "user_id", "interval_time", "server_port", "bookmark")):
    """A settings file as the program reads it: key=value lines, CR LF line
    ends, in the ANSI code page of a Chinese desktop (GBK). bookmark is a
    list of (caption, address) pairs or a raw text; None leaves the line
    out. extra lines are appended as given (text or bytes)."""
    values = {"server": server, "user_id": user_id, "interval_time": interval_time,
              "server_port": server_port}
    if bookmark is not None:
        values["bookmark"] = bookmark if isinstance(bookmark, str) else \
            "=".join("%s|%s" % pair for pair in bookmark)
    lines = []
    for key in order:
        if key in values and values[key] is not None:
            lines.append(("%s=%s" % (key, values[key])).encode("gbk"))
    for line in extra:
        lines.append(line if isinstance(line, bytes) else line.encode("gbk"))
    return b"".join(line + b"\r\n" for line in lines)


# --------------------------------------------------------------- prefix

def _prefix_env(folder, display):
    """The environment that tools/wineprefix.sh gives a prefix folder."""
    script = 'eval "$("$1" env "$2")" && env -0'
    rc, o, e = run_bounded(["bash", "-c", script, "bash", str(TOOLS / "wineprefix.sh"), str(folder)], 30)
    if rc != 0:
        raise HarnessError("wineprefix.sh env failed: " + e.decode(errors="replace"))
    env = {}
    for item in o.split(b"\0"):
        if b"=" in item:
            k, v = item.split(b"=", 1)
            env[k.decode()] = v.decode()
    if display is not None:
        env["DISPLAY"] = display.name
    return env


class Prefix:
    """A fresh Wine prefix in folder/prefix with HOME folder/home; its
    wineserver runs from start() to stop()."""

    def __init__(self, folder, display):
        self.folder = Path(folder)
        self.display = display
        self.env = None
        self.running = False
        self.log = self.folder / "wine.log"
        self.account = None  # (uid, gid) that runs Wine here; None: this process's

    @property
    def loader(self):
        """The prefix's own Wine loader (never /usr/bin/wine, which picks
        the 32-bit one whenever wine32 is installed)."""
        return self.env["WINELOADER"]

    @property
    def drive_c(self):
        return self.folder / "prefix" / "drive_c"

    def create(self, timeout=600):
        self.folder.mkdir(parents=True, exist_ok=True)
        rc, o, e = run_bounded([str(TOOLS / "wineprefix.sh"), "new", str(self.folder)], timeout)
        if rc != 0:
            raise HarnessError("making the prefix failed: " + (o + e).decode(errors="replace")[-2000:])
        self.env = _prefix_env(self.folder, self.display)
        return self

    def start(self, timeout=90):
        _register(self)
        rc, o, e = run_bounded([str(TOOLS / "wineprefix.sh"), "start", str(self.folder)], timeout,
                               env=self.env, account=self.account)
        if rc != 0:
            raise HarnessError("starting wineserver failed: " + (o + e).decode(errors="replace"))
        self.running = True
        return self

    def stop(self):
        if self.env is not None:
            try:
                run_bounded([str(TOOLS / "wineprefix.sh"), "stop", str(self.folder)], 60, env=self.env,
                            account=self.account)
            except HarnessError:
                pass
        self.running = False
        _unregister(self)

    def remove(self):
        shutil.rmtree(self.folder / "prefix", ignore_errors=True)
        shutil.rmtree(self.folder / "home", ignore_errors=True)

    # -- running programs ---------------------------------------------------

    # -- what can run here ----------------------------------------------------

    def missing_32bit_parts(self):
        """Why a 32-bit program cannot run in this prefix, or None. A 64-bit
        prefix booted where 32-bit programs could not run has an empty
        syswow64: a 32-bit program (an x86 package's custom actions among
        them) then never starts, and msiexec waits for its custom-action
        server until it is killed."""
        if self.env.get("WINEARCH") != "win64":
            return None
        if (self.drive_c / "windows" / "syswow64" / "kernel32.dll").is_file():
            return None
        return ("this 64-bit prefix has no 32-bit parts (windows\\syswow64 holds no kernel32.dll): "
                "its template was made where 32-bit programs could not run")

    def _needs_32bit(self, args):
        """Whether a command line runs 32-bit code: a 32-bit program or an
        x86 installer package among its arguments (c:\\ paths or host paths)."""
        for arg in map(str, args):
            low = arg.lower()
            if not low.endswith((".exe", ".msi")):
                continue
            try:
                path = self.host_path(arg) if re.match(r"^[a-z]:[\\/]", low) else Path(arg)
                if not path.is_file():
                    continue
                if low.endswith(".exe"):
                    if pe_machine(path) == 0x14C:
                        return True
                elif msi_platform(path) == "Intel":
                    return True
            except (OSError, HarnessError):
                continue
        return False

    def check_can_run(self, args):
        """Fails at once, naming the reason, when the command cannot run in
        this prefix at all, rather than letting it wait out its time limit."""
        why = self._needs_32bit(args) and self.missing_32bit_parts()
        if why:
            raise HarnessError("cannot run %s: %s" % (" ".join(map(str, args)), why))

    def wine(self, *args, timeout=60, cwd=None):
        """Runs a Wine program to its end; returns (rc, stdout, stderr). A run
        that Wine's loader ended before the program's code ran (its own
        start-up message says so) is made again, as a driver call is; no
        other run is ever repeated. A program that cannot run in this prefix
        at all fails at once (check_can_run)."""
        self.check_can_run(args)
        env = dict(self.env, WINEDEBUG=WINE_START_DEBUG)
        for attempt in range(NEVER_STARTED_RETRIES + 1):
            rc, o, e = run_bounded([self.loader, *map(str, args)], timeout, env=env, cwd=cwd, log=self.log,
                                   account=self.account)
            if rc == 0 or WINE_START_FAILURE not in e or attempt == NEVER_STARTED_RETRIES:
                return rc, o, e
            note_retry(self, "wine", args, rc, e)

    def spawn(self, *args, cwd=None, log=None, winedebug=None):
        """Starts a Wine program and leaves it running (its own session,
        output to log)."""
        self.check_can_run(args)
        out = open(log or self.log, "ab")
        env = self.env if winedebug is None else dict(self.env, WINEDEBUG=winedebug)
        try:
            p = subprocess.Popen([self.loader, *map(str, args)], stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=subprocess.STDOUT, env=env, cwd=cwd,
                                 start_new_session=True, **_as(self.account))
        finally:
            out.close()
        return p

    # -- files and registry -------------------------------------------------

    def host_path(self, win_path):
        """The Linux path of a c:\\ path, matching names without regard to
        case as Windows does. Parts that do not exist yet keep the case
        given."""
        m = re.match(r"^[cC]:[\\/](.*)$", win_path)
        if not m:
            raise HarnessError("not a c:\\ path: %r" % win_path)
        path = self.drive_c
        for part in [p for p in re.split(r"[\\/]", m.group(1)) if p]:
            found = None
            if path.is_dir():
                for entry in os.listdir(path):
                    if entry.lower() == part.lower():
                        found = entry
                        break
            path = path / (found or part)
        return path

    def read_file(self, win_path):
        return self.host_path(win_path).read_bytes()

    def exists(self, win_path):
        return self.host_path(win_path).exists()

    def listdir(self, win_path):
        p = self.host_path(win_path)
        return sorted(os.listdir(p)) if p.is_dir() else None

    def reg_query(self, key, value):
        """(type, data) of a registry value as `wine reg query` shows it, or
        None when the value does not exist."""
        rc, o, e = self.wine("reg", "query", key, "/v", value, timeout=60)
        if rc != 0:
            return None
        text = o.decode("gbk", errors="replace")
        for line in text.splitlines():
            parts = re.split(r"\s{4}|\t", line.strip(), maxsplit=2)
            if len(parts) >= 2 and parts[0].lower() == value.lower() and parts[1].startswith("REG_"):
                return parts[1], parts[2] if len(parts) == 3 else ""
        raise HarnessError("cannot read reg query output: %r" % text)

    def reg_delete(self, key, value):
        rc, o, e = self.wine("reg", "delete", key, "/v", value, "/f", timeout=60)
        return rc == 0


# --------------------------------------------------------------- driver

class DriverError(HarnessError):
    pass


# Now and then Wine's 64-bit loader cannot place the page it shares with
# every process at its fixed address and ends the new process with exit
# code 1 before any of its code runs. Under WINEDEBUG=-all it says nothing;
# the one channel below makes it say why, and nothing else.
WINE_START_DEBUG = "-all,err+virtual"
WINE_START_FAILURE = b"failed to map the shared user data"


NEVER_STARTED_RETRIES = 3
retries = []    # (arguments, exit code, stderr) of every retry of the run


def note_retry(prefix, what, args, rc, err):
    """Writes a retry of a run that never started to the run's output and
    to driver-retries.log among the group's logs."""
    line = "%s %s %s: exit %s before it started; stderr %r; started again\n" % (
        time.strftime("%H:%M:%S"), what, " ".join(map(str, args)), rc, err[-300:])
    retries.append((args, rc, err))
    print("DRIVER RETRY " + line, end="", flush=True)
    try:
        with open(prefix.folder / "driver-retries.log", "a") as f:
            f.write(line)
    except OSError:
        pass


class Driver:
    """Runs orlimo-driver.exe subcommands in a prefix; each returns the
    parsed JSON it printed.

    The driver says "orlimo-driver: started" on stderr before it does
    anything. A call that ends with neither that line nor any output never
    reached the driver's own code (Wine did not start it), so it is made
    again, at most NEVER_STARTED_RETRIES times (see note_retry). A call
    that started is never made again, whatever it answered."""

    STARTED = b"orlimo-driver: started\n"

    def __init__(self, prefix):
        self.prefix = prefix

    def _run(self, args, timeout):
        argv = [self.prefix.loader, str(DRIVER_EXE), *map(str, args)]
        env = dict(self.prefix.env, WINEDEBUG=WINE_START_DEBUG)
        for attempt in range(NEVER_STARTED_RETRIES + 1):
            rc, out, err = run_bounded(argv, timeout, env=env, account=self.prefix.account)
            started = self.STARTED in err
            if started or out.strip() or attempt == NEVER_STARTED_RETRIES:
                return rc, out, err.replace(self.STARTED, b"", 1), started
            note_retry(self.prefix, "driver", args, rc, err)

    def call(self, *args, timeout=30, check=True):
        rc, out, err, started = self._run(args, timeout)
        text = out.decode("utf-8", errors="replace").strip()
        # The JSON document is the driver's last line; programs that the
        # driver starts may write before it.
        last = text.splitlines()[-1] if text else ""
        try:
            data = json.loads(last) if last else None
        except ValueError:
            data = None
        if check and rc != 0:
            raise DriverError("driver %s: exit %d%s: %s %s" % (
                " ".join(map(str, args)), rc, "" if started else " (it never started)",
                text[-500:], err.decode(errors="replace")[-500:]))
        if data is None and check:
            raise DriverError("driver %s printed no JSON: %r" % (" ".join(map(str, args)), text[-500:]))
        return data if check else (rc, data)

    def try_call(self, *args, timeout=30):
        """(exit code, data) without raising for a non-zero exit."""
        return self.call(*args, timeout=timeout, check=False)

    def reg_get(self, key, value):
        """A registry value exactly as stored ({"type", "size", "hex",
        "text"}), or None when it does not exist."""
        rc, data = self.try_call("reg-get", key, value)
        return data if rc == 0 else None


# --------------------------------------------------------------- the program

class Orlimo:
    """One running orlimo.exe."""

    def __init__(self, env, proc, folder):
        self.env = env
        self.proc = proc
        self.folder = folder
        self.pid = None      # Windows process id, once its window is seen
        self.hwnd = None

    def alive(self):
        return self.proc.poll() is None

    def output(self):
        try:
            return self.env.orlimo_log.read_bytes().decode("utf-8", errors="replace")
        except FileNotFoundError:
            return ""

    def crashed(self):
        """Text of a crash report in the program's output, or None."""
        text = self.output()
        for mark in ("Unhandled exception", "Backtrace:", "wine: Unhandled", "page fault"):
            if mark in text:
                return text[-3000:]
        return None

    def wait_exit(self, timeout):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.alive():
            self.proc.kill()
            self.wait_exit(10)


_code_page_seen = None


def _check_code_page(driver):
    """The settings files and captions of these tests are GBK, as on the
    Chinese desktops the program serves: a prefix whose ANSI code page is not
    936 (the zh_CN.UTF-8 locale missing or not yet seen by the calling
    process) would make them fail for the wrong reason, or pass by luck.
    Checked once a run."""
    global _code_page_seen
    if _code_page_seen is None:
        _code_page_seen = driver.call("acp")["acp"]
    if _code_page_seen != 936:
        raise HarnessError("Wine's ANSI code page is %s, not 936: is the zh_CN.UTF-8 locale there "
                           "(locale -a)?" % _code_page_seen)


class Environment:
    """What one test group runs in: a fresh prefix with its wineserver, the
    run's display, a stand-in portal and the stand-in browser's log."""

    def __init__(self, name, display=None):
        self.name = name
        self.display = display or shared_display()
        base = Path(os.environ.get("ORLIMO_E2E_WORK", E2E_BUILD / "work")) / ARCH
        base.mkdir(parents=True, exist_ok=True)
        self.folder = Path(tempfile.mkdtemp(prefix=re.sub(r"\W", "_", name) + ".", dir=base))
        self.prefix = Prefix(self.folder, self.display)
        self.driver = Driver(self.prefix)
        self.portal = Portal(self.folder / "portal.log")
        self.browser_log = self.folder / "browser.log"
        self.orlimo_log = self.folder / "orlimo.log"
        self.running = []
        self._user = None

    # -- life cycle -----------------------------------------------------------

    def start(self):
        check_built()
        _register(self)
        self.portal.start()
        self.prefix.create()
        self.prefix.env["ORLIMO_BROWSER_LOG"] = str(self.browser_log)
        self.prefix.start()
        _check_code_page(self.driver)
        return self

    def stop(self):
        for prog in list(self.running):
            prog.kill()
        self.running = []
        self.prefix.stop()
        self.portal.stop()
        _unregister(self)
        if os.environ.get("ORLIMO_E2E_KEEP") != "1":
            self.prefix.remove()
            shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- a standard user ---------------------------------------------------------

    STANDARD_USER = "orlimostd"

    def become_standard_user(self):
        """From here on Wine runs as an unprivileged Linux account that owns
        the prefix, with the install folder left to root: as on Windows 10/11
        for a standard user, creating a file there is refused (access denied),
        while HKLM stays writable under Wine. The account is made when missing
        (this needs root; without it the group is skipped)."""
        import pwd
        if os.geteuid() != 0:
            raise unittest.SkipTest("a second Linux account needs root")
        name = self.STANDARD_USER
        with machine_lock("account"):
            try:
                pwd.getpwnam(name)
            except KeyError:
                rc, o, e = run_bounded(["useradd", "--no-create-home", "--user-group",
                                        "--shell", "/usr/sbin/nologin", name], 60)
                if rc != 0:
                    raise HarnessError("useradd %s: %s" % (name, (o + e).decode(errors="replace")))
        entry = pwd.getpwnam(name)
        account = (entry.pw_uid, entry.pw_gid)
        self.prefix.stop()
        tmp = self.folder / "tmp"  # Wine's server sockets live under TMPDIR
        tmp.mkdir(exist_ok=True)
        for root, dirs, files in os.walk(self.folder):
            for item in dirs + files:
                os.lchown(os.path.join(root, item), *account)
        os.lchown(self.folder, *account)
        install = self.prefix.host_path(INSTALL_DIR)
        for root, dirs, files in os.walk(install):
            for item in dirs + files:
                os.lchown(os.path.join(root, item), 0, 0)
        os.lchown(install, 0, 0)
        os.chmod(install, 0o755)
        self.prefix.account = account
        self.prefix.env.update(TMPDIR=str(tmp), USER=name, LOGNAME=name)
        self._user = None
        self.prefix.start()
        return name

    def use_code_page(self, lang, acp):
        """From here on Wine runs with LANG and LC_ALL lang, whose ANSI code
        page is acp (the prefix's wineserver started again with it)."""
        self.prefix.stop()
        self.prefix.env.update(LANG=lang, LC_ALL=lang)
        self.prefix.start()
        got = self.driver.call("acp")["acp"]
        if got != acp:
            raise HarnessError("Wine's ANSI code page under %s is %s, not %s: is the locale there "
                               "(locale -a; tools/setup.sh makes it)?" % (lang, got, acp))

    # -- settings and launch folders -----------------------------------------

    def config(self, **kw):
        """config_bytes() aimed at this environment's portal by default."""
        kw.setdefault("server", "127.0.0.1")
        kw.setdefault("server_port", self.portal.port)
        return config_bytes(**kw)

    def launch_folder(self, name="setup", config=None, exe_suffix=b""):
        """c:\\NAME holding orlimo.exe (plus exe_suffix bytes appended, which
        Windows ignores) and, unless config is None, config.properties."""
        folder = self.prefix.drive_c / name
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "orlimo.exe").write_bytes(ORLIMO_EXE.read_bytes() + exe_suffix)
        cfg = folder / "config.properties"
        if config is None:
            if cfg.exists():
                cfg.unlink()
        else:
            cfg.write_bytes(config)
        return folder

    def install_path(self, name=""):
        return INSTALL_DIR + "\\" + name if name else INSTALL_DIR

    def user(self):
        """The Windows user name that the program sees."""
        if self._user is None:
            self._user = self.driver.call("user")["user"]
        return self._user

    def user_config_path(self):
        return self.install_path("%s.config.properties" % self.user())

    def write_user_config(self, data):
        """Writes the per-user settings file directly, as a previous run or an
        administrator would have left it."""
        p = self.prefix.host_path(self.user_config_path())
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)

    # -- the program ----------------------------------------------------------

    def launch(self, folder=None, wait_tray=True, timeout=30, args=()):
        """Starts orlimo.exe from folder (its current folder), with args on
        its command line, and, unless told not to, waits for its tray icon."""
        folder = Path(folder or self.launch_folder())
        for attempt in range(NEVER_STARTED_RETRIES + 1):
            offset = self.orlimo_log.stat().st_size if self.orlimo_log.exists() else 0
            proc = self.prefix.spawn(folder / "orlimo.exe", *args, cwd=folder, log=self.orlimo_log,
                                     winedebug=WINE_START_DEBUG)
            prog = Orlimo(self, proc, folder)
            self.running.append(prog)
            if not wait_tray:
                return prog
            try:
                self.wait_started(prog, timeout)
                return prog
            except HarnessError:
                if attempt == NEVER_STARTED_RETRIES or not self._never_started(prog, offset):
                    raise
            self.running.remove(prog)
            note_retry(self.prefix, "program", ["orlimo.exe"], prog.proc.returncode, b"")
        return prog

    def _never_started(self, prog, offset):
        """True when Wine ended prog before its code ran (its loader's own
        start-up message in the program's output)."""
        if prog.alive():
            return False
        with open(self.orlimo_log, "rb") as f:
            f.seek(offset)
            return WINE_START_FAILURE in f.read()

    def wait_started(self, prog, timeout=30, tip=None):
        """Waits until prog's main window and its tray icon are there."""
        deadline = time.monotonic() + timeout
        rc, frames = self.driver.try_call("wait-frame", int(timeout * 1000), timeout=timeout + 15)
        if rc != 0 or not frames:
            raise HarnessError("no OrlimoMainFrame window after %s s (alive: %s)\n%s"
                               % (timeout, prog.alive(), prog.output()[-2000:]))
        prog.hwnd, prog.pid = frames[0]["hwnd"], frames[0]["pid"]
        left = max(1.0, deadline - time.monotonic())
        args = ["wait-tray", int(left * 1000)] + ([tip] if tip else [])
        rc, icons = self.driver.try_call(*args, timeout=left + 15)
        if rc != 0:
            raise HarnessError("no tray icon after %s s: %s" % (timeout, icons))
        return icons

    def exit(self, prog, timeout=15, how="command"):
        """Ends prog through its exit command; returns its exit status, or
        None when it did not end within timeout."""
        if how == "command":
            self.driver.call("post-command", ID_APP_EXIT)
        code = prog.wait_exit(timeout)
        if code is not None and prog in self.running:
            self.running.remove(prog)
        return code

    def stop_program(self, prog, timeout=15):
        """Ends prog: exit command first, then kill."""
        if prog.alive():
            try:
                self.exit(prog, timeout)
            except HarnessError:
                pass
        prog.kill()
        if prog in self.running:
            self.running.remove(prog)

    # -- tray -----------------------------------------------------------------

    def tray_icons(self):
        rc, icons = self.driver.try_call("tray-icons")
        return [i for i in (icons or []) if i.get("visible")]

    def tray_tips(self):
        return [i["tip"] for i in self.tray_icons()]

    def wait_tip(self, text, timeout=10):
        rc, icons = self.driver.try_call("wait-tray", int(timeout * 1000), text, timeout=timeout + 15)
        return rc == 0

    def wait_no_tray(self, timeout=10):
        rc, icons = self.driver.try_call("wait-no-tray", int(timeout * 1000), timeout=timeout + 15)
        return rc == 0

    # -- menus ----------------------------------------------------------------

    def open_tray_menu(self, real_click=False, button=3, timeout=10):
        """Opens the tray menu (posted WM_RBUTTONDOWN, or a real click on the
        icon) and returns the dump of the open menus."""
        if real_click:
            icons = self.tray_icons()
            if not icons:
                raise HarnessError("no tray icon to click")
            l, t, r, b = icons[0]["rect"]
            self.display.xdotool("mousemove", (l + r) // 2, (t + b) // 2, "click", button)
        else:
            self.driver.call("post-tray", WM_RBUTTONDOWN)
        rc, menus = self.driver.try_call("wait-menu", int(timeout * 1000), timeout=timeout + 15)
        if rc != 0:
            raise HarnessError("the tray menu did not open")
        return self.menu()

    def menu(self):
        return self.driver.call("menu")

    def close_menus(self):
        self.driver.try_call("menu-close")

    def open_submenu(self, caption, timeout=5):
        """With the tray menu open and nothing chosen yet, moves to the item
        with this caption by keyboard and opens its submenu. Returns the dump
        (menus[0] is the submenu)."""
        dump = self.menu()
        items = dump["menus"][-1]["items"]
        target = [i for i in items if i["text"] == caption]
        if not target:
            raise HarnessError("no item %r in %r" % (caption, [i["text"] for i in items]))
        pos = target[0]["pos"]
        downs = sum(1 for i in items[:pos + 1] if not i["separator"])
        hilited = [i for i in items if i["hilite"]]
        if hilited:
            raise HarnessError("open_submenu wants a fresh menu")
        self.driver.call("menu-key", *(["down"] * downs))
        dump = self.menu()
        here = [i for i in dump["menus"][-1]["items"] if i["hilite"]]
        if [i["pos"] for i in here] != [pos]:
            raise HarnessError("keyboard reached %r, not %r" % ([i["text"] for i in here], caption))
        before = len(dump["menus"])
        self.driver.call("menu-key", "right")
        ok = wait_until(lambda: len(self.menu()["menus"]) > before, timeout)
        if not ok:
            raise HarnessError("submenu %r did not open" % caption)
        return self.menu()

    # -- dialogs ----------------------------------------------------------------

    def wait_dialog(self, title, timeout=15):
        """True once a dialog with this title is visible."""
        rc, _ = self.driver.try_call("wait-dialog", title, int(timeout * 1000), timeout=timeout + 15)
        return rc == 0

    def wait_no_dialog(self, title, timeout=15):
        """True once no dialog with this title is visible."""
        rc, _ = self.driver.try_call("wait-no-dialog", title, int(timeout * 1000),
                                     timeout=timeout + 15)
        return rc == 0

    # -- browser and portal -----------------------------------------------------

    def reference_addresses(self, address):
        """What the stand-in browser gets when Wine's shell itself opens
        address: the yardstick for "the browser got exactly this"."""
        self.clear_browser()
        self.driver.call("shell-open", address)
        got = self.wait_browser(1, 15)
        time.sleep(0.5)
        return got

    def browser_addresses(self):
        try:
            text = self.browser_log.read_bytes().decode("utf-8", errors="surrogateescape")
        except FileNotFoundError:
            return []
        return text.split("\n")[:-1]

    def wait_browser(self, count, timeout=15):
        """Waits until the stand-in browser has been started count times in
        all; returns the addresses it got."""
        wait_until(lambda: len(self.browser_addresses()) >= count, timeout)
        return self.browser_addresses()

    def clear_browser(self):
        if self.browser_log.exists():
            self.browser_log.unlink()

    def screenshot(self, name):
        return self.display.screenshot(self.folder / (name + ".png"))

    def keep_logs(self, into):
        """Copies the small logs of this environment into a folder."""
        into = Path(into)
        into.mkdir(parents=True, exist_ok=True)
        for p in self.folder.iterdir():
            if p.is_file() and p.stat().st_size < 20 * 1024 * 1024:
                shutil.copy2(p, into / p.name)


def stop_shared_display():
    global _display
    if _display is not None:
        _display.stop()
        _display = None


# --------------------------------------------------------------- test groups

class GroupTestCase(unittest.TestCase):
    """A group of end-to-end tests sharing one fresh Environment: made in
    setUpClass, then setUpGroup (override it) prepares the scene; the logs
    are kept in build/e2e/logs/<class>/ and everything is stopped after the
    group."""

    env = None

    @classmethod
    def setUpClass(cls):
        started = time.monotonic()
        cls.env = Environment(cls.__name__)
        try:
            cls.env.start()
            cls.setUpGroup()
        except BaseException:
            cls._finish()
            raise
        print("GROUP %s ready in %.1f s" % (cls.__name__, time.monotonic() - started), flush=True)

    @classmethod
    def setUpGroup(cls):
        pass

    @classmethod
    def tearDownClass(cls):
        cls._finish()

    @classmethod
    def _finish(cls):
        env, cls.env = cls.env, None
        if env is None:
            return
        try:
            target = LOGS / cls.__name__
            shutil.rmtree(target, ignore_errors=True)
            env.keep_logs(target)
        finally:
            env.stop()

    # Set when a test of the group failed (the runner's result does it).
    left_unfinished = False

    @classmethod
    def note_failure(cls):
        cls.left_unfinished = True

    def setUp(self):
        """A test after one that failed starts from a known state: nothing
        of the program open (no dialog, message box or menu), whatever the
        failed test left open closed here and named in the run's output and
        in known-state.log of the group's logs, so one failure stays one
        failure. After a test that passed, the scene is the one it left,
        which the group's next test may build on (a prompt the program
        raised meanwhile is part of it)."""
        env = self.env
        cls = type(self)
        if not cls.left_unfinished:
            return
        cls.left_unfinished = False
        if env is None or not any(p.alive() for p in env.running):
            return
        rc, data = env.driver.try_call("reset-ui", timeout=60)
        closed = (data or {}).get("closed") or []
        if closed or rc != 0:
            what = ", ".join("%s %r" % (c.get("class"), c.get("title")) for c in closed)
            line = "KNOWN STATE before %s: closed %s%s" % (
                self.id(), what or "nothing",
                "" if rc == 0 else "; still open: %r" % ((data or {}).get("left"),))
            print(line, flush=True)
            try:
                with open(env.folder / "known-state.log", "a") as f:
                    f.write(line + "\n")
            except OSError:
                pass
            if rc != 0:
                self.fail("the program could not be brought to a known state: " + line)

    def launch(self, folder=None, wait_tray=True, timeout=30, args=()):
        """Starts the program for this test; it is ended when the test ends."""
        env = self.env
        before = list(env.running)
        self.addCleanup(lambda: [env.stop_program(p) for p in list(env.running) if p not in before])
        return env.launch(folder, wait_tray=wait_tray, timeout=timeout, args=args)
