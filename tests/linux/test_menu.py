"""The tray menu as the desktop reads it over D-Bus, the portal pages and
favorites it opens, the icon's activation and the about box."""

import importlib.util
import os
import pwd
import time

import harness
from harness import ProgramTest, cmake_cache, wait_dialog, wait_no_dialog, wait_until

_found = importlib.util.spec_from_file_location("rc_texts", harness.TOOLS / "rc_texts.py")
rc_texts = importlib.util.module_from_spec(_found)
_found.loader.exec_module(rc_texts)
RC = rc_texts.parse(harness.ROOT / "res" / "orlimo.rc", harness.ROOT / "res" / "resource.h")

FAVORITE_IDS = [32781, 32782, 32792, 32793, 32794, 32795, 32796, 32797, 32798, 32799,
                32829, 32822, 32823, 32824, 32825, 32826, 32827, 32828, 32830, 32831]
QUICK_LAUNCH = 32835
REDIRECT = "/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url="


class MenuTests(ProgramTest):
    def test_the_menu_is_the_resource_scripts_with_the_favorites_in_place(self):
        # Favorite 1 empty (its default), 2 a caption with an address of
        # another scheme, 3 a caption and an address, 4 an address without
        # a caption, 5 to 20 absent: 2 and 4 to 20 would open nothing (a
        # tray host would draw 4 to 20 as blank rows), so they are not in
        # the layout.
        bookmark = "=Second|ftp://127.0.0.1/f=Secure|https://127.0.0.1/s=|http://127.0.0.1/n"
        p = self.start(shared=self.settings(bookmark=bookmark))
        captions = {FAVORITE_IDS[0]: ("Dunlore", True), FAVORITE_IDS[2]: ("Secure", True)}
        hidden = {FAVORITE_IDS[1]} | set(FAVORITE_IDS[3:])

        def expect(items, nodes, where):
            # Without them, a separator that would follow another goes too.
            shown = []
            for i in items:
                if i.get("id") in hidden:
                    continue
                if i["kind"] == "separator" and (not shown or shown[-1]["kind"] == "separator"):
                    continue
                shown.append(i)
            items = shown
            self.assertEqual(len(nodes), len(items), "items of %s" % where)
            for item, node in zip(items, nodes):
                here = "%s / %s" % (where, item["text"] or item["kind"])
                if item["kind"] == "separator":
                    self.assertEqual(node["type"], "separator", here)
                    continue
                self.assertNotEqual(node["type"], "separator", here)
                self.assertEqual(node["submenu"], item["kind"] == "popup", here)
                label, enabled = captions.get(item["id"], (item["text"], item["id"] != QUICK_LAUNCH))
                self.assertEqual(node["label"], label, here)
                self.assertEqual(node["enabled"], enabled, here)
                self.assertTrue(node["visible"], here)
                if item["kind"] == "popup":
                    expect(item["children"], node["children"], here)

        tree = p.menu()
        expect(RC["menu"], tree["children"], "tray menu")
        autorun = p.find_item("自动运行", tree)
        self.assertEqual(autorun["toggle"], "checkmark")
        self.assertFalse(autorun["checked"], "no autostart entry: autostart is off")

    def test_pages_open_their_portal_addresses(self):
        p = self.start(shared=self.settings(server="portal.test", port=8080, user_id=-5))
        base = "http://portal.test:8080"
        pages = [
            ("发送邮件", base + REDIRECT + "/mail/compose.jsp"),
            ("查看便笺", base + REDIRECT + "/kldg_private/mynotes.jsp?op=read"),
            ("POS销售", base + REDIRECT + "/mrpt/menu_index.jsp?page_url=/mrpt/sales/order_edit.jsp?ordertype=2"),
            ("销售活动管理", base + REDIRECT + "/mrpt/menu_index.jsp?page_url=/mrpt/sales/doc_list.jsp?doc_type=activity"),
            ("产品", base + REDIRECT + "/mrpt/stock/pro_index.jsp"),
            ("我的通讯平台", base + "/velsa/exchangefwd.jsp?user_id=-5"),
            ("我的个人主页", base + "/velsa/home/myhome.jsp?user_id=-5"),
            ("查看短信", base + REDIRECT + "/message/ch_memobox.jsp"),
        ]
        tree = p.menu()
        for n, (caption, address) in enumerate(pages, 1):
            p.click(p.find_item(caption, tree)["id"])
            self.assertEqual(p.wait_addresses(n)[-1], address, caption)
        self.assertEqual(len(p.addresses()), len(pages))

    def test_favorites_open_their_addresses_and_those_that_open_nothing_are_not_shown(self):
        bookmark = "=".join([
            "Secure one|https://127.0.0.1/one",           # 1: https:// opens like http://
            "",                                           # 2: "网站管理", opens nothing
            "Escapes|http://127.0.0.1/p?%41&%zz&a b&中文|x#f",
            "Inside|view-source:http://127.0.0.1/v",      # http:// not at the start: opens nothing
            "Upper|HTTP://127.0.0.1/u",                   # not http://: opens nothing
            "|http://127.0.0.1/no-caption",               # no caption
            "Tab|http://127.0.0.1/t\tx",                  # a control byte: refused, as on Windows
            "Fence|http://127.0.0.1/fence",
        ])
        p = self.start(shared=self.settings(bookmark=bookmark))
        items = [n for n in p.submenu("收藏夹")["children"] if n["type"] != "separator"]
        self.assertEqual([n["label"] for n in items], ["Secure one", "Escapes", "Fence"])
        for n, expected in enumerate(["https://127.0.0.1/one",
                                      # QUrl keeps the address's meaning: a blank, a non-ASCII
                                      # character and "|" are percent-encoded (UTF-8), an escaped
                                      # unreserved character is decoded, and a "%" that starts no
                                      # escape becomes "%25".
                                      "http://127.0.0.1/p?A&%25zz&a%20b&%E4%B8%AD%E6%96%87%7Cx#f",
                                      "http://127.0.0.1/fence"], 1):
            p.click(items[n - 1]["id"])
            self.assertEqual(p.wait_addresses(n)[-1], expected, items[n - 1]["label"])

    def test_activation_opens_the_login_page_and_the_middle_button_the_about_box(self):
        p = self.start(shared=self.settings(port=80))
        p.activate()
        self.assertEqual(p.wait_addresses(1), ["http://127.0.0.1/velsa/login.jsp"])

        p.secondary_activate()
        about = wait_dialog("关于 orlimo")
        self.assertIsNotNone(about, "the about box")
        major, minor = cmake_cache("CMAKE_PROJECT_VERSION").split(".")[:2]
        self.assertEqual([t for t in about.labels() if t], ["orlimo %s.%s 版" % (major, minor), "企业门户短消息通知器"])
        self.assertEqual(sorted(about.buttons()), sorted(["确定", "Button1"]))
        user = pwd.getpwuid(os.geteuid()).pw_name
        for _ in range(2):
            about.press("Button1")
            self.assertEqual(self.message(), [user])
            self.assertIsNotNone(wait_dialog("关于 orlimo", 2), "the about box stays open")
        about.press("确定")
        self.assertTrue(wait_no_dialog("关于 orlimo"))
        self.assertEqual(len(p.addresses()), 1)

        # The exit command ends the program also while a dialog is open.
        p.secondary_activate()
        self.assertIsNotNone(wait_dialog("关于 orlimo"))
        p.choose_caption("退出")
        self.assertEqual(p.proc.wait(10), 0)

    def test_a_double_click_opens_the_login_page_once_on_a_host_that_reports_each_click(self):
        p = self.start(shared=self.settings(port=80))
        login = "http://127.0.0.1/velsa/login.jsp"
        # KDE Plasma and UKUI send an Activate per click of a double click.
        p.activate()
        p.activate()
        time.sleep(1.5)
        self.assertEqual(p.addresses(), [login])
        # A click after the double-click interval is a click of its own.
        p.activate()
        self.assertEqual(p.wait_addresses(2), [login, login])


class MenuProtocolTests(ProgramTest):
    """The menu as the hosts' own libraries read it: KDE's (Plasma) a level
    at a time, each submenu when it opens; all of them after AboutToShow."""

    def monitor(self, p):
        m = harness.Monitor(harness.RUN, p.item_name)
        self.addCleanup(m.stop)
        return m

    def test_a_host_that_reads_a_level_at_a_time_has_each_submenu_before_it_opens(self):
        p = self.start(shared=self.settings(bookmark="Mail|http://127.0.0.1/m"))
        monitor = self.monitor(p)
        menu = p._menu()
        _, root = menu.GetLayout(0, 1, [], dbus_interface=harness.DBUSMENU)
        submenus = [int(c[0]) for c in root[2] if c[1].get("children-display") == "submenu"]
        self.assertEqual(len(submenus), 4)
        self.assertTrue(all(not c[2] for c in root[2]), "one level only")

        # Told of each submenu's layout, such a host fetches it at once.
        def announced():
            return {int(m["args"][1].split()[-1]) for m in monitor.messages() if m["member"] == "LayoutUpdated"}
        self.assertTrue(wait_until(lambda: set(submenus) <= announced(), 5), announced())
        favorites = [c for c in root[2] if c[1].get("label") == "收藏夹"][0]
        _, sub = menu.GetLayout(int(favorites[0]), 1, [], dbus_interface=harness.DBUSMENU)
        self.assertEqual([str(c[1].get("label", "")) for c in sub[2]], ["Mail", ""])

    def test_about_to_show_announces_what_changed_before_it_answers(self):
        p = self.start(shared=self.settings())
        monitor = self.monitor(p)
        menu = p._menu()
        self.assertFalse(menu.AboutToShow(0, dbus_interface=harness.DBUSMENU), "nothing changed")
        # Another program turns autostart on: the mark changes as the menu
        # opens, and the host hears of it before the answer that says so.
        p.write(p.user_autostart, "[Desktop Entry]\nType=Application\nName=orlimo\nExec=orlimo\n")
        self.assertTrue(menu.AboutToShow(0, dbus_interface=harness.DBUSMENU))
        autorun = p.find_item("自动运行")
        self.assertTrue(autorun["checked"])
        sent = monitor.messages()
        update = [i for i, m in enumerate(sent) if m["member"] == "ItemsPropertiesUpdated"
                  and "int32 %d" % autorun["id"] in m["args"]]
        answer = [i for i, m in enumerate(sent) if m["kind"] == "method return" and m["args"] == ["boolean true"]]
        self.assertTrue(update and answer, sent)
        self.assertLess(update[0], answer[0])
