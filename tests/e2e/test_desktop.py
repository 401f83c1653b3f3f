"""Settings dialog, application commands, about box and shortcut files of
the real orlimo.exe."""

import os
import shutil
import struct
import time
import unittest

import harness
from harness import GroupTestCase, RUN_KEY, RUN_VALUE_DATA, TIP_NORMAL, wait_until

CONFIG_DLG = "参数配置"
UPDATE_PROMPT = "通知器更新"
ABOUT = "关于 orlimo"
APP = "orlimo"
NOTIFY = "/velsa/home/notifyMsg.jsp"
IDC_SERVER, IDC_INTERVAL, IDC_USERID, IDC_PORT = 1000, 1001, 1002, 1005
PORTAL_LINK = "企业管理.lnk"
MAIL_LINK = "Outlook邮件客户端.lnk"


def read_lnk(data):
    """(target-relevant) fields of a shell link file: arguments, icon
    location, icon index, show command."""
    flags, = struct.unpack_from("<I", data, 20)
    icon_index, show = struct.unpack_from("<iI", data, 56)
    pos = 76
    if flags & 0x01:                      # HasLinkTargetIDList
        size, = struct.unpack_from("<H", data, pos)
        pos += 2 + size
    if flags & 0x02:                      # HasLinkInfo
        size, = struct.unpack_from("<I", data, pos)
        pos += size
    unicode = bool(flags & 0x80)
    strings = {}
    for bit, name in ((0x04, "name"), (0x08, "relative_path"), (0x10, "working_dir"),
                      (0x20, "arguments"), (0x40, "icon_location")):
        if flags & bit:
            count, = struct.unpack_from("<H", data, pos)
            pos += 2
            width = 2 if unicode else 1
            raw = data[pos:pos + count * width]
            pos += count * width
            # Wine counts the terminating NUL in; the format does not.
            strings[name] = raw.decode("utf-16-le" if unicode else "latin-1").rstrip("\0")
    return {"arguments": strings.get("arguments"), "icon_location": strings.get("icon_location"),
            "icon_index": icon_index, "show": show}


WS_DISABLED = 0x08000000


class DesktopChecks(GroupTestCase):
    def wait_dialog(self, title, timeout=15):
        return self.env.wait_dialog(title, timeout)

    def wait_no_dialog(self, title, timeout=15):
        return self.env.wait_no_dialog(title, timeout)

    def controls(self, title):
        return {c["id"]: c for c in self.env.driver.call("dialog", title)["controls"]}

    def texts(self, title):
        return {i: c["text"] for i, c in self.controls(title).items()}

    def message_text(self):
        """The text of the open message box titled "orlimo"."""
        self.assertTrue(self.wait_dialog(APP, 10))
        statics = [c["text"] for c in self.env.driver.call("dialog", APP)["controls"]
                   if c["class"].lower() == "static" and c["text"]]
        return statics

    def close_message(self):
        env = self.env
        ids = self.controls(APP)
        env.driver.call("click", APP, 1 if 1 in ids else 2)
        self.assertTrue(self.wait_no_dialog(APP, 10))

    def user_config(self):
        return self.env.prefix.read_file(self.env.user_config_path())

    def open_dialog(self, command=32773):
        self.env.driver.call("post-command", command)
        self.assertTrue(self.wait_dialog(CONFIG_DLG, 10))
        return self.texts(CONFIG_DLG)

    def set_fields(self, server=None, port=None, interval=None, user=None):
        for cid, value in ((IDC_SERVER, server), (IDC_PORT, port), (IDC_INTERVAL, interval),
                           (IDC_USERID, user)):
            if value is not None:
                self.env.driver.call("set-text", CONFIG_DLG, cid, value)

    def queries_after(self, seen, count=1, timeout=15):
        env = self.env
        wait_until(lambda: len(env.portal.requests(NOTIFY)) >= seen + count, timeout)
        return env.portal.requests(NOTIFY)[seen:]

    def polls_as(self, user_id):
        seen = len(self.env.portal.requests(NOTIFY))
        return self.queries_after(seen, 2)[-1]["query"] == "usr_id=%d&ver=1" % user_id

    @classmethod
    def installed_by_an_administrator(cls):
        """The program started once by an administrator, as after a manual
        deployment, then ended: cls.shared is the shared settings file it
        installed, cls.install the install folder."""
        env = cls.env
        cls.shared = env.config(user_id=5, interval_time=0)
        admin = env.launch(env.launch_folder(config=cls.shared))
        if env.exit(admin) is None:
            raise harness.HarnessError("the administrator's start did not end on the exit command")
        cls.install = env.prefix.host_path(harness.INSTALL_DIR)


class SettingsDialogTest(DesktopChecks):
    BOOKMARK = "门户|http://127.0.0.1/velsa/=B|http://b/"

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cfg = env.config(user_id=7, interval_time=0, bookmark=cls.BOOKMARK) + b"junk=line\r\n"
        cls.prog = env.launch(env.launch_folder(config=cfg))

    def test_1_dialog_shows_values_in_force(self):
        texts = self.open_dialog()
        self.assertEqual(texts[IDC_SERVER], "127.0.0.1")
        self.assertEqual(texts[IDC_PORT], str(self.env.portal.port))
        self.assertEqual(texts[IDC_INTERVAL], "0")
        self.assertEqual(texts[IDC_USERID], "7")
        self.assertEqual(texts[1], "保存")
        self.assertEqual(texts[2], "取消")
        self.env.driver.call("click", CONFIG_DLG, 2)
        self.assertTrue(self.wait_no_dialog(CONFIG_DLG))

    def test_2_not_an_integer_is_refused_and_nothing_written(self):
        before = self.user_config()
        self.open_dialog()
        self.set_fields(port="8o", user="99")
        self.env.driver.call("click", CONFIG_DLG, 1)
        self.assertEqual(self.message_text(), ["请输入一个整数。"])
        # The box belongs to the dialog, which cannot be used under it.
        dialog = self.env.driver.call("dialog", CONFIG_DLG)
        self.assertTrue(dialog["style"] & WS_DISABLED, "保存 could be pressed again under the box")
        self.assertEqual(self.env.driver.call("dialog", APP)["owner"], dialog["hwnd"])
        self.close_message()
        self.assertTrue(self.wait_dialog(CONFIG_DLG, 2), "the dialog stays open")
        self.assertEqual(self.user_config(), before)
        self.env.driver.call("click", CONFIG_DLG, 2)
        self.assertTrue(self.wait_no_dialog(CONFIG_DLG))
        seen = len(self.env.portal.requests(NOTIFY))
        self.assertEqual(self.queries_after(seen, 2)[-1]["query"], "usr_id=7&ver=1")

    def test_3_save_writes_five_lines_and_applies_at_once(self):
        env = self.env
        self.open_dialog(32771)   # the same dialog from the frame's own menu
        self.set_fields(user=" 81 ", interval="-3")
        env.driver.call("click", CONFIG_DLG, 1)
        self.assertTrue(self.wait_no_dialog(CONFIG_DLG))
        expected = ("server=127.0.0.1\r\nuser_id=81\r\ninterval_time=-3\r\nserver_port=%d\r\n"
                    "bookmark=%s\r\n" % (env.portal.port, self.BOOKMARK)).encode("gbk")
        self.assertEqual(self.user_config(), expected)
        seen = len(env.portal.requests(NOTIFY))
        self.assertEqual(self.queries_after(seen, 2)[-1]["query"], "usr_id=81&ver=1")
        env.clear_browser()
        env.driver.call("post-command", 32801)
        self.assertEqual(env.wait_browser(1), [
            "http://127.0.0.1:%d/velsa/home/myhome.jsp?user_id=81" % env.portal.port])

    def test_4_failed_save_keeps_old_file_and_new_values(self):
        env = self.env
        path = env.prefix.host_path(env.user_config_path())
        before = path.read_bytes()
        os.chmod(path, 0o444)   # read-only for Windows
        # Nor can the user's own folder take the file instead: a file
        # stands where that folder would be.
        own = env.prefix.host_path(r"c:\users\%s\AppData\Roaming\orlimo" % env.user())
        if own.is_dir():
            shutil.rmtree(own)
        own.write_bytes(b"not a folder")
        self.addCleanup(own.unlink)
        try:
            self.open_dialog()
            self.set_fields(user="55")
            env.driver.call("click", CONFIG_DLG, 1)
            self.assertEqual(self.message_text(), ["创建配置文件失败!"])
            self.close_message()
            self.assertTrue(self.wait_no_dialog(CONFIG_DLG))
            self.assertEqual(path.read_bytes(), before)
            seen = len(env.portal.requests(NOTIFY))
            self.assertEqual(self.queries_after(seen, 2)[-1]["query"], "usr_id=55&ver=1")
            texts = self.open_dialog()
            self.assertEqual(texts[IDC_USERID], "55", "the dialog shows the values in force")
            env.driver.call("click", CONFIG_DLG, 2)
            self.assertTrue(self.wait_no_dialog(CONFIG_DLG))
        finally:
            os.chmod(path, 0o644)


class CommandsTest(DesktopChecks):
    SERVER = "127.0.0.1"

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.prog = env.launch(env.launch_folder(config=env.config(server_port=8080, interval_time=60)))

    def reference(self, address):
        return self.env.reference_addresses(address)

    def autorun_row(self):
        env = self.env
        dump = env.open_tray_menu()
        env.close_menus()
        return [i for i in dump["menus"][-1]["items"] if i.get("id") == 32776][0]

    def test_autorun_toggle(self):
        env = self.env
        self.assertTrue(self.autorun_row()["checked"])
        env.driver.call("post-command", 32776)
        self.assertTrue(wait_until(lambda: env.driver.reg_get(RUN_KEY, "orlimo") is None, 10))
        self.assertFalse(self.autorun_row()["checked"])
        env.driver.call("post-command", 32776)
        self.assertTrue(wait_until(lambda: env.driver.reg_get(RUN_KEY, "orlimo") is not None, 10))
        self.assertEqual(env.driver.reg_get(RUN_KEY, "orlimo")["text"], RUN_VALUE_DATA)
        self.assertTrue(self.autorun_row()["checked"])

    def test_update_prompt_opens_personal_page(self):
        env = self.env
        env.driver.call("post-command", 32778)
        self.assertTrue(self.wait_dialog(UPDATE_PROMPT))
        want = self.reference("http://127.0.0.1:8080/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp"
                              "?main_url=/mypage/pri_mod.jsp#modify")
        env.clear_browser()
        env.driver.call("click", UPDATE_PROMPT, 1)
        self.assertTrue(self.wait_no_dialog(UPDATE_PROMPT))
        self.assertEqual(env.wait_browser(1), want)

    def test_portal_home_is_the_server_root_without_port(self):
        want = self.reference("http://127.0.0.1")
        env = self.env
        env.clear_browser()
        env.driver.call("post-command", 32777)
        self.assertEqual(env.wait_browser(1), want)

    def test_about_box_and_user_name(self):
        env = self.env
        env.driver.call("post-command", 57664)
        self.assertTrue(self.wait_dialog(ABOUT))
        controls = self.env.driver.call("dialog", ABOUT)["controls"]
        self.assertIn("orlimo 1.0 版", [c["text"] for c in controls])
        self.assertEqual(self.texts(ABOUT)[1004], "Button1")
        for _ in range(2):
            env.driver.call("click", ABOUT, 1004)
            self.assertEqual(self.message_text(), [env.user()])
            self.close_message()
            self.assertTrue(self.wait_dialog(ABOUT, 2))
        env.driver.call("click", ABOUT, 1)
        self.assertTrue(self.wait_no_dialog(ABOUT))

    def test_tray_close_does_nothing(self):
        env = self.env
        env.clear_browser()
        env.driver.call("post-command", 32772)
        time.sleep(1.5)
        self.assertTrue(self.prog.alive())
        self.assertEqual(env.tray_tips(), [TIP_NORMAL])
        self.assertEqual(env.browser_addresses(), [])


class StandardUserTest(DesktopChecks):
    """A standard user on a PC where an administrator installed the program:
    the install folder takes no file of his, so his settings live in his
    roaming application-data folder, and stay his own across starts."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.installed_by_an_administrator()
        cls.user = env.become_standard_user()
        cls.own = r"c:\users\%s\AppData\Roaming\orlimo\%s.config.properties" % (cls.user, cls.user)
        cls.prog = env.launch(cls.install)  # as the Run value starts it at logon

    def own_file(self):
        return self.env.prefix.read_file(self.own)

    def test_1_first_start_copies_the_settings_into_the_users_folder(self):
        self.assertEqual(self.env.user(), self.user)
        self.assertEqual(self.own_file(), self.shared)
        self.assertNotIn("%s.config.properties" % self.user, os.listdir(self.install))
        self.assertFalse(self.wait_dialog(APP, 1), "no message at start")
        self.assertTrue(self.polls_as(5))

    def test_2_settings_dialog_saves_there(self):
        texts = self.open_dialog()
        self.assertEqual(texts[IDC_USERID], "5")
        self.set_fields(user="77")
        self.env.driver.call("click", CONFIG_DLG, 1)
        self.assertTrue(self.wait_no_dialog(CONFIG_DLG))
        self.assertFalse(self.wait_dialog(APP, 2), "创建配置文件失败!")
        self.assertEqual(self.own_file(), self.shared.replace(b"user_id=5", b"user_id=77")
                         + b"bookmark=\r\n")
        self.assertTrue(self.polls_as(77))

    def test_3_next_start_uses_them_and_the_shared_file_is_untouched(self):
        env = self.env
        self.assertIsNotNone(env.exit(self.prog))
        type(self).prog = env.launch(self.install)
        self.assertTrue(self.polls_as(77))
        self.assertEqual((self.install / "config.properties").read_bytes(), self.shared)
        self.assertNotIn("%s.config.properties" % self.user, os.listdir(self.install))

    def test_4_an_administrators_new_port_reaches_him_and_his_user_id_stays(self):
        env = self.env
        moved = harness.Portal(env.folder / "portal-moved.log").start()
        self.addCleanup(moved.stop)
        (self.install / "config.properties").write_bytes(self.shared.replace(
            b"server_port=%d" % env.portal.port, b"server_port=%d" % moved.port))
        self.assertIsNotNone(env.exit(self.prog))
        type(self).prog = env.launch(self.install)
        self.assertTrue(wait_until(lambda: len(moved.requests(NOTIFY)) >= 2, 20))
        self.assertEqual({r["query"] for r in moved.requests(NOTIFY)}, {"usr_id=77&ver=1"})
        self.assertIn(b"server_port=%d\r\n" % moved.port, self.own_file())


class ElevatedLeftoverTest(DesktopChecks):
    """A standard user whose per-user file lies in the install folder, left
    there by an earlier elevated start of his ("Run as administrator"): he
    cannot replace it, so Save writes his own file instead, which is in
    force from then on."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.installed_by_an_administrator()
        name = harness.Environment.STANDARD_USER
        cls.leftover = cls.install / ("%s.config.properties" % name)
        cls.leftover.write_bytes(env.config(user_id=6, interval_time=0))  # the install folder's owner's
        cls.user = env.become_standard_user()
        cls.own = r"c:\users\%s\AppData\Roaming\orlimo\%s.config.properties" % (name, name)
        cls.prog = env.launch(cls.install)

    def test_1_save_goes_to_the_users_own_file(self):
        left = self.leftover.read_bytes()
        self.assertTrue(self.polls_as(6))
        self.assertEqual(self.open_dialog()[IDC_USERID], "6")
        self.set_fields(user="88")
        self.env.driver.call("click", CONFIG_DLG, 1)
        self.assertTrue(self.wait_no_dialog(CONFIG_DLG))
        self.assertFalse(self.wait_dialog(APP, 2), "创建配置文件失败!")
        self.assertIn(b"user_id=88\r\n", self.env.prefix.read_file(self.own))
        self.assertEqual(self.leftover.read_bytes(), left, "nobody's file is changed or moved")

    def test_2_next_start_shows_the_saved_values(self):
        env = self.env
        self.assertIsNotNone(env.exit(self.prog))
        type(self).prog = env.launch(self.install)
        self.assertTrue(self.polls_as(88))
        self.assertEqual(self.open_dialog()[IDC_USERID], "88")
        self.env.driver.call("click", CONFIG_DLG, 2)
        self.assertTrue(self.wait_no_dialog(CONFIG_DLG))


class ShortcutsTest(DesktopChecks):
    """Shortcuts are written at every start with the login URL in force."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.folder = env.launch_folder(config=env.config(server="portal.test", server_port=8080,
                                                         interval_time=60))

    def user_dir(self, *parts):
        return self.env.prefix.host_path("c:\\users\\%s\\%s" % (self.env.user(), "\\".join(parts)))

    def links(self):
        desktop = self.user_dir("Desktop")
        roaming = self.user_dir("AppData", "Roaming")
        start = roaming / "Microsoft" / "Windows" / "Start Menu"
        quick = roaming / "Microsoft" / "Internet Explorer" / "Quick Launch"
        return {"desktop": desktop / PORTAL_LINK, "start": start / PORTAL_LINK,
                "quick": quick / PORTAL_LINK, "quick-mail": quick / MAIL_LINK,
                "start-mail": start / MAIL_LINK}, quick

    def test_1_without_quick_launch_folder_the_others_are_written(self):
        links, quick = self.links()
        self.assertFalse(quick.exists())
        prog = self.launch(self.folder)
        self.assertTrue(wait_until(lambda: links["start-mail"].exists(), 10))
        self.assertTrue(links["desktop"].exists())
        self.assertTrue(links["start"].exists())
        self.assertFalse(links["quick"].exists())
        portal = read_lnk(links["desktop"].read_bytes())
        self.assertEqual(portal["arguments"], "http://portal.test:8080/velsa/login.jsp")
        self.assertEqual(portal["icon_location"], r"C:\Program Files\orlimo\orlimo.exe")
        self.assertEqual(portal["icon_index"], 4)
        self.assertEqual(portal["show"], 3)
        mail = read_lnk(links["start-mail"].read_bytes())
        self.assertIsNone(mail["arguments"])
        self.assertEqual(mail["show"], 3)
        self.env.exit(prog)

    def test_2_next_start_writes_all_five_again(self):
        links, quick = self.links()
        quick.mkdir(parents=True, exist_ok=True)
        links["desktop"].unlink()
        prog = self.launch(self.folder)
        self.assertTrue(wait_until(lambda: all(p.exists() for p in links.values()), 10))
        self.assertEqual(read_lnk(links["quick"].read_bytes())["arguments"],
                         "http://portal.test:8080/velsa/login.jsp")
        # The single desktop command writes only the portal shortcut there.
        links["desktop"].unlink()
        links["start-mail"].unlink()
        self.env.driver.call("post-command", 32833)
        self.assertTrue(wait_until(lambda: links["desktop"].exists(), 10))
        time.sleep(1)
        self.assertFalse(links["start-mail"].exists())
        self.env.exit(prog)


if __name__ == "__main__":
    unittest.main()
