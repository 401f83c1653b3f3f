"""Start-up: the settings files of the XDG folders, the tray item, the
shortcuts written at every start, exit."""

import os
import time

import harness
from harness import (NO_SETTINGS_TEXT, TIP_NORMAL, ProgramTest, cmake_cache, colourful, desktop_entry,
                     exec_argv, wait_dialog, wait_no_dialog, wait_until)

SHORTCUT = "orlimo-portal.desktop"


class StartupTests(ProgramTest):
    def test_first_start_copies_the_shared_settings_and_writes_the_shortcuts(self):
        shared = self.settings(user_id=7, bookmark="门户|http://127.0.0.1/velsa/index.jsp")
        p = self.start(shared=shared, setup=lambda p: (p.home / "Desktop").mkdir())
        login = "http://127.0.0.1:%d/velsa/login.jsp" % harness.RUN.portal_port

        # The per-user copy is the shared file byte for byte.
        self.assertEqual(p.user_config.read_bytes(), shared)
        self.assertEqual(p.shared_config.read_bytes(), shared)
        self.assertEqual(p.tooltip(), TIP_NORMAL)
        self.assertEqual(p.prop("Status"), "Active")
        self.assertGreater(colourful(p.icon_rgba()), 20, "the normal picture is the coloured ribbon")
        self.assertEqual(wait_no_dialog("orlimo", 0), True, "no message at a start with settings")

        for folder in (p.home / "Desktop", p.data_home / "applications"):
            path = folder / SHORTCUT
            # Written at start, right after the icon is shown.
            self.assertTrue(wait_until(path.is_file, 5), path)
            entry = desktop_entry(path)
            self.assertEqual(entry["Name"], "企业管理")
            self.assertEqual(entry["Type"], "Application")
            self.assertEqual(entry["Icon"], "orlimo")
            self.assertEqual(exec_argv(entry["Exec"]), ["xdg-open", login])
            self.assertTrue(os.access(path, os.X_OK), "a launcher on the desktop must be executable")

        # Activation opens the login page; the exit command ends the program
        # and takes its item off the tray.
        p.activate()
        self.assertEqual(p.wait_addresses(1), [login])
        p.choose_caption("退出")
        self.assertEqual(p.proc.wait(10), 0)
        self.assertTrue(wait_until(lambda: p.item_name not in p.items(), 5))

    def test_the_users_own_file_wins_over_the_shared_one(self):
        p = self.start(shared=self.settings(port=1, user_id=1), user=self.settings(port=8080, user_id=2))
        p.activate()
        self.assertEqual(p.wait_addresses(1), ["http://127.0.0.1:8080/velsa/login.jsp"])
        self.assertIn(b"server_port=1\r\n", p.shared_config.read_bytes())

    def test_the_icon_waits_for_a_panel_that_starts_later(self):
        # Started with the session before the panel: the icon must still
        # reach the panel's tray once it is there.
        harness.RUN.set_tray_host(False)
        self.addCleanup(harness.RUN.set_tray_host, True)
        p = self.start(shared=self.settings(), wait_tray=False)
        before = p.items()
        time.sleep(2)
        self.assertTrue(p.running())
        self.assertEqual(p.items(), before, "no item while no tray host is there")
        harness.RUN.set_tray_host(True)
        p.wait_tray(before, timeout=10)
        self.assertEqual(p.tooltip(), TIP_NORMAL)

    def test_without_settings_the_message_then_the_defaults(self):
        p = self.start(wait_tray=False)
        box = wait_dialog("orlimo")
        self.assertIsNotNone(box, "the missing-file message")
        self.assertEqual([t for t in box.labels() if t], [NO_SETTINGS_TEXT])
        box.press(box.buttons()[0])
        p.wait_tray()

        # The build's server, port 80 (no port part), favorite 1's fallback.
        server = cmake_cache("ORLIMO_DEFAULT_SERVER")
        p.activate()
        self.assertEqual(p.wait_addresses(1), ["http://%s/velsa/login.jsp" % server])
        self.assertIsNotNone(p.find_item("Dunlore"))
        self.assertFalse(p.user_config.exists(), "nothing to copy, nothing written")

        # Saving from the settings dialog makes the user's file: nothing of
        # what the user enters is lost for want of a file.
        p.choose_caption("配置")
        dlg = wait_dialog("参数配置")
        dlg.set_field("用户ID:", "12")
        dlg.press("保存")
        self.assertTrue(wait_no_dialog("参数配置"))
        self.assertEqual(p.user_config.read_bytes(),
                         ("server=%s\r\nuser_id=12\r\ninterval_time=1\r\nserver_port=80\r\nbookmark=\r\n"
                          % server).encode())

