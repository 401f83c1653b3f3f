"""The real GNOME Shell (Debian's 43, with its AppIndicator extension, the
tray of most company Linux desktops) headless, for the Linux tests:

  - as an X11 session: gnome-shell --x11 --replace on an Xvfb display;
  - as a Wayland session: gnome-shell --headless --wayland --virtual-monitor
    1280x800, with Xwayland for X clients.

A session has a session bus of its own (the shell owns the tray watcher,
org.kde.StatusNotifierWatcher, there) and a stand-in system bus (a second
dbus-daemon --session: the shell ends at start without a system bus). Its
settings are a GSettings key file written before anything starts (the
extension enabled). It behaves like a harness.Run for harness.Program: the
program started in it gets the session's display, bus and variables. The
stand-in portal is the test run's.

Screenshots go through org.gnome.Shell.Screenshot, which serves only
callers that own an allow-listed name (org.gnome.Screenshot); keys go
through mutter's org.gnome.Mutter.RemoteDesktop (no PipeWire needed).
Every process started here is ended here, by its own process id.
"""

import os
import re
import subprocess
import tempfile
import time
from pathlib import Path

import dbus

import harness
from harness import HarnessError, wait_until

WATCHER = "org.kde.StatusNotifierWatcher"
EXTENSION = "ubuntu-appindicators@ubuntu.com"
SCREEN = (1280, 800)
RETURN = 0xff0d  # the keysym


def missing():
    """What this machine lacks to run the shell, or None."""
    if not Path("/usr/bin/gnome-shell").exists():
        return "gnome-shell is not installed (tools/setup.sh installs it)"
    if not Path("/usr/share/gnome-shell/extensions/%s" % EXTENSION).exists():
        return "gnome-shell-extension-appindicator is not installed (tools/setup.sh installs it)"
    if not Path("/usr/bin/Xwayland").exists():
        return "xwayland is not installed (tools/setup.sh installs it)"
    return None


class Session:
    """One GNOME Shell session, "x11" or "wayland"."""

    def __init__(self, run, kind):
        self.main = run            # the test run: its portal
        self.kind = kind
        self.work = Path(tempfile.mkdtemp(prefix="gnome-%s-" % kind, dir=run.work))
        self.procs = []
        self.display = None        # X clients' display (Xvfb, or Xwayland)
        self.xauthority = None
        self.bus_address = None
        self.bus = None
        self.portal_port = run.portal_port
        self.runtime = self.work / "runtime"
        self.log_path = self.work / "shell.log"

    # -- what harness.Program asks of a run --------------------------------

    def base_env(self, with_bus=True):
        env = {k: v for k, v in os.environ.items()
               if not k.lower().endswith("_proxy")
               and not k.startswith(("XDG_", "QT_", "DESKTOP", "KDE", "GNOME", "WAYLAND", "DBUS_"))
               and k not in ("DISPLAY", "XAUTHORITY")}
        env.update(LANG="C.UTF-8", HOME=str(self.work / "home"), XDG_RUNTIME_DIR=str(self.runtime),
                   XDG_CONFIG_HOME=str(self.work / "config"), GSETTINGS_BACKEND="keyfile",
                   XDG_CURRENT_DESKTOP="GNOME", XDG_SESSION_DESKTOP="gnome", XDG_SESSION_TYPE=self.kind)
        env.pop("LC_ALL", None)
        if self.display:
            env["DISPLAY"] = self.display
        if self.xauthority:
            env["XAUTHORITY"] = self.xauthority
        if self.kind == "wayland":
            # A path: the program has a runtime folder of its own.
            env["WAYLAND_DISPLAY"] = str(self.runtime / "wayland-0")
        if with_bus and self.bus_address:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        if with_bus and getattr(self, "system_bus_address", None):
            env["DBUS_SYSTEM_BUS_ADDRESS"] = self.system_bus_address
        return env

    def portal(self, command, payload=None):
        return self.main.portal(command, payload)

    def portal_requests(self, path=None):
        return self.main.portal_requests(path)

    # -- start and stop ----------------------------------------------------

    def _spawn(self, argv, env, **kw):
        kw.setdefault("stdout", subprocess.DEVNULL)
        kw.setdefault("stderr", subprocess.DEVNULL)
        p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, env=env, start_new_session=True, **kw)
        self.procs.append(p)
        return p

    def _bus(self, env):
        r, w = os.pipe()
        self._spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=%d" % w],
                    env, pass_fds=(w,))
        os.close(w)
        try:
            return harness._read_all_line(r, 20, "dbus-daemon")
        finally:
            os.close(r)

    def start(self):
        (self.work / "home").mkdir()
        self.runtime.mkdir(mode=0o700)
        keyfile = self.work / "config" / "glib-2.0" / "settings" / "keyfile"
        keyfile.parent.mkdir(parents=True)
        keyfile.write_text("[org/gnome/shell]\nenabled-extensions=['%s']\ndisable-user-extensions=false\n"
                           % EXTENSION)
        if self.kind == "x11":
            xvfb, self.display = harness.start_xvfb()
            self.procs.append(xvfb)
        # Buses started with the session's variables: what they start
        # (the shell's helpers) inherits them.
        self.system_bus_address = self._bus(self.base_env(with_bus=False))
        self.bus_address = self._bus(self.base_env(with_bus=False))
        if self.kind == "x11":
            argv = ["gnome-shell", "--x11", "--replace"]
        else:
            argv = ["gnome-shell", "--headless", "--wayland", "--virtual-monitor", "%dx%d" % SCREEN]
        env = self.base_env()
        env.pop("WAYLAND_DISPLAY", None)
        self.log = open(self.log_path, "wb")
        self.bus = dbus.bus.BusConnection(self.bus_address)
        # Tried again should it end at start (an X client now and then
        # fails to open a display at its first try on a loaded machine).
        for _ in range(3):
            self.shell = self._spawn(argv, env, stdout=self.log, stderr=subprocess.STDOUT)
            up = wait_until(lambda: self.shell.poll() is not None or self.host_registered(), 60, 0.2)
            if self.shell.poll() is None:
                break
        if not up or self.shell.poll() is not None:
            raise HarnessError("GNOME Shell (%s) registered no tray host within 60 s (see %s)"
                               % (self.kind, self.log_path))
        if self.kind == "wayland":
            self._find_xwayland()
        self.close_overview()
        return self

    def _find_xwayland(self):
        def found():
            m = re.search(r"public X11 display :(\d+)", self.log_path.read_text(errors="replace"))
            auth = sorted(self.runtime.glob(".mutter-Xwaylandauth.*"))
            return (":" + m.group(1), str(auth[0])) if m and auth else None
        got = wait_until(found, 30, 0.2)
        if not got:
            raise HarnessError("no Xwayland display in %s" % self.log_path)
        self.display, self.xauthority = got

    def stop(self):
        for p in reversed(self.procs):
            harness._terminate(p)
        self.procs = []
        if getattr(self, "log", None):
            self.log.close()
        if self.bus is not None:
            self.bus.close()
            self.bus = None

    # -- the shell ---------------------------------------------------------

    def host_registered(self):
        try:
            watcher = self.bus.get_object(WATCHER, "/StatusNotifierWatcher")
            return bool(watcher.Get(WATCHER, "IsStatusNotifierHostRegistered", dbus_interface=dbus.PROPERTIES_IFACE))
        except dbus.DBusException:
            return False

    def close_overview(self):
        """The shell opens its overview once it is up (on X11 later): closed
        until it stays closed."""
        shell = self.bus.get_object("org.gnome.Shell", "/org/gnome/Shell")

        def closed_for_a_while():
            try:
                shell.Set("org.gnome.Shell", "OverviewActive", False, dbus_interface=dbus.PROPERTIES_IFACE)
                time.sleep(1.0)
                return not shell.Get("org.gnome.Shell", "OverviewActive", dbus_interface=dbus.PROPERTIES_IFACE)
            except dbus.DBusException:
                return False
        if not wait_until(closed_for_a_while, 30, 0.2):
            raise HarnessError("the overview does not stay closed")

    def x(self, *argv, check=True):
        """An X client command on the session's display; its output."""
        env = dict(os.environ, DISPLAY=self.display)
        if self.xauthority:
            env["XAUTHORITY"] = self.xauthority
        return subprocess.run(argv, env=env, capture_output=True, text=True, timeout=30, check=check).stdout

    def screenshot(self, path):
        """What the screen shows, as a PNG at path (the shell's own
        screenshot, which also holds the top bar on Wayland)."""
        bus = dbus.bus.BusConnection(self.bus_address)
        try:
            if bus.request_name("org.gnome.Screenshot", dbus.bus.NAME_FLAG_DO_NOT_QUEUE) not in (1, 4):
                raise HarnessError("could not own org.gnome.Screenshot")
            shot = bus.get_object("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot")
            ok, _ = shot.Screenshot(False, False, str(path), dbus_interface="org.gnome.Shell.Screenshot", timeout=20)
            if not ok:
                raise HarnessError("the shell took no screenshot")
        finally:
            bus.close()

    def dialog_titles(self):
        """The titles of the program's open windows, as the session's
        accessibility bus shows them (read by a helper process on the
        session's bus: this process's accessibility bus is the test run's)."""
        code = ("import sys; sys.path.insert(0, %r); sys.dont_write_bytecode = True; import harness; "
                "print('\\n'.join(d.title for d in harness.dialogs()))" % str(Path(__file__).parent))
        out = subprocess.run([harness.PYTHON, "-c", code], env=self.base_env(), capture_output=True, text=True,
                             timeout=60)
        return [line for line in out.stdout.splitlines() if line]

    def keyboard(self):
        """The session's keyboard, through mutter's remote desktop (a context
        manager): its type(text) types into whichever window has the keyboard."""
        return Keyboard(self.bus)


class Keyboard:
    def __init__(self, bus):
        self.bus = bus
        self.session = None

    def __enter__(self):
        rd = self.bus.get_object("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop")
        path = rd.CreateSession(dbus_interface="org.gnome.Mutter.RemoteDesktop")
        self.session = dbus.Interface(self.bus.get_object("org.gnome.Mutter.RemoteDesktop", path),
                                      "org.gnome.Mutter.RemoteDesktop.Session")
        self.session.Start()
        time.sleep(0.3)
        return self

    def __exit__(self, *exc):
        try:
            self.session.Stop()
        except dbus.DBusException:
            pass

    def type(self, text, delay=0.03):
        """ASCII characters, "\n" as Return."""
        for ch in text:
            sym = RETURN if ch == "\n" else ord(ch)
            self.session.NotifyKeyboardKeysym(dbus.UInt32(sym), True)
            time.sleep(delay)
            self.session.NotifyKeyboardKeysym(dbus.UInt32(sym), False)
            time.sleep(delay)
