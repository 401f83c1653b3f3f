"""The settings dialog, the autostart entries behind "自动运行" and the
portal shortcuts."""

import shutil

import harness
from harness import ProgramTest, desktop_entry, exec_argv, wait_dialog, wait_no_dialog, wait_until

CONFIG = "参数配置"
ENTER_INTEGER = "请输入一个整数。"
SAVE_FAILED = "创建配置文件失败!"
SHORTCUT = "orlimo-portal.desktop"


class SettingsDialogTests(ProgramTest):
    def open_settings(self, p):
        p.choose_caption("配置")
        dlg = wait_dialog(CONFIG)
        self.assertIsNotNone(dlg, "the settings dialog")
        return dlg

    def test_a_file_from_chinese_windows_is_edited_and_saved_in_its_encoding(self):
        port = harness.RUN.portal_port
        favorites = "企业邮箱|http://127.0.0.1/mail=网站|http://127.0.0.1/site"
        shared = self.settings(user_id=7, bookmark=favorites, encoding="gb18030")
        p = self.start(shared=shared)
        self.assertEqual([n["label"] for n in p.submenu("收藏夹")["children"][:2]], ["企业邮箱", "网站"])

        dlg = self.open_settings(p)
        self.assertEqual(dlg.fields(), {"服务器:": "127.0.0.1", "端口号:": str(port), "间隔时间:": "1", "用户ID:": "7"})
        self.assertEqual(sorted(dlg.buttons()), sorted(["保存", "取消"]))
        self.assertIn("分钟", dlg.labels())

        # The integer rule: refused values keep the dialog open and change nothing.
        for field, value in (("端口号:", "8o"), ("间隔时间:", ""), ("用户ID:", "99999999999")):
            dlg.set_field(field, value)
            dlg.press("保存")
            self.assertEqual(self.message(), [ENTER_INTEGER], field)
            self.assertIsNotNone(wait_dialog(CONFIG, 2), "the dialog stays open")
            self.assertEqual(p.user_config.read_bytes(), shared)
            dlg.set_field(field, {"端口号:": str(port), "间隔时间:": "1", "用户ID:": "7"}[field])

        # A server in Chinese is written in the file's encoding; the favorites
        # go back byte for byte; blanks around a number are allowed.
        dlg.set_field("服务器:", "内网门户")
        dlg.set_field("端口号:", " 81 ")
        dlg.set_field("间隔时间:", "-3")
        dlg.set_field("用户ID:", "42")
        dlg.press("保存")
        self.assertTrue(wait_no_dialog(CONFIG))
        expected = ("server=内网门户\r\nuser_id=42\r\ninterval_time=-3\r\nserver_port=81\r\nbookmark=%s\r\n"
                    % favorites).encode("gb18030")
        self.assertEqual(p.user_config.read_bytes(), expected)
        self.assertEqual(p.shared_config.read_bytes(), shared)

        # Cancel leaves everything; the values in force take effect at once:
        # the next poll asks for the new user at the server given now.
        dlg = self.open_settings(p)
        self.assertEqual(dlg.fields(), {"服务器:": "内网门户", "端口号:": "81", "间隔时间:": "-3", "用户ID:": "42"})
        dlg.set_field("用户ID:", "1")
        dlg.press("取消")
        self.assertTrue(wait_no_dialog(CONFIG))
        self.assertEqual(p.user_config.read_bytes(), expected)
        dlg = self.open_settings(p)
        dlg.set_field("服务器:", "127.0.0.1")
        dlg.set_field("端口号:", str(port))
        dlg.press("保存")
        self.assertTrue(wait_no_dialog(CONFIG))
        self.assertTrue(wait_until(lambda: [r for r in harness.RUN.portal_requests("/velsa/home/notifyMsg.jsp")
                                            if r["query"] == "usr_id=42&ver=1"], 10))

    def test_a_file_an_editor_saved_as_utf8_keeps_its_mark(self):
        # An editor's "UTF-8": the mark EF BB BF before "server=". The file
        # names the portal; the build's default host would get no poll.
        favorites = "企业邮箱|http://127.0.0.1/mail=网站|http://127.0.0.1/site"
        user = b"\xef\xbb\xbf" + self.settings(user_id=7, interval=0, bookmark=favorites)
        p = self.start(user=user)
        polls = lambda: harness.RUN.portal_requests("/velsa/home/notifyMsg.jsp")  # noqa: E731
        self.assertTrue(wait_until(polls, 10), "no poll at the server the file names")
        self.assertEqual(polls()[0]["query"], "usr_id=7&ver=1")
        self.assertEqual([n["label"] for n in p.submenu("收藏夹")["children"][:2]], ["企业邮箱", "网站"])

        dlg = self.open_settings(p)
        self.assertEqual(dlg.fields()["服务器:"], "127.0.0.1")
        dlg.set_field("服务器:", "门户.127.0.0.1")
        dlg.set_field("用户ID:", "42")
        dlg.press("保存")
        self.assertTrue(wait_no_dialog(CONFIG))
        self.assertEqual(p.user_config.read_bytes(), b"\xef\xbb\xbf" + (
            "server=门户.127.0.0.1\r\nuser_id=42\r\ninterval_time=0\r\nserver_port=%d\r\nbookmark=%s\r\n"
            % (harness.RUN.portal_port, favorites)).encode("utf-8"))

    def test_a_save_that_fails_is_reported_and_the_values_stay_in_force(self):
        # The user's settings folder cannot be made (a file holds its name).
        def block(p):
            p.write(p.config_home / "orlimo", b"not a folder")
        p = self.start(setup=block, wait_tray=False)
        self.message()  # no settings file anywhere
        p.wait_tray()
        dlg = self.open_settings(p)
        dlg.set_field("用户ID:", "5")
        dlg.press("保存")
        self.assertEqual(self.message(), [SAVE_FAILED])
        self.assertTrue(wait_no_dialog(CONFIG))
        self.assertEqual((p.config_home / "orlimo").read_bytes(), b"not a folder")
        dlg = self.open_settings(p)
        self.assertEqual(dlg.fields()["用户ID:"], "5")
        dlg.press("取消")


class AutostartTests(ProgramTest):
    def mark(self, p):
        return p.find_item("自动运行")["checked"]

    def test_the_check_mark_follows_the_autostart_entries(self):
        package_entry = (harness.ROOT / "res" / "linux" / "orlimo-autostart.desktop").read_bytes()
        p = self.start(shared=self.settings(), setup=lambda p: p.write(p.system_autostart, package_entry))
        self.assertTrue(self.mark(p), "the package's entry starts the program")

        # Off: the user's own entry hides the package's for this user only.
        p.choose_caption("自动运行")
        self.assertTrue(wait_until(lambda: p.user_autostart.exists(), 5))
        self.assertEqual(desktop_entry(p.user_autostart).get("Hidden"), "true")
        self.assertFalse(self.mark(p))
        self.assertEqual(p.system_autostart.read_bytes(), package_entry)
        # On again: the override goes, the package's entry counts.
        p.choose_caption("自动运行")
        self.assertTrue(wait_until(lambda: not p.user_autostart.exists(), 5))
        self.assertTrue(self.mark(p))

        # A change made elsewhere (a desktop's session settings) shows at the
        # next display of the menu.
        p.write(p.user_autostart, "[Desktop Entry]\nType=Application\nExec=orlimo\nX-GNOME-Autostart-enabled=false\n")
        self.assertFalse(self.mark(p))
        p.user_autostart.unlink()
        self.assertTrue(self.mark(p))

        # A change that cannot be made is reported and not shown as made.
        shutil.rmtree(p.config_home / "autostart", ignore_errors=True)
        p.write(p.config_home / "autostart", b"not a folder")
        p.choose_caption("自动运行")
        self.assertEqual(self.message(), [SAVE_FAILED])
        self.assertTrue(self.mark(p))
        (p.config_home / "autostart").unlink()

        # Without the package's entry the user's own entry starts this program.
        p.system_autostart.unlink()
        self.assertFalse(self.mark(p))
        p.choose_caption("自动运行")
        self.assertTrue(wait_until(lambda: p.user_autostart.exists(), 5))
        entry = desktop_entry(p.user_autostart)
        self.assertEqual(exec_argv(entry["Exec"]), [str(p.program)])
        self.assertNotIn("Hidden", entry)
        self.assertTrue(self.mark(p))


class ShortcutTests(ProgramTest):
    def test_shortcuts_on_the_users_desktop_folder_and_in_the_applications_menu(self):
        port = harness.RUN.portal_port

        def desktop_in_chinese(p):
            p.write(p.config_home / "user-dirs.dirs", 'XDG_DESKTOP_DIR="$HOME/桌面"\n')
            (p.home / "桌面").mkdir()
        p = self.start(shared=self.settings(), setup=desktop_in_chinese)
        desktop = p.home / "桌面" / SHORTCUT
        applications = p.data_home / "applications" / SHORTCUT

        def target(path):
            return exec_argv(desktop_entry(path)["Exec"])[1]
        login = "http://127.0.0.1:%d/velsa/login.jsp" % port
        # Written at start, right after the icon is shown.
        self.assertTrue(wait_until(lambda: desktop.exists() and applications.exists(), 5))
        self.assertEqual(target(desktop), login)
        self.assertEqual(target(applications), login)
        self.assertFalse((p.home / "Desktop").exists())

        # Deleted, then written again by "桌面快捷方式".
        desktop.unlink()
        p.choose_caption("桌面快捷方式")
        self.assertTrue(wait_until(desktop.exists, 5))

        # After a change of server only the shortcut written afterwards
        # carries the new host.
        p.choose_caption("配置")
        dlg = wait_dialog("参数配置")
        dlg.set_field("服务器:", "10.0.0.9")
        dlg.set_field("端口号:", "80")
        dlg.press("保存")
        self.assertTrue(wait_no_dialog("参数配置"))
        p.choose_caption("开始栏")
        self.assertTrue(wait_until(lambda: target(applications) == "http://10.0.0.9/velsa/login.jsp", 5))
        self.assertEqual(target(desktop), login)
        p.choose_caption("全部快捷方式")
        self.assertTrue(wait_until(lambda: target(desktop) == "http://10.0.0.9/velsa/login.jsp", 5))

        # Quick Launch has no counterpart here; a missing desktop folder is
        # not made up.
        self.assertFalse(p.find_item("快速启动栏")["enabled"])
        shutil.rmtree(p.home / "桌面")
        before = applications.stat().st_ino
        p.choose_caption("桌面快捷方式")
        p.choose_caption("开始栏")  # commands run in order: when this one is done, so is the first
        self.assertTrue(wait_until(lambda: applications.stat().st_ino != before, 5))
        self.assertFalse((p.home / "桌面").exists())
