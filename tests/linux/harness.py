"""Black-box harness for the Linux front end: the real build/linux/orlimo
under a private Xvfb and a private session bus.

One run has one Xvfb, one session bus (dbus-daemon --session), one stand-in
StatusNotifierWatcher (sni_watcher.py) and one stand-in portal
(tools/portal.py). Each program start gets fresh XDG folders (home, config,
data, the system configuration folder the package would fill) and a stand-in
xdg-open first on PATH (tools/test-browser) that records every address.

The program is observed and driven the way a desktop does it:
  - its StatusNotifierItem (tooltip, status, icon; Activate and
    SecondaryActivate) and its menu over com.canonical.dbusmenu (GetLayout,
    AboutToShow, Event "clicked");
  - its dialogs through the accessibility bus (AT-SPI): texts, fields,
    buttons, as a screen reader sees and uses them.

Every process started here is ended here, by its own process id.
"""

import json
import os
import re
import select
import subprocess
import tempfile
import time
import unittest
import urllib.request
from pathlib import Path

import dbus
import dbus.bus
import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
TOOLS = ROOT / "tools"
BUILD = Path(os.environ.get("ORLIMO_LINUX_BUILD", ROOT / "build" / "linux"))
PROGRAM = BUILD / "orlimo"
PYTHON = "/usr/bin/python3"

TIP_NORMAL = "短消息通知"
TIP_NET_FAULT = "消息通知:网络故障!"
TIP_NEW_MESSAGE = "您有新消息!"
NO_SETTINGS_TEXT = "配置文件不存在,请以管理员身份安装!"
SNI = "org.kde.StatusNotifierItem"
DBUSMENU = "com.canonical.dbusmenu"
INSTANCE = "com.dunlore.orlimo"  # the running program's name on the session bus


class HarnessError(Exception):
    pass


def item_bus_name(item):
    """The bus name of a watcher's item: "NAME", "NAME/PATH", or GNOME's
    "NAME@/PATH"."""
    return re.split(r"[@/]", str(item), 1)[0]


def wait_until(predicate, timeout, interval=0.1):
    """Calls predicate until it returns a true value or timeout seconds have
    passed; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def _terminate(proc, grace=5):
    if proc is not None and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(grace)


def _read_line(proc, timeout, what):
    fd = proc.stdout.fileno()
    if not select.select([fd], [], [], timeout)[0]:
        raise HarnessError(what + " did not start")
    return proc.stdout.readline().decode().strip()


def _read_all_line(fd, timeout, what):
    """One line from a pipe that a starting server writes to."""
    data = b""
    deadline = time.monotonic() + timeout
    while not data.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise HarnessError(what + " did not start")
        chunk = os.read(fd, 256)
        if not chunk:
            raise HarnessError(what + " ended at start")
        data += chunk
    return data.decode().strip()


def settings_text(server="127.0.0.1", port=80, user_id=0, interval=1, bookmark=None, encoding="utf-8"):
    """A settings file as the program writes one (CR LF line ends)."""
    lines = ["server=" + server, "user_id=%d" % user_id, "interval_time=%d" % interval,
             "server_port=%d" % port]
    if bookmark is not None:
        lines.append("bookmark=" + bookmark)
    return ("".join(line + "\r\n" for line in lines)).encode(encoding)


class Run:
    """The processes one test run shares."""

    def __init__(self, work):
        self.work = Path(work)
        self.procs = []
        self.display = None
        self.bus_address = None
        self.portal_port = None
        self.bus = None

    # -- start and stop ----------------------------------------------------

    def start(self):
        self.work.mkdir(parents=True, exist_ok=True)
        self._start_xvfb()
        self._start_bus()
        watcher = self._spawn([PYTHON, str(Path(__file__).parent / "sni_watcher.py")],
                              stdout=subprocess.PIPE)
        if _read_line(watcher, 15, "the tray watcher") != "ready":
            raise HarnessError("the tray watcher did not start")
        portal = self._spawn([PYTHON, str(TOOLS / "portal.py"), "--port", "0",
                              "--log", str(self.work / "portal.log")], stdout=subprocess.PIPE)
        self.portal_port = int(_read_line(portal, 15, "the portal"))
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        os.environ["DISPLAY"] = self.display
        self.bus = dbus.SessionBus()
        return self

    def _spawn(self, argv, **kw):
        env = kw.pop("env", None) or self.base_env()
        kw.setdefault("stdout", subprocess.DEVNULL)
        p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                             start_new_session=True, **kw)
        self.procs.append(p)
        return p

    def _start_xvfb(self):
        p, self.display = start_xvfb()
        self.procs.append(p)

    def _start_bus(self):
        self.bus_address = self.start_bus()

    def start_bus(self):
        """A bus daemon of its own (the run's session bus, or a private
        "system bus" for a test); its address. It ends with the run."""
        # In the foreground, as a child of this process, so it is waited for.
        r, w = os.pipe()
        self._spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                     "--print-address=%d" % w], pass_fds=(w,), env=self.base_env(with_bus=False))
        os.close(w)
        try:
            return _read_all_line(r, 20, "dbus-daemon")
        finally:
            os.close(r)

    def stand_in(self, role, address):
        """tests/linux/desktop_stand_ins.py ROLE on the bus at address: its
        object, once it owns its name. It ends with the run."""
        p = self._spawn([PYTHON, str(Path(__file__).parent / "desktop_stand_ins.py"), role, address],
                        stdout=subprocess.PIPE)
        if _read_line(p, 15, "the %s stand-in" % role) != "ready":
            raise HarnessError("the %s stand-in did not start" % role)
        name, path = {"notifications": ("org.freedesktop.Notifications", "/org/freedesktop/Notifications"),
                      "logind": ("org.freedesktop.login1", "/org/freedesktop/login1")}[role]
        return p, dbus.bus.BusConnection(address).get_object(name, path)

    def stop(self):
        for p in reversed(self.procs):
            _terminate(p)
        self.procs = []

    # -- environment -------------------------------------------------------

    def base_env(self, with_bus=True):
        env = {k: v for k, v in os.environ.items()
               if not k.lower().endswith("_proxy") and not k.startswith(("XDG_", "QT_", "DESKTOP", "KDE", "GNOME"))}
        env["LANG"] = "C.UTF-8"
        env.pop("LC_ALL", None)
        if self.display:
            env["DISPLAY"] = self.display
        if with_bus and self.bus_address:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        return env

    # -- the portal --------------------------------------------------------

    def set_tray_host(self, registered):
        """Whether the stand-in watcher says a tray host is registered."""
        watcher = self.bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
        watcher.SetHostRegistered(registered, dbus_interface="org.orlimo.Test")

    def portal(self, command, payload=None):
        url = "http://127.0.0.1:%d/_control/%s" % (self.portal_port, command)
        data = None if payload is None else json.dumps(payload).encode()
        req = urllib.request.Request(url, data=data, method="GET" if data is None else "POST")
        with urllib.request.urlopen(req, timeout=10) as r:
            return json.loads(r.read().decode() or "null")

    def portal_requests(self, path=None):
        log = self.portal("log")
        return [e for e in log if path is None or e.get("path") == path]

    def another_portal(self):
        """A second stand-in portal of its own (another company portal):
        a Run-like object with portal_port, portal() and portal_requests();
        the caller ends it with harness._terminate(its .proc)."""
        other = Run(self.work)
        other.proc = self._spawn([PYTHON, str(TOOLS / "portal.py"), "--port", "0"], stdout=subprocess.PIPE)
        other.portal_port = int(_read_line(other.proc, 15, "another portal"))
        return other


def start_xvfb():
    """An Xvfb display of its own: (process, ":N")."""
    r, w = os.pipe()
    p = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-nolisten", "tcp", "-screen", "0",
                          "1280x1024x24"], pass_fds=(w,), stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
    os.close(w)
    try:
        return p, ":" + _read_all_line(r, 20, "Xvfb")
    except HarnessError:
        _terminate(p)
        raise
    finally:
        os.close(r)


class Program:
    """One start of the program with XDG folders of its own."""

    def __init__(self, run, name, program=PROGRAM):
        self.run = run
        self.program = Path(program)
        self.dir = Path(tempfile.mkdtemp(prefix=name + "-", dir=run.work))
        self.home = self.dir / "home"
        self.config_home = self.home / ".config"
        self.data_home = self.home / ".local" / "share"
        self.system = self.dir / "etc-xdg"   # stands for /etc/xdg
        self.runtime = self.dir / "runtime"
        self.bin = self.dir / "bin"
        self.browser_log = self.dir / "browser.log"
        for d in (self.config_home, self.data_home, self.system, self.bin):
            d.mkdir(parents=True)
        self.runtime.mkdir(mode=0o700)
        (self.bin / "xdg-open").symlink_to(TOOLS / "test-browser")
        self.proc = None
        self.item_name = None
        self.out = None
        self.env_overrides = {}  # e.g. another DISPLAY; None takes a variable away

    # -- files -------------------------------------------------------------

    @property
    def shared_config(self):
        return self.system / "orlimo" / "config.properties"

    @property
    def user_config(self):
        return self.config_home / "orlimo" / "config.properties"

    @property
    def user_autostart(self):
        return self.config_home / "autostart" / "orlimo.desktop"

    @property
    def system_autostart(self):
        return self.system / "autostart" / "orlimo.desktop"

    def write(self, path, data):
        path = Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data if isinstance(data, bytes) else data.encode())

    def env(self):
        env = self.run.base_env()
        env.update({
            "HOME": str(self.home),
            "XDG_CONFIG_HOME": str(self.config_home),
            "XDG_CONFIG_DIRS": str(self.system),
            "XDG_DATA_HOME": str(self.data_home),
            "XDG_RUNTIME_DIR": str(self.runtime),
            "PATH": str(self.bin) + os.pathsep + env.get("PATH", "/usr/bin:/bin"),
            "ORLIMO_BROWSER_LOG": str(self.browser_log),
            # Qt's switch for the accessibility bridge, as a screen reader's
            # presence would turn it on.
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_QPA_PLATFORM": "xcb",
        })
        env.update(self.env_overrides)
        return {k: v for k, v in env.items() if v is not None}

    def output(self):
        """What the program wrote to stdout and stderr so far, whole lines."""
        path = self.dir / "program.log"
        text = path.read_bytes().decode("utf-8", errors="replace") if path.exists() else ""
        return text.split("\n")[:-1]

    # -- start and stop ----------------------------------------------------

    def start(self, wait_tray=True):
        before = set(self.items())
        self.out = open(self.dir / "program.log", "wb")
        # A script of a test's own (it starts the program itself, through
        # EMULATOR where needed) runs as it is; the program runs through it.
        with open(self.program, "rb") as f:
            emulator = [] if f.read(2) == b"#!" else EMULATOR
        self.proc = subprocess.Popen(emulator + [str(self.program)], stdin=subprocess.DEVNULL, stdout=self.out,
                                     stderr=subprocess.STDOUT, env=self.env(), cwd=str(self.dir),
                                     start_new_session=True)
        self.run.procs.append(self.proc)
        if wait_tray:
            self.wait_tray(before)
        return self

    def items(self):
        watcher = self.run.bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
        return [str(i) for i in watcher.Get("org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems",
                                            dbus_interface=dbus.PROPERTIES_IFACE)]

    def wait_tray(self, before=(), timeout=20):
        new = wait_until(lambda: [i for i in self.items() if i not in before], timeout)
        if not new:
            raise HarnessError("no tray item registered within %d s" % timeout)
        self.item_name = item_bus_name(new[-1])

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def holds_instance_name(self):
        """Whether this start of the program is the session's running one."""
        daemon = self.run.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
        try:
            pid = daemon.GetConnectionUnixProcessID(INSTANCE, dbus_interface="org.freedesktop.DBus")
        except dbus.DBusException:
            return False
        return self.proc is not None and int(pid) == self.proc.pid

    def stop(self):
        held = self.running() and self.holds_instance_name()
        if self.running():
            try:
                self.choose_caption("退出")
                self.proc.wait(10)
            except Exception:
                pass
        _terminate(self.proc)
        if self.proc in self.run.procs:
            self.run.procs.remove(self.proc)
        if self.out:
            self.out.close()
            self.out = None
        # The session bus drops an ended program's name on its own time: the
        # next start must not find it still taken.
        if held:
            wait_until(lambda: not self.run.bus.name_has_owner(INSTANCE), 5)

    # -- the tray item -----------------------------------------------------

    def _item(self):
        return self.run.bus.get_object(self.item_name, "/StatusNotifierItem")

    def prop(self, name):
        return self._item().Get(SNI, name, dbus_interface=dbus.PROPERTIES_IFACE)

    def tooltip(self):
        return str(self.prop("ToolTip")[2])

    def icon_rgba(self):
        """(width, height, ARGB bytes) of the item's largest picture."""
        pixmaps = [(int(w), int(h), bytes(data)) for w, h, data in self.prop("IconPixmap")]
        return max(pixmaps, key=lambda p: p[0])

    def activate(self):
        self._item().Activate(0, 0, dbus_interface=SNI)

    def secondary_activate(self):
        self._item().SecondaryActivate(0, 0, dbus_interface=SNI)

    # -- the menu ----------------------------------------------------------

    def _menu(self):
        return self.run.bus.get_object(self.item_name, str(self.prop("Menu")))

    @staticmethod
    def _node(raw):
        ident, props, children = raw
        props = {str(k): v for k, v in props.items()}
        return {
            "id": int(ident),
            "label": str(props.get("label", "")),
            "enabled": bool(props.get("enabled", True)),
            "visible": bool(props.get("visible", True)),
            "type": str(props.get("type", "standard")),
            "toggle": str(props.get("toggle-type", "")),
            "checked": int(props.get("toggle-state", 0)) == 1,
            "submenu": str(props.get("children-display", "")) == "submenu",
            "children": [Program._node(c) for c in children],
        }

    def menu(self):
        """The whole menu tree after the host has announced that the menu and
        each submenu opens (AboutToShow), as a desktop does before showing it."""
        menu = self._menu()
        menu.AboutToShow(0, dbus_interface=DBUSMENU)
        tree = self._node(menu.GetLayout(0, -1, [], dbus_interface=DBUSMENU)[1])
        for sub in tree["children"]:
            if sub["submenu"]:
                menu.AboutToShow(sub["id"], dbus_interface=DBUSMENU)
        return self._node(menu.GetLayout(0, -1, [], dbus_interface=DBUSMENU)[1])

    def find_item(self, caption, tree=None):
        """The first item with this caption, depth first."""
        tree = tree or self.menu()
        for child in tree["children"]:
            if child["label"] == caption and not child["submenu"]:
                return child
            found = self.find_item(caption, child) if child["children"] else None
            if found:
                return found
        return None

    def submenu(self, caption, tree=None):
        tree = tree or self.menu()
        for child in tree["children"]:
            if child["submenu"] and child["label"] == caption:
                return child
        raise HarnessError("no submenu %r" % caption)

    def click(self, item_id):
        self._menu().Event(item_id, "clicked", dbus.String("", variant_level=1), dbus.UInt32(0),
                           dbus_interface=DBUSMENU)

    def choose_caption(self, caption):
        item = self.find_item(caption)
        if item is None:
            raise HarnessError("no menu item %r" % caption)
        self.click(item["id"])

    # -- the browser -------------------------------------------------------

    def addresses(self):
        """The addresses the stand-in browser has recorded so far: whole
        lines only, since a launch may be writing its line right now."""
        if not self.browser_log.exists():
            return []
        text = self.browser_log.read_bytes().decode("utf-8", errors="surrogateescape")
        return text.split("\n")[:-1]

    def wait_addresses(self, count, timeout=10):
        wait_until(lambda: len(self.addresses()) >= count, timeout)
        return self.addresses()


class Monitor:
    """What one program sends on the run's session bus, in the order the bus
    passes it on (dbus-monitor): signals and replies alike."""

    def __init__(self, run, sender, timeout=10):
        self.path = Path(tempfile.mkstemp(prefix="monitor-", suffix=".txt", dir=run.work)[1])
        self.out = open(self.path, "wb")
        self.proc = run._spawn(["dbus-monitor", "--address", run.bus_address, "sender='%s'" % sender],
                               stdout=self.out)
        # Ready once it sees the program answer a ping.
        peer = run.bus.get_object(sender, "/")
        if not wait_until(lambda: peer.Ping(dbus_interface="org.freedesktop.DBus.Peer") or
                          any(m["kind"] == "method return" for m in self.messages()), timeout, 0.2):
            raise HarnessError("dbus-monitor did not start")

    def messages(self):
        """[{kind, member, args}], each argument line stripped."""
        out = []
        for line in self.path.read_text(errors="replace").splitlines():
            m = re.match(r"^(signal|method call|method return|error) .*?(?:member=(\S+))?$", line)
            if m:
                out.append({"kind": m.group(1), "member": m.group(2), "args": []})
            elif out and line.startswith(" "):
                out[-1]["args"].append(line.strip())
        return out

    def stop(self):
        _terminate(self.proc)
        self.out.close()


# ------------------------------------------------------------ accessibility

def _pump():
    ctx = GLib.MainContext.default()
    while ctx.iteration(False):
        pass


def _children(node):
    try:
        return [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except GLib.Error:
        return []


def applications(name="orlimo"):
    """Every application of that name on the accessibility bus: one that
    has ended may still be listed a while (Qt 5's bridge) beside the one
    that runs."""
    _pump()
    desktop = Atspi.get_desktop(0)
    desktop.clear_cache()
    apps = []
    for app in _children(desktop):
        try:
            if app is not None and app.get_name() == name:
                apps.append(app)
        except GLib.Error:
            continue
    return apps


class Dialog:
    """A window of the program as the accessibility bus shows it."""

    def __init__(self, node):
        self.node = node

    def _walk(self, node=None):
        node = node or self.node
        for child in _children(node):
            if child is None:
                continue
            yield child
            yield from self._walk(child)

    def _all(self, role):
        return [n for n in self._walk() if n.get_role() == role]

    @property
    def title(self):
        return self.node.get_name()

    def labels(self):
        return [n.get_name() for n in self._all(Atspi.Role.LABEL)]

    def buttons(self):
        return [n.get_name() for n in self._all(Atspi.Role.PUSH_BUTTON)]

    def fields(self):
        """{label: text} of the text fields (a field is named by its label)."""
        out = {}
        for n in self._all(Atspi.Role.TEXT):
            text = n.get_text_iface()
            out[n.get_name()] = text.get_text(0, text.get_character_count())
        return out

    def read_only_fields(self):
        """The labels of the text fields that cannot be edited."""
        def read_only(n):
            states = n.get_state_set()
            return states.contains(Atspi.StateType.READ_ONLY) or not states.contains(Atspi.StateType.EDITABLE)
        return sorted(n.get_name() for n in self._all(Atspi.Role.TEXT) if read_only(n))

    def set_field(self, label, value):
        for n in self._all(Atspi.Role.TEXT):
            if n.get_name() == label:
                editable = n.get_editable_text_iface()
                if not editable.set_text_contents(value):
                    raise HarnessError("field %r refused its text" % label)
                return
        raise HarnessError("no field %r in %r" % (label, self.title))

    def press(self, caption):
        for n in self._all(Atspi.Role.PUSH_BUTTON):
            if n.get_name() == caption:
                action = n.get_action_iface()
                action.do_action(0)
                return
        raise HarnessError("no button %r in %r" % (caption, self.title))


def dialogs(name="orlimo"):
    """The program's open windows (dialogs and message boxes)."""
    out = []
    for app in applications(name):
        for window in _children(app):
            try:
                if window is not None and window.get_state_set().contains(Atspi.StateType.SHOWING):
                    out.append(Dialog(window))
            except GLib.Error:
                continue
    return out


def wait_dialog(title, timeout=10):
    """The open window with this title, or None after timeout seconds."""
    found = wait_until(lambda: [d for d in dialogs() if d.title == title], timeout, 0.2)
    return found[0] if found else None


def wait_no_dialog(title, timeout=10):
    return wait_until(lambda: not [d for d in dialogs() if d.title == title], timeout, 0.2)


# ------------------------------------------------------------ files

def cmake_cache(name):
    """A value of the build's CMake cache (ORLIMO_DEFAULT_SERVER, ...)."""
    for line in (BUILD / "CMakeCache.txt").read_text(errors="replace").splitlines():
        m = re.match(r"^%s:[A-Z]+=(.*)$" % re.escape(name), line)
        if m:
            return m.group(1)
    raise HarnessError("%s not in the CMake cache" % name)


def _emulator():
    """The command that runs the build's programs here: qemu-user for the
    arm64 build (no binfmt_misc on this machine), nothing for a native one.
    The program still sees its own path as /proc/self/exe."""
    try:
        value = cmake_cache("CMAKE_CROSSCOMPILING_EMULATOR")
    except (HarnessError, OSError):
        return []
    return [a for a in value.split(";") if a]


EMULATOR = _emulator()


def desktop_entry(path):
    """{key: value} of a desktop entry's [Desktop Entry] group, string
    escapes undone."""
    out, group = {}, None
    for line in Path(path).read_text(encoding="utf-8").splitlines():
        if line.startswith("["):
            group = line
        elif "=" in line and group == "[Desktop Entry]":
            key, value = line.split("=", 1)
            out[key.strip()] = re.sub(r"\\(.)", lambda m: {"s": " ", "n": "\n", "t": "\t", "r": "\r"}
                                      .get(m.group(1), m.group(1)), value.strip())
    return out


def exec_argv(value):
    """The arguments an Exec value (string escapes already undone) starts,
    by the desktop entry rules: blanks separate arguments, double quotes
    group them, inside quotes a backslash escapes " ` $ \\, and %% is %."""
    args, cur, i, quoted, have = [], "", 0, False, False
    while i < len(value):
        c = value[i]
        if quoted:
            if c == "\\" and i + 1 < len(value) and value[i + 1] in '"`$\\':
                cur += value[i + 1]
                i += 1
            elif c == '"':
                quoted = False
            else:
                cur += c
        elif c == '"':
            quoted = have = True
        elif c == " ":
            if cur or have:
                args.append(cur)
            cur, have = "", False
        else:
            cur += c
        i += 1
    if cur or have:
        args.append(cur)
    return [a.replace("%%", "%") for a in args]


def colourful(pixmap):
    """How many opaque pixels of an ARGB picture are clearly orange or
    yellow (red well above blue): the normal picture has many, the white
    one none."""
    width, height, data = pixmap
    n = 0
    for i in range(0, width * height * 4, 4):
        a, r, b = data[i], data[i + 1], data[i + 3]
        if a > 200 and r - b > 80:
            n += 1
    return n


# ------------------------------------------------------------ tests

RUN = None  # the Run of this test run (run.py starts it)


class ProgramTest(unittest.TestCase):
    """A test that starts the program (as many times as it needs)."""

    def setUp(self):
        RUN.portal("reset")

    def start(self, shared=None, user=None, setup=None, wait_tray=True, program=PROGRAM):
        p = Program(RUN, self._testMethodName, program)
        if shared is not None:
            p.write(p.shared_config, shared)
        if user is not None:
            p.write(p.user_config, user)
        if setup:
            setup(p)
        self.addCleanup(p.stop)
        p.start(wait_tray)
        return p

    def settings(self, **kw):
        kw.setdefault("port", RUN.portal_port)
        return settings_text(**kw)

    def message(self, timeout=10):
        """The texts of the open message box titled "orlimo"; closes it."""
        box = wait_dialog("orlimo", timeout)
        self.assertIsNotNone(box, "no message box")
        texts = box.labels()
        box.press(box.buttons()[0])
        self.assertTrue(wait_no_dialog("orlimo"))
        return [t for t in texts if t]
