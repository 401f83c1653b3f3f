"""The real orlimo.exe in a real session: a second start in the same
session (elevated or not, and the elevated start that changes autorun), a
shell that does not take the icon yet at logon, the end of the
session (logoff, or an installer's Restart Manager), a settings file saved
by an editor, an administrator's later change of the shared settings
reaching the users' copies within the limits, and Group Policy.
"""

import threading
import time
import unittest

import harness
from harness import GroupTestCase, INSTALL_DIR, RUN_KEY, RUN_VALUE_DATA, TIP_NORMAL, wait_until

NOTIFY = "/velsa/home/notifyMsg.jsp"
CONFIG_DLG = "参数配置"
IDC_USERID = 1002
WM_QUERYENDSESSION, WM_ENDSESSION, ENDSESSION_CLOSEAPP = 0x11, 0x16, 1
IDC_SERVER, IDC_PORT, IDC_POLICY_NOTE = 1000, 1005, 1006
SHARED = INSTALL_DIR + r"\config.properties"
EARLIER_SHARED = INSTALL_DIR + r"\config.properties.previous"
LOG_FILE = r"c:\users\%s\AppData\Roaming\orlimo\orlimo.log"
MACHINE_POLICY = r"HKLM\Software\Policies\orlimo"
USER_POLICY = r"HKCU\Software\Policies\orlimo"
ALREADY_RUNNING = "orlimo 已在运行,请使用通知区域中的图标。"
NEEDS_ADMIN = "更改自动运行需要管理员权限。是否以管理员身份完成更改?"
ID_AUTORUN, ID_FAV1, IDYES = 32776, 32781, 6


class SessionChecks(GroupTestCase):
    def polls(self, portal, count=2, timeout=20):
        """The next count queries that reach portal."""
        seen = len(portal.requests(NOTIFY))
        wait_until(lambda: len(portal.requests(NOTIFY)) >= seen + count, timeout)
        return [r["query"] for r in portal.requests(NOTIFY)[seen:]]

    def desktop_link(self):
        return r"c:\users\%s\Desktop\企业管理.lnk" % self.env.user()

    def save_user_id(self, user_id):
        env = self.env
        env.driver.call("post-command", 32773)
        self.assertTrue(env.wait_dialog(CONFIG_DLG, 10))
        env.driver.call("set-text", CONFIG_DLG, IDC_USERID, str(user_id))
        env.driver.call("click", CONFIG_DLG, 1)
        self.assertTrue(env.wait_no_dialog(CONFIG_DLG, 10))

    def log_lines(self, text):
        """The lines of the failure log that hold text."""
        log = self.env.prefix.host_path(LOG_FILE % self.env.user())
        data = log.read_bytes().decode("utf-8", errors="replace") if log.exists() else ""
        return [line for line in data.split("\r\n")[:-1] if text in line]

    def login_page(self):
        """What a double click on the icon opens (exactly one address)."""
        env = self.env
        env.clear_browser()
        env.driver.call("post-tray", harness.WM_LBUTTONDBLCLK)
        got = env.wait_browser(1, timeout=15)
        time.sleep(0.5)
        self.assertEqual(len(env.browser_addresses()), 1)
        return got[0]

    def favorites(self):
        env = self.env
        env.open_tray_menu()
        try:
            return env.open_submenu("收藏夹")["menus"][0]["items"]
        finally:
            env.close_menus()

    def restart(self, folder=None):
        """Ends the group's program and starts it again, as the Run value does
        at the next logon (from the install folder)."""
        env = self.env
        self.assertIsNotNone(env.exit(type(self).prog))
        type(self).prog = env.launch(folder or env.prefix.host_path(INSTALL_DIR))


class SecondStartTest(SessionChecks):
    """One orlimo per session: a second start touches nothing and the
    running one shows a balloon; a start made elevated to change autorun
    makes it and ends, and the running one shows it. Wine gives every process an administrator's full
    token; the driver starts "not elevated" ones with its limited twin."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.prog = env.launch(env.launch_folder(config=env.config(user_id=3, interval_time=0)))

    def balloons(self):
        return [i["balloon"] for i in self.env.tray_icons()]

    def running_pid(self, not_pid=None):
        """The pid of the one main window there is, once it is not not_pid."""
        def one():
            frames = self.env.driver.try_call("frame")[1] or []
            return len(frames) == 1 and frames[0]["pid"] != not_pid and frames[0]["pid"]
        pid = wait_until(one, 20)
        self.assertTrue(pid, "not one new orlimo")
        self.assertTrue(self.env.wait_tip(TIP_NORMAL, 15))
        return pid

    def autorun_checked(self):
        dump = self.env.open_tray_menu()
        self.env.close_menus()
        return [i for i in dump["menus"][-1]["items"] if i.get("id") == ID_AUTORUN][0]["checked"]

    def test_1_second_start_shows_the_running_one_and_touches_nothing(self):
        env = self.env
        link = env.prefix.host_path(self.desktop_link())
        self.assertTrue(link.exists())
        link.unlink()
        # Another folder, other settings, as a hand-installed copy would be.
        second = env.launch(env.launch_folder("other", config=env.config(user_id=99, interval_time=0)),
                            wait_tray=False)
        self.assertEqual(second.wait_exit(20), 0)
        self.assertTrue(wait_until(lambda: self.balloons() == [ALREADY_RUNNING], 10), self.balloons())
        self.assertEqual(self.running_pid(), self.prog.pid)
        self.assertEqual(env.tray_tips(), [TIP_NORMAL])
        self.assertFalse(link.exists(), "the second start wrote a shortcut")
        self.assertEqual(set(self.polls(env.portal, 3)), {"usr_id=3&ver=1"})

    def test_2_a_start_that_is_not_elevated_reaches_the_elevated_one(self):
        env = self.env
        self.assertTrue(wait_until(lambda: self.balloons() == [""], 30), "the balloon stayed")
        started = env.driver.call("start-limited", r"c:\other\orlimo.exe")
        self.assertFalse(started["elevated"])
        self.assertEqual(env.driver.call("wait-exit", started["pid"], 20000)["exit_code"], 0)
        self.assertTrue(wait_until(lambda: self.balloons() == [ALREADY_RUNNING], 10), self.balloons())
        self.assertEqual(self.running_pid(), self.prog.pid)

    def test_3_autorun_refused_offers_an_elevated_start_that_makes_the_change(self):
        env = self.env
        self.assertIsNotNone(env.exit(self.prog))
        user = env.driver.call("start-limited", INSTALL_DIR + r"\orlimo.exe")
        self.assertEqual(self.running_pid(), user["pid"])
        # Without the Run key writing the value is refused (Wine's registry
        # refuses a limited token nothing); the key comes back with the
        # administrator's consent at the UAC prompt.
        view = "/reg:32" if harness.ARCH == "i686" else "/reg:64"
        self.assertEqual(env.prefix.wine("reg", "delete", RUN_KEY, "/f", view)[0], 0)
        env.driver.call("post-command", ID_AUTORUN)  # off: nothing to remove
        self.assertFalse(self.autorun_checked())
        env.driver.call("post-command", ID_AUTORUN)  # on: refused
        self.assertTrue(env.wait_dialog("orlimo", 10))
        box = env.driver.call("dialog", "orlimo")["controls"]
        self.assertEqual([c["text"] for c in box if c["class"].lower() == "static" and c["text"]], [NEEDS_ADMIN])
        self.assertEqual({c["id"] for c in box if c["class"].lower() == "button"}, {IDYES, 7})
        self.assertEqual(env.prefix.wine("reg", "add", RUN_KEY, "/f", view)[0], 0)
        env.driver.call("click", "orlimo", IDYES)
        # The elevated start made the change and ended; the user's orlimo
        # runs on and shows it.
        self.assertTrue(wait_until(lambda: env.driver.reg_get(RUN_KEY, "orlimo") is not None, 20))
        self.assertEqual(env.driver.reg_get(RUN_KEY, "orlimo")["text"], RUN_VALUE_DATA)
        self.assertTrue(wait_until(self.autorun_checked, 10))
        self.assertEqual(self.running_pid(), user["pid"])

    def test_4_an_elevated_start_turning_autorun_off_ends_once_it_is_done(self):
        env = self.env
        before = self.running_pid()
        prog = self.launch(env.prefix.host_path(INSTALL_DIR), wait_tray=False, args=["/autorun=off"])
        self.assertEqual(prog.wait_exit(20), 0)
        self.assertIsNone(env.driver.reg_get(RUN_KEY, "orlimo"))
        self.assertTrue(wait_until(lambda: not self.autorun_checked(), 10))
        self.assertEqual(self.running_pid(), before)
        self.assertEqual(set(self.polls(env.portal, 3)), {"usr_id=3&ver=1"})


class BusyShellTest(SessionChecks):
    """At logon Explorer may not take the icon yet: the program asks again
    until it does."""

    def test_icon_arrives_once_the_shell_takes_it(self):
        env = self.env
        busy = {}
        thread = threading.Thread(target=lambda: busy.update(r=env.driver.try_call("busy-shell", 6000, timeout=40)))
        thread.start()
        self.addCleanup(thread.join, 60)

        def busy_shell_in_front():
            shells = [w for w in env.driver.call("windows", "--all") if w["class"] == "Shell_TrayWnd"]
            return len(shells) >= 2 and shells[0]["title"] == ""
        self.assertTrue(wait_until(busy_shell_in_front, 15), "the refusing shell window did not appear")
        prog = self.launch(env.launch_folder(config=env.config(interval_time=60)), wait_tray=False)
        self.assertEqual(env.driver.try_call("wait-frame", 20000, timeout=40)[0], 0)
        self.assertFalse(env.wait_tip(TIP_NORMAL, 2), "an icon while the shell refused it")
        thread.join(60)
        self.assertEqual(busy.get("r", (None,))[0], 0)
        self.assertTrue(env.wait_tip(TIP_NORMAL, 15), "no icon after the shell came")
        self.assertEqual(len(env.tray_icons()), 1)
        self.assertTrue(prog.alive())


class EndSessionTest(SessionChecks):
    """Logoff, or Restart Manager closing the program for an installer: it
    agrees and then ends at once, with a dialog open."""

    def test_end_session_ends_the_program_with_a_dialog_open(self):
        env = self.env
        prog = self.launch(env.launch_folder(config=env.config(interval_time=0)))
        env.driver.call("post-command", 32773)
        self.assertTrue(env.wait_dialog(CONFIG_DLG, 10))
        self.assertEqual(env.driver.call("send", WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP)["result"], 1)
        self.assertTrue(prog.alive(), "asking is not telling")
        env.driver.try_call("send", WM_ENDSESSION, 1, ENDSESSION_CLOSEAPP)
        self.assertEqual(prog.wait_exit(10), 0)
        self.assertTrue(env.wait_no_tray(10))
        self.assertFalse(env.wait_dialog(CONFIG_DLG, 0.5))
        self.assertFalse(prog.crashed())


UTF8_CONFIG = ("\ufeffserver=127.0.0.1\r\nuser_id=12\r\ninterval_time=0\r\nserver_port=%d\r\n"
               "bookmark=企业门户|http://127.0.0.1/a/=한글 메일|http://127.0.0.1/b/\r\n")


class EditorSavedSettingsTest(SessionChecks):
    """A settings file that an editor saved as UTF-8, with its mark: read as
    written, and saved back the same way."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.config = (UTF8_CONFIG % env.portal.port).encode("utf-8")
        cls.prog = env.launch(env.launch_folder(config=cls.config))

    def test_1_the_first_line_counts_and_captions_show_as_written(self):
        env = self.env
        self.assertEqual(set(self.polls(env.portal)), {"usr_id=12&ver=1"})
        self.assertEqual(self.favorites()[0]["text"], "企业门户")

    def test_2_save_keeps_the_mark_and_every_character(self):
        env = self.env
        self.save_user_id(13)
        self.assertEqual(set(self.polls(env.portal)), {"usr_id=13&ver=1"})
        saved = env.prefix.read_file(env.user_config_path())
        self.assertEqual(saved, self.config.replace(b"user_id=12", b"user_id=13"))


class SharedSettingsFollowTest(SessionChecks):
    """An administrator moves the portal in the shared file after the users
    have their copies: each value a user never set follows it, the user's
    own stay."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.portals = {}
        for name in "BC":
            portal = harness.Portal(env.folder / ("portal-%s.log" % name))
            cls.portals[name] = portal.start()
        cls.prog = env.launch(env.launch_folder(config=env.config(user_id=5, interval_time=0)))

    @classmethod
    def tearDownClass(cls):
        for portal in cls.portals.values():
            portal.stop()
        super().tearDownClass()

    def write_shared(self, data):
        self.env.prefix.host_path(SHARED).write_bytes(data)

    def test_1_a_value_never_set_follows_the_shared_file(self):
        env, b = self.env, self.portals["B"]
        self.write_shared(env.config(server_port=b.port, user_id=5, interval_time=0))
        self.restart()
        self.assertEqual(set(self.polls(b)), {"usr_id=5&ver=1"})
        self.assertIn(b"server_port=%d\r\n" % b.port, env.prefix.read_file(env.user_config_path()))

    def test_2_a_value_the_user_saved_stays_theirs(self):
        env, c = self.env, self.portals["C"]
        self.save_user_id(77)
        self.write_shared(env.config(server_port=c.port, user_id=9, interval_time=0))
        self.restart()
        self.assertEqual(set(self.polls(c)), {"usr_id=77&ver=1"})

    def test_3_a_copy_made_before_records_follows_from_the_earlier_shared_file(self):
        env, b = self.env, self.portals["B"]
        earlier = env.config(server_port=self.portals["C"].port, user_id=9, interval_time=0)
        user = env.prefix.host_path(env.user_config_path())
        self.assertIsNotNone(env.exit(self.prog))
        # As today's version left it: a copy with one value of the user's,
        # no record; the package kept the shared file it replaced.
        user.write_bytes(earlier.replace(b"user_id=9", b"user_id=66"))
        env.prefix.host_path(env.user_config_path() + ".shared").unlink()
        env.prefix.host_path(EARLIER_SHARED).write_bytes(earlier)
        self.write_shared(env.config(server_port=b.port, user_id=9, interval_time=0))
        type(self).prog = env.launch(env.prefix.host_path(INSTALL_DIR))
        self.assertEqual(set(self.polls(b)), {"usr_id=66&ver=1"})

    def test_4_a_shared_file_that_is_garbage_changes_nothing(self):
        env, b = self.env, self.portals["B"]
        before = env.prefix.read_file(env.user_config_path())
        self.write_shared("server=127.0.0.1\r\n".encode("utf-16"))
        self.restart()
        self.assertEqual(set(self.polls(b)), {"usr_id=66&ver=1"})
        self.assertEqual(env.prefix.read_file(env.user_config_path()), before)

    def test_5_notepads_utf8_moves_the_portal_but_a_poll_every_second_is_refused(self):
        env, b = self.env, self.portals["B"]
        self.write_shared(env.config(server_port=env.portal.port, user_id=9, interval_time=1))
        self.restart()
        self.assertIn(b"interval_time=1\r\n", env.prefix.read_file(env.user_config_path()))
        # Notepad's "UTF-8" has no mark; a typing slip says 0 minutes.
        self.write_shared(("server=127.0.0.1\r\nuser_id=9\r\ninterval_time=0\r\nserver_port=%d\r\n"
                           "bookmark=企业门户|http://127.0.0.1/b/\r\n" % b.port).encode("utf-8"))
        b.clear()
        self.restart()
        self.assertEqual(self.login_page(), "http://127.0.0.1:%d/velsa/login.jsp" % b.port)
        self.assertEqual(self.favorites()[0]["text"], "企业门户")
        self.assertEqual(env.prefix.read_file(env.user_config_path()),
                         ("server=127.0.0.1\r\nuser_id=66\r\ninterval_time=1\r\nserver_port=%d\r\n"
                          "bookmark=企业门户|http://127.0.0.1/b/\r\n" % b.port).encode("utf-8"))
        time.sleep(4)
        self.assertEqual(b.requests(NOTIFY), [], "polled every second")
        self.assertEqual(len(self.log_lines("interval_time=0 refused (not from 1 to 1440); "
                                            "interval_time=1 stays")), 1)


class PolicyTest(SessionChecks):
    """Group Policy over the user's own values: machine policy over user
    policy, each value within the limits, locked in the settings dialog, in
    force at once on Windows' "Policy" broadcast and at every start."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.portal_c = harness.Portal(env.folder / "portal-C.log").start()
        cls.prog = env.launch(env.launch_folder(config=env.config(user_id=5, interval_time=0)))

    @classmethod
    def tearDownClass(cls):
        cls.portal_c.stop()
        super().tearDownClass()

    def reg(self, *args):
        rc, out, err = self.env.prefix.wine("reg", *args, "/f")
        self.assertEqual(rc, 0, (out + err).decode(errors="replace"))

    def policy_changed(self):
        self.env.driver.call("setting-change", "Policy")

    def autorun_item(self):
        env = self.env
        dump = env.open_tray_menu()
        env.close_menus()
        return [i for i in dump["menus"][-1]["items"] if i["id"] == ID_AUTORUN][0]

    def test_1_a_machine_policy_moves_the_port_at_once_and_the_dialog_cannot_change_it(self):
        env, c = self.env, self.portal_c.port
        own = "http://127.0.0.1:%d/velsa/login.jsp" % env.portal.port
        self.assertEqual(self.login_page(), own)
        self.reg("add", MACHINE_POLICY, "/v", "server_port", "/t", "REG_DWORD", "/d", str(c))
        self.policy_changed()
        self.assertEqual(self.login_page(), "http://127.0.0.1:%d/velsa/login.jsp" % c)
        self.assertEqual(set(self.polls(self.portal_c)), {"usr_id=5&ver=1"})

        env.driver.call("post-command", 32773)
        self.assertTrue(env.wait_dialog(CONFIG_DLG, 10))
        controls = {ctl["id"]: ctl for ctl in env.driver.call("dialog", CONFIG_DLG)["controls"]}
        self.assertEqual(controls[IDC_PORT]["text"], str(c))
        self.assertTrue(controls[IDC_PORT]["readonly"])
        self.assertFalse(controls[IDC_SERVER]["readonly"])
        self.assertTrue(controls[IDC_POLICY_NOTE]["visible"])
        self.assertEqual(controls[IDC_POLICY_NOTE]["text"], "灰色的项由管理员设置,不能更改。")
        env.driver.call("set-text", CONFIG_DLG, IDC_PORT, "8123")
        env.driver.call("set-text", CONFIG_DLG, IDC_USERID, "6")
        env.driver.call("click", CONFIG_DLG, 1)
        self.assertTrue(env.wait_no_dialog(CONFIG_DLG, 10))
        self.assertEqual(self.login_page(), "http://127.0.0.1:%d/velsa/login.jsp" % c)
        saved = env.prefix.read_file(env.user_config_path())
        self.assertIn(b"server_port=%d\r\n" % env.portal.port, saved)
        self.assertIn(b"user_id=6\r\n", saved)

    def test_2_without_the_policy_the_users_own_port_is_back(self):
        env = self.env
        self.reg("delete", MACHINE_POLICY, "/v", "server_port")
        self.policy_changed()
        self.assertEqual(self.login_page(), "http://127.0.0.1:%d/velsa/login.jsp" % env.portal.port)
        self.assertEqual(set(self.polls(env.portal, 3)[1:]), {"usr_id=6&ver=1"})

    def test_3_user_id_from_user_policy_only_refused_values_and_autorun(self):
        env = self.env
        self.assertTrue(self.autorun_item()["enabled"])
        self.reg("add", MACHINE_POLICY, "/v", "user_id", "/t", "REG_DWORD", "/d", "66")
        self.reg("add", MACHINE_POLICY, "/v", "interval_time", "/t", "REG_DWORD", "/d", "0")
        self.reg("add", MACHINE_POLICY, "/v", "autorun", "/t", "REG_DWORD", "/d", "0")
        self.reg("add", USER_POLICY, "/v", "user_id", "/t", "REG_DWORD", "/d", "77")
        self.policy_changed()
        # (A poll under way as the policy came may still carry the old id.)
        self.assertEqual(set(self.polls(env.portal, 3)[1:]), {"usr_id=77&ver=1"},
                         "interval 0, the user's own, stays")
        self.assertTrue(self.log_lines(MACHINE_POLICY + ": interval_time=0 refused (not from 1 to 1440)"))
        self.assertTrue(self.log_lines(MACHINE_POLICY + ": user_id=66 refused"))
        item = self.autorun_item()
        self.assertEqual((item["enabled"], item["checked"]), (False, False))
        self.assertIsNone(env.driver.reg_get(harness.RUN_KEY, "orlimo"), "autorun=0 is in force")
        env.driver.call("post-command", ID_AUTORUN)
        time.sleep(1)
        self.assertIsNone(env.driver.reg_get(harness.RUN_KEY, "orlimo"), "a greyed item did something")

    def test_4_the_next_start_reads_the_policy_too(self):
        env = self.env
        self.reg("add", MACHINE_POLICY, "/v", "server_port", "/t", "REG_DWORD", "/d", str(self.portal_c.port))
        self.restart()
        self.assertEqual(self.login_page(), "http://127.0.0.1:%d/velsa/login.jsp" % self.portal_c.port)
        self.reg("delete", MACHINE_POLICY)
        self.reg("delete", USER_POLICY)
        self.policy_changed()
        self.assertTrue(self.autorun_item()["enabled"])
        self.assertEqual(self.login_page(), "http://127.0.0.1:%d/velsa/login.jsp" % env.portal.port)


    def test_5_the_x86_program_reads_the_machine_policy_of_a_64_bit_windows(self):
        env = self.env
        if harness.ARCH != "x86_64" or "i686" not in harness.runnable_arches()[0]:
            raise unittest.SkipTest("needs a 64-bit prefix that runs 32-bit programs")
        x86 = harness.program_of("i686").read_bytes()
        self.reg("add", MACHINE_POLICY, "/v", "server_port", "/t", "REG_DWORD", "/d", str(self.portal_c.port),
                 "/reg:64")
        self.addCleanup(self.reg, "delete", MACHINE_POLICY)
        self.assertIsNotNone(env.exit(self.prog))
        folder = env.launch_folder("x86")
        (folder / "orlimo.exe").write_bytes(x86)
        type(self).prog = env.launch(folder)
        self.assertEqual(self.login_page(), "http://127.0.0.1:%d/velsa/login.jsp" % self.portal_c.port)


class JapaneseCodePageTest(SessionChecks):
    """In code page 932 the second byte of "ポ" is the byte of "|": a UTF-8
    favorite is found in the file's bytes, not after a conversion."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        env.use_code_page("ja_JP.UTF-8", 932)
        config = ("\ufeffserver=127.0.0.1\r\nuser_id=3\r\ninterval_time=60\r\nserver_port=%d\r\n"
                  "bookmark=ポータル|http://127.0.0.1/portal/=メール|http://127.0.0.1/mail/\r\n" % env.portal.port)
        cls.prog = env.launch(env.launch_folder(config=config.encode("utf-8")))

    def test_a_utf8_favorite_opens(self):
        env = self.env
        self.assertEqual([i["text"] for i in self.favorites()[:2]], ["ポータル", "メール"])
        env.driver.call("post-command", ID_FAV1)
        self.assertEqual(env.wait_browser(1, 15), ["http://127.0.0.1/portal/"])


if __name__ == "__main__":
    unittest.main()
