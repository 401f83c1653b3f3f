"""Under the real GNOME Shell 43 with its AppIndicator extension, headless,
as an X11 session (on Xvfb) and as a Wayland session (with Xwayland): the
item registers and shows in the top bar, its menu holds no blank entries,
and a prompt raised by a poll stays above the user's focused X11 window
without taking its keyboard. One shell per session kind serves its group."""

import subprocess
import threading
from pathlib import Path

import gnome
import harness
from harness import Program, ProgramTest, wait_until

PROMPT = "消息通知"
NOTIFY = "/velsa/home/notifyMsg.jsp"


def orange_pixels(png, box):
    """Opaque, clearly orange pixels of a screenshot inside box (x, y, w, h):
    the tray picture has many, the shell's top bar none."""
    x, y, w, h = box
    raw = subprocess.run(["convert", str(png), "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                          "-depth", "8", "rgba:-"], capture_output=True, timeout=30, check=True).stdout
    return sum(1 for i in range(0, len(raw) - 3, 4) if raw[i + 3] > 200 and raw[i] - raw[i + 2] > 80)


def blank_entries(node, where=""):
    """Items of the menu tree that a host would draw as blank rows."""
    out = []
    for child in node["children"]:
        here = "%s/%s" % (where, child["label"])
        if child["type"] != "separator" and not child["label"].strip():
            out.append(here)
        out += blank_entries(child, here)
    return out


class GnomeSessionTests(ProgramTest):
    KIND = None
    session = None

    @classmethod
    def setUpClass(cls):
        why = gnome.missing()
        if why:
            raise harness.HarnessError(why)
        cls.session = gnome.Session(harness.RUN, cls.KIND)
        try:
            cls.session.start()
        except Exception:
            cls.session.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        if cls.session:
            cls.session.stop()

    def start_in_session(self, env=None, **settings):
        p = Program(self.session, "%s-%s" % (self.KIND, self._testMethodName))
        p.write(p.shared_config, self.settings(**settings))
        # The program chooses its platform itself, as in a real session.
        p.env_overrides["QT_QPA_PLATFORM"] = None
        p.env_overrides.update(env or {})
        self.addCleanup(p.stop)
        return p.start()

    def shot(self, name):
        shots = harness.BUILD / "test-shots"
        shots.mkdir(exist_ok=True)
        path = shots / ("gnome-%s-%s.png" % (self.KIND, name))
        self.session.screenshot(path)
        return path

    def test_the_item_shows_in_the_top_bar_and_its_menu_has_no_blank_entries(self):
        top_bar = (0, 0, gnome.SCREEN[0], 32)
        self.assertEqual(orange_pixels(self.shot("before"), top_bar), 0, "the top bar before the program")
        # Favorite 2 has no bookmark (its caption is the menu's own, and it
        # opens nothing), 4 has an address but no caption, 5 to 20 nothing:
        # only 1 and 3 show.
        p = self.start_in_session(bookmark="Mail|http://mail.example.com/==Three|http://127.0.0.1/3=|http://127.0.0.1/4")
        self.assertTrue(any(harness.item_bus_name(i) == p.item_name for i in p.items()))
        tree = p.menu()
        self.assertEqual(blank_entries(tree), [])
        favorites = p.submenu("收藏夹", tree)["children"]
        self.assertEqual([(n["label"], n["type"]) for n in favorites],
                         [("Mail", "standard"), ("Three", "standard"), ("", "separator")])
        # The extension draws the item's picture in the top bar.
        self.assertTrue(wait_until(lambda: orange_pixels(self.shot("icon"), top_bar) > 20, 10),
                        "no tray picture in the top bar")
        # The host's activation (a double click there) opens the login page.
        p.activate()
        self.assertEqual(p.wait_addresses(1), ["http://127.0.0.1:%d/velsa/login.jsp" % harness.RUN.portal_port])

    def terminal(self):
        """An xterm that has the keyboard, its lines going to a file: the
        window the user types in. (Its window, the file.)"""
        s = self.session
        typed = s.work / ("typed-%s.txt" % self._testMethodName)
        xterm = subprocess.Popen(["xterm", "-geometry", "100x30+40+60", "-e", "sh", "-c", 'exec cat > "$0"',
                                  str(typed)], env=s.base_env(), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(harness._terminate, xterm)
        found = wait_until(lambda: s.x("xdotool", "search", "--onlyvisible", "--pid", str(xterm.pid),
                                       check=False).split(), 20)
        self.assertTrue(found, "no xterm window")
        window = int(found[0])
        s.x("xdotool", "windowactivate", "--sync", str(window))
        self.assertTrue(wait_until(lambda: self.active() == window, 10), "the terminal does not get the keyboard")
        return window, typed

    def typing(self, keyboard):
        """Lines typed in a thread of their own, until the function this
        returns is called."""
        stop = threading.Event()

        def run():
            n = 0
            while not stop.is_set():
                n += 1
                keyboard.type("typing %d\n" % n)
        typist = threading.Thread(target=run)
        typist.start()

        def done():
            stop.set()
            typist.join(30)
        return done

    def test_a_prompt_stays_above_the_focused_x11_window_and_leaves_it_the_keyboard(self):
        s = self.session
        terminal, typed = self.terminal()
        p = self.start_in_session(interval=0, user_id=31)
        with s.keyboard() as keyboard:
            stop_typing = self.typing(keyboard)
            try:
                self.assertTrue(wait_until(lambda: typed.exists() and typed.read_text().count("\n") >= 2, 20),
                                "the keys do not reach the terminal")
                harness.RUN.portal("default", {"kind": "has"})

                def prompt():
                    # An X window on the session's X display: the program
                    # runs on X11 (in the Wayland session, through Xwayland).
                    windows = s.x("xdotool", "search", "--onlyvisible", "--pid", str(p.proc.pid), check=False).split()
                    return [int(w) for w in windows if PROMPT in s.x("xprop", "-id", w, "_NET_WM_NAME", check=False)]
                found = wait_until(prompt, 20)
                self.assertTrue(found, "no prompt window on the X display")
                shown = found[0]
                above = wait_until(lambda: self.stacked_above(shown, terminal), 10)
                self.assertTrue(above, "the prompt is not stacked above the terminal: %s" % self.stacking())
                self.assertEqual(self.active(), terminal)
                lines = typed.read_text().count("\n")
                self.assertTrue(wait_until(lambda: typed.read_text().count("\n") >= lines + 2, 15),
                                "keys typed after the prompt came did not reach the terminal")
                self.assertEqual(self.active(), terminal)
                self.assertEqual(p.addresses(), [], "a key the user typed answered the prompt")
            finally:
                stop_typing()
            self.shot("prompt")
            # Brought to the front by the user, the prompt takes their Enter.
            s.x("xdotool", "windowactivate", "--sync", str(shown))
            self.assertTrue(wait_until(lambda: self.active() == shown, 10))
            keyboard.type("\n")
        self.assertTrue(p.wait_addresses(1)[0].endswith("/message/ch_memobox.jsp"))

    # -- the X display's window manager state --------------------------------

    def active(self):
        out = self.session.x("xprop", "-root", "_NET_ACTIVE_WINDOW", check=False)
        return int(out.split("#", 1)[1].split(",")[0], 16) if "#" in out else None

    def stacking(self):
        out = self.session.x("xprop", "-root", "_NET_CLIENT_LIST_STACKING", check=False)
        return [int(w, 16) for w in out.split("#", 1)[1].replace(",", " ").split()] if "#" in out else []

    def stacked_above(self, upper, lower):
        order = self.stacking()
        return upper in order and lower in order and order.index(upper) > order.index(lower)


class GnomeX11Tests(GnomeSessionTests):
    KIND = "x11"


class GnomeWaylandTests(GnomeSessionTests):
    KIND = "wayland"

    def test_without_xwayland_a_prompt_takes_no_key_meant_for_the_users_window(self):
        # A session that offers the program no X display: it runs on
        # Wayland, where the compositor gives a new window the keyboard.
        s = self.session
        terminal, typed = self.terminal()
        p = self.start_in_session(interval=0, user_id=32, env={"DISPLAY": None, "XAUTHORITY": None})
        with s.keyboard() as keyboard:
            stop_typing = self.typing(keyboard)
            try:
                self.assertTrue(wait_until(lambda: typed.exists() and typed.read_text().count("\n") >= 2, 20))
                harness.RUN.portal("default", {"kind": "has"})
                self.assertTrue(wait_until(lambda: PROMPT in s.dialog_titles(), 20), "no prompt")
                self.assertEqual(s.x("xdotool", "search", "--pid", str(p.proc.pid), check=False).split(), [],
                                 "a window on the X display")
                # It has the keyboard (the terminal lost it); the user's
                # Returns go on meanwhile, and answer nothing.
                self.assertTrue(wait_until(lambda: self.active() != terminal, 10),
                                "the prompt did not take the keyboard")
                lines = typed.read_text().count("\n")
                wait_until(lambda: False, 3)
            finally:
                stop_typing()
            self.assertEqual(p.addresses(), [], "a key the user typed answered the prompt")
            self.assertIn(PROMPT, s.dialog_titles())
            self.assertEqual(typed.read_text().count("\n"), lines, "keys reached the terminal all the same")
        self.shot("wayland-prompt")


del GnomeSessionTests  # only its two kinds run
