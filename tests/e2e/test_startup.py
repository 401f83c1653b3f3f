"""Start-up of the real orlimo.exe: self-installation, autorun value,
settings files, the tray icon and its menu, the login page, exit.

Each class is one group with a fresh Wine prefix (see harness.py). Run with
python3 tests/e2e/run.py.
"""

import random
import time
import unittest

import harness
from harness import GroupTestCase, INSTALL_DIR, RUN_KEY, RUN_VALUE_DATA

SUB = "submenu"
SEP = "-"

# The tray menu as the user sees it right after a start: (caption, command
# id or SUB, enabled, checked, column break). Every item that has a command
# is enabled; "自动运行" carries its check mark; "退出" is enabled although
# the resource marks it inactive.
TRAY_MENU = [
    ("企业信息系统", SUB, True, False, True),
    ("销售管理", SUB, True, False, False),
    ("我的通讯平台", 32819, True, False, False),
    ("我的个人主页", 32801, True, False, False),
    SEP,
    ("发送短信", 32779, True, False, False),
    ("查看短信", 32780, True, False, False),
    ("收藏夹", SUB, True, False, False),
    SEP,
    ("设置快捷方式", SUB, True, False, False),
    SEP,
    ("自动运行", 32776, True, True, False),
    ("配置", 32773, True, False, False),
    ("自动更新", 32778, True, False, False),
    SEP,
    ("退出", 57665, True, False, False),
]


def plain(rows):
    """Submenu rows given as (caption, id) pairs: enabled, no check mark,
    no column break."""
    return [r if r == SEP else (r[0], r[1], True, False, False) for r in rows]


SUBMENUS = {
    "企业信息系统": plain([
        ("发送邮件", 32791), ("我的邮件", 32783), ("撰写便笺", 32820), ("查看便笺", 32821), SEP,
        ("我的同事", 32784), ("我的联系人", 32785), ("我的日程", 32800), ("我的部门", 32787), SEP,
        ("通知公告", 32786), ("我的知识库", 32789), ("企业知识库", 32790), ("社群", 32815),
        ("公文流转", 32816)]),
    "销售管理": plain([
        ("销售主页", 32803), ("POS销售", 32817), SEP,
        ("销售订单", 32804), ("销售出库", 32805), ("销售开票", 32806), ("收款处理", 32812), SEP,
        ("我的客户", 32807), ("销售日报", 32810), ("应收应付", 32813), ("销售活动管理", 32818),
        ("销售合同管理", 32814), SEP,
        ("产品", 32808), ("库存管理", 32809), ("配置管理", 32811)]),
    "设置快捷方式": plain([
        ("桌面快捷方式", 32833), ("开始栏", 32834), ("快速启动栏", 32835), ("全部快捷方式", 32836)]),
}

# Favorites 1 to 20 in menu order; a separator follows favorites 5, 12 and 20.
FAVORITE_IDS = [32781, 32782, 32792, 32793, 32794, 32795, 32796, 32797, 32798, 32799,
                32829, 32822, 32823, 32824, 32825, 32826, 32827, 32828, 32830, 32831]


def favorites_menu(captions):
    """The favorites submenu for these bookmark captions (1-based list, ""
    where a bookmark has no caption): favorite 1 falls back to "Dunlore",
    favorite 2 keeps "网站管理", favorites 3 to 20 without a caption stay in
    place without text and disabled."""
    rows = []
    for n, fav_id in enumerate(FAVORITE_IDS, start=1):
        caption = captions[n - 1] if n <= len(captions) else ""
        if n == 1:
            rows.append((caption or "Dunlore", fav_id, True, False, False))
        elif n == 2:
            rows.append((caption or "网站管理", fav_id, True, False, False))
        else:
            rows.append((caption, fav_id, bool(caption), False, False))
        if n in (5, 12, 20):
            rows.append(SEP)
    return rows


def rows_of(items):
    """Menu dump items in the shape of the tables above."""
    rows = []
    for i in items:
        if i["separator"]:
            rows.append(SEP)
        else:
            rows.append((i["text"], SUB if i["popup"] else i["id"], i["enabled"], i["checked"],
                         i["menubarbreak"]))
    return rows


def login_address(server, port):
    if port == 80:
        return "http://%s/velsa/login.jsp" % server
    return "http://%s:%d/velsa/login.jsp" % (server, port)


class StartupChecks(GroupTestCase):
    """Helpers shared by the groups below."""

    def assert_login_page(self, address, settle=1.0):
        """A posted double click on the icon starts the browser exactly once,
        with address."""
        env = self.env
        env.clear_browser()
        env.driver.call("post-tray", harness.WM_LBUTTONDBLCLK)
        env.wait_browser(1, timeout=15)
        time.sleep(settle)
        self.assertEqual(env.browser_addresses(), [address])

    def favorites_rows(self):
        env = self.env
        env.open_tray_menu()
        try:
            dump = env.open_submenu("收藏夹")
            return rows_of(dump["menus"][0]["items"])
        finally:
            env.close_menus()


class FirstStartTest(StartupChecks):
    """The first start from a folder that holds orlimo.exe and
    config.properties, in a fresh prefix."""

    BOOKMARKS = [("企业门户", "http://127.0.0.1/velsa/index.jsp"),
                 ("Mail Box", "http://127.0.0.1/mail/"),
                 ("知识 库 3", "http://127.0.0.1/wiki/")]

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.config = env.config(user_id=7, interval_time=1, bookmark=cls.BOOKMARKS)
        cls.folder = env.launch_folder("setup", config=cls.config)
        cls.prog = env.launch(cls.folder)

    # -- self-installation ------------------------------------------------

    def test_install_folder_holds_marker_program_and_settings(self):
        prefix = self.env.prefix
        names = [n.lower() for n in prefix.listdir(INSTALL_DIR) or []]
        for name in ("lock.file", "orlimo.exe", "config.properties"):
            self.assertIn(name, names)
        self.assertEqual(prefix.read_file(INSTALL_DIR + r"\lock.file"), b"")
        self.assertEqual(prefix.read_file(INSTALL_DIR + r"\orlimo.exe"),
                         (self.folder / "orlimo.exe").read_bytes())
        self.assertEqual(prefix.read_file(INSTALL_DIR + r"\config.properties"), self.config)

    def test_per_user_settings_file_is_a_copy_of_the_shared_one(self):
        env = self.env
        self.assertEqual(env.prefix.read_file(env.user_config_path()), self.config)

    def test_run_value_names_the_installed_program(self):
        env = self.env
        self.assertEqual(env.prefix.reg_query(RUN_KEY, "orlimo"), ("REG_SZ", RUN_VALUE_DATA))
        stored = env.driver.reg_get(RUN_KEY, "orlimo")
        # REG_SZ, the path and one terminating NUL, nothing more.
        self.assertEqual(stored["type"], 1)
        self.assertEqual(stored["size"], (len(RUN_VALUE_DATA) + 1) * 2)
        self.assertEqual(stored["text"], RUN_VALUE_DATA)

    # -- tray icon and menu -------------------------------------------------

    def test_one_tray_icon_with_the_normal_tooltip(self):
        self.assertEqual(self.env.tray_tips(), [harness.TIP_NORMAL])

    def test_tray_menu_items_ids_and_states(self):
        env = self.env
        self.addCleanup(env.close_menus)
        dump = env.open_tray_menu()
        self.assertEqual(len(dump["menus"]), 1, "only the tray menu is open")
        self.assertEqual(rows_of(dump["menus"][0]["items"]), TRAY_MENU)

    def test_submenus_as_shown(self):
        env = self.env
        for caption, expected in SUBMENUS.items():
            with self.subTest(submenu=caption):
                env.open_tray_menu()
                try:
                    dump = env.open_submenu(caption)
                    self.assertEqual(rows_of(dump["menus"][0]["items"]), expected)
                finally:
                    env.close_menus()

    def test_favorites_show_the_bookmark_captions(self):
        self.assertEqual(self.favorites_rows(), favorites_menu([c for c, _ in self.BOOKMARKS]))

    def test_button_press_opens_menu_at_the_cursor(self):
        env = self.env
        for how, lparam in (("right", harness.WM_RBUTTONDOWN), ("left", harness.WM_LBUTTONDOWN)):
            with self.subTest(button=how):
                env.driver.call("cursor", 300, 200)
                env.driver.call("post-tray", lparam)
                try:
                    rc, menus = env.driver.try_call("wait-menu", 5000)
                    self.assertEqual(rc, 0, "no menu after a %s button press" % how)
                    self.assertEqual(menus[0]["rect"][:2], [300, 200])
                    dump = env.menu()
                    self.assertEqual(rows_of(dump["menus"][0]["items"]), TRAY_MENU)
                finally:
                    env.close_menus()

    def test_real_clicks_on_the_icon_open_the_menu(self):
        env = self.env
        for button in (3, 1):
            with self.subTest(button=button):
                try:
                    dump = env.open_tray_menu(real_click=True, button=button)
                    icon = env.tray_icons()[0]["rect"]
                    centre = [(icon[0] + icon[2]) // 2, (icon[1] + icon[3]) // 2]
                    self.assertEqual(dump["menus"][0]["rect"][:2], centre)
                    self.assertEqual([r[0] if r != SEP else SEP for r in rows_of(dump["menus"][0]["items"])],
                                     [r[0] if r != SEP else SEP for r in TRAY_MENU])
                finally:
                    env.close_menus()
                time.sleep(0.6)  # no double click out of two tests' clicks

    def test_other_mouse_messages_do_nothing(self):
        env = self.env
        env.clear_browser()
        for msg in (0x200, 0x202, 0x205, 0x206, 0x207, 0x208):  # move, ups, right double, middle
            env.driver.call("post-tray", msg)
        rc, menus = env.driver.try_call("wait-menu", 1500)
        if rc == 0:
            env.close_menus()
        self.assertNotEqual(rc, 0, "a menu opened: %s" % menus)
        self.assertEqual(env.browser_addresses(), [])
        self.assertTrue(self.prog.alive())

    # -- login page -------------------------------------------------------------

    def test_double_click_opens_the_login_page(self):
        self.assert_login_page(login_address("127.0.0.1", self.env.portal.port))

    def test_a_double_click_reported_twice_opens_the_page_once(self):
        # A shell that reports each click of a double click: two activations
        # within the double-click time open one page; a later one, another.
        env = self.env
        address = login_address("127.0.0.1", env.portal.port)
        env.clear_browser()
        env.driver.call("post-tray", harness.WM_LBUTTONDBLCLK, harness.WM_LBUTTONDBLCLK)
        env.wait_browser(1, timeout=15)
        time.sleep(1.0)
        self.assertEqual(env.browser_addresses(), [address])
        env.driver.call("post-tray", harness.WM_LBUTTONDBLCLK)
        self.assertEqual(env.wait_browser(2, timeout=15), [address, address])

    def test_still_running_without_crash_report(self):
        self.assertTrue(self.prog.alive())
        self.assertIsNone(self.prog.crashed())


class ExitTest(StartupChecks):
    """The exit command ends the program and takes its icon away."""

    @classmethod
    def setUpGroup(cls):
        cls.folder = cls.env.launch_folder("setup", config=cls.env.config())

    def assert_ended(self, prog):
        env = self.env
        self.assertTrue(env.wait_no_tray(10), "the tray icon is still there")
        self.assertIsNotNone(prog.wait_exit(15), "the process did not end")
        rc, frames = env.driver.try_call("frame")
        self.assertEqual(frames, [])

    def test_exit_command_removes_icon_and_ends_process(self):
        prog = self.launch(self.folder)
        self.env.driver.call("post-command", harness.ID_APP_EXIT)
        self.assert_ended(prog)
        self.assertIsNone(prog.crashed())

    def test_exit_chosen_in_the_tray_menu(self):
        env = self.env
        prog = self.launch(self.folder)
        env.open_tray_menu()
        env.driver.call("menu-key", "up")
        chosen = [i["text"] for i in env.menu()["menus"][0]["items"] if i["hilite"]]
        self.assertEqual(chosen, ["退出"])
        env.driver.call("menu-key", "return")
        self.assert_ended(prog)


class SecondStartTest(StartupChecks):
    """A start with lock.file present copies nothing and does not touch the
    registry, even when the Run value was deleted meanwhile; the port that
    the administrator changed in the shared file since reaches the user."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        first_config = env.config(user_id=3)
        folder = env.launch_folder("setup", config=first_config)
        prog = env.launch(folder)
        if env.exit(prog) is None:
            raise harness.HarnessError("the first start did not end on the exit command")
        prefix = env.prefix
        cls.installed_exe = prefix.read_file(INSTALL_DIR + r"\orlimo.exe")
        cls.user_config = prefix.read_file(env.user_config_path())
        # What the second start must leave alone.
        prefix.reg_delete(RUN_KEY, "orlimo")
        cls.shared_config = first_config + b"server_port=1\r\n"
        prefix.host_path(INSTALL_DIR + r"\config.properties").write_bytes(cls.shared_config)
        # A launch folder whose files differ from the installed ones: an
        # appended overlay does not change how Windows runs the program.
        cls.folder = env.launch_folder("setup2", config=env.config(user_id=99),
                                       exe_suffix=b"\0second start overlay")
        cls.prog = env.launch(cls.folder)

    def test_program_file_not_copied_again(self):
        self.assertEqual(self.env.prefix.read_file(INSTALL_DIR + r"\orlimo.exe"), self.installed_exe)

    def test_shared_settings_not_copied_again(self):
        self.assertEqual(self.env.prefix.read_file(INSTALL_DIR + r"\config.properties"), self.shared_config)

    def test_per_user_settings_follow_the_shared_file(self):
        self.assertEqual(self.env.prefix.read_file(self.env.user_config_path()),
                         self.user_config.replace(b"server_port=%d" % self.env.portal.port, b"server_port=1")
                         + b"bookmark=\r\n")

    def test_run_value_not_written_again(self):
        self.assertIsNone(self.env.prefix.reg_query(RUN_KEY, "orlimo"))

    def test_autorun_still_checked(self):
        env = self.env
        self.addCleanup(env.close_menus)
        items = env.open_tray_menu()["menus"][0]["items"]
        autorun = [i for i in items if i["id"] == 32776]
        self.assertEqual([i["checked"] for i in autorun], [True])

    def test_per_user_settings_in_force(self):
        # The per-user file of the first start is read, not the new launch
        # folder's file, with the shared file's new port.
        self.assert_login_page(login_address("127.0.0.1", 1))


class NoSettingsTest(StartupChecks):
    """No settings file anywhere: the message, then the defaults."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.folder = env.launch_folder("setup", config=None)
        cls.prog = env.launch(cls.folder, wait_tray=False)
        rc, cls.box = env.driver.try_call("wait-dialog", harness.APP_TITLE, 30000, timeout=45)
        cls.box_dump = env.driver.try_call("dialog", harness.APP_TITLE)[1] if rc == 0 else None
        cls.icons_under_box = env.tray_icons() if rc == 0 else None
        if rc == 0:
            env.driver.call("click", harness.APP_TITLE, 1)
        cls.started = True
        try:
            env.wait_started(cls.prog, 30)
        except harness.HarnessError:
            cls.started = False

    def test_message_names_the_missing_settings_file(self):
        self.assertIsNotNone(self.box_dump, "no message box titled %r" % harness.APP_TITLE)
        texts = [c["text"] for c in self.box_dump["controls"]]
        self.assertIn(harness.NO_SETTINGS_TEXT, texts)
        buttons = [c for c in self.box_dump["controls"] if c["class"].lower() == "button"]
        self.assertEqual([b["id"] for b in buttons], [1], "one OK button")

    def test_no_icon_before_the_message_is_answered(self):
        self.assertEqual(self.icons_under_box, [])

    def test_icon_after_ok(self):
        self.assertTrue(self.started, "no tray icon after OK")
        self.assertEqual(self.env.tray_tips(), [harness.TIP_NORMAL])
        self.assertTrue(self.prog.alive())

    def test_install_made_the_marker_only(self):
        names = sorted(n.lower() for n in self.env.prefix.listdir(INSTALL_DIR) or [])
        self.assertEqual(names, ["lock.file", "orlimo.exe"])

    def test_default_server_and_port(self):
        self.assert_login_page(login_address(harness.cmake_cache_value("ORLIMO_DEFAULT_SERVER"), 80))

    def test_default_favorites(self):
        self.assertEqual(self.favorites_rows(), favorites_menu([]))


class LoginPageTest(StartupChecks):
    """The login page address follows the port rule: no port part for 80."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.folder = env.launch_folder("setup", config=env.config(server_port=80))
        prog = env.launch(cls.folder)
        env.exit(prog)

    def start_with_port(self, port):
        self.env.write_user_config(self.env.config(server_port=port))
        return self.launch(self.folder)

    def test_port_80_has_no_port_part(self):
        self.start_with_port(80)
        self.assert_login_page("http://127.0.0.1/velsa/login.jsp")

    def test_port_8080_follows_the_host(self):
        self.start_with_port(8080)
        self.assert_login_page("http://127.0.0.1:8080/velsa/login.jsp")

    def test_port_0_is_written_too(self):
        self.start_with_port(0)
        self.assert_login_page("http://127.0.0.1:0/velsa/login.jsp")


class BadSettingsTest(StartupChecks):
    """Damaged per-user settings files: the program starts, shows its icon,
    keeps running and leaves the file as it was. Where the file still holds
    readable lines after the damage, their values are in force."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.folder = env.launch_folder("setup", config=env.config())
        prog = env.launch(cls.folder)
        env.exit(prog)

    def start_with(self, data):
        env = self.env
        env.write_user_config(data)
        prog = self.launch(self.folder, timeout=60)
        self.assertEqual(env.tray_tips(), [harness.TIP_NORMAL])
        # The menus show whatever favorites the file produced.
        env.open_tray_menu()
        try:
            env.open_submenu("收藏夹")
        finally:
            env.close_menus()
        self.assertTrue(prog.alive(), "the program ended")
        self.assertIsNone(prog.crashed())
        return prog

    def finish(self, prog, data):
        self.assertIsNotNone(self.env.exit(prog), "no exit on the exit command")
        self.assertEqual(self.env.prefix.read_file(self.env.user_config_path()), data,
                         "the settings file changed")

    def port_line(self):
        return b"server_port=%d" % self.env.portal.port

    def test_empty_file_gives_the_defaults(self):
        data = b""
        prog = self.start_with(data)
        self.assert_login_page(login_address(harness.cmake_cache_value("ORLIMO_DEFAULT_SERVER"), 80))
        self.finish(prog, data)

    def test_ten_megabytes(self):
        filler = b"filler=" + b"y" * 100 + b"\r\n"
        data = b"server=127.0.0.1\r\n" + filler * (10 * 1024 * 1024 // len(filler)) + self.port_line() + b"\r\n"
        prog = self.start_with(data)
        self.assert_login_page(login_address("127.0.0.1", self.env.portal.port))
        self.finish(prog, data)

    def test_binary_bytes(self):
        data = random.Random(20240607).randbytes(256 * 1024)
        prog = self.start_with(data)
        self.finish(prog, data)

    def test_nul_bytes(self):
        data = (b"server=127.0.0.1\r\n\0\0\0\r\nuser_id=7\0junk\r\n"
                b"bookmark=A\0B|http://127.0.0.1/a=\0|\0\r\n" + self.port_line() + b"\r\n\0")
        prog = self.start_with(data)
        self.assert_login_page(login_address("127.0.0.1", self.env.portal.port))
        self.finish(prog, data)

    def test_line_of_a_million_characters(self):
        data = b"server=127.0.0.1\r\n" + b"x" * 1000000 + b"\r\n" + self.port_line() + b"\r\n"
        prog = self.start_with(data)
        self.assert_login_page(login_address("127.0.0.1", self.env.portal.port))
        self.finish(prog, data)

    def test_million_character_bookmark(self):
        data = b"server=127.0.0.1\r\nbookmark=" + (b"B" * 50000 + b"|http://127.0.0.1/=") * 20 + b"\r\n"
        prog = self.start_with(data)
        self.finish(prog, data)

    def test_last_line_without_line_end_is_read(self):
        data = b"server=127.0.0.1\r\nuser_id=5\r\n" + self.port_line()
        prog = self.start_with(data)
        self.assert_login_page(login_address("127.0.0.1", self.env.portal.port))
        self.finish(prog, data)


if __name__ == "__main__":
    unittest.main()
