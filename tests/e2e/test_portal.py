"""Portal navigation of the real orlimo.exe: the 31 portal page commands,
the favorites submenu and what its entries open, hostile favorites.

Wine's shell re-encodes some characters of an address on its way to the
browser; where that matters, the address the stand-in browser got from
orlimo is compared with the one it gets when the same address is handed to
the shell directly (the driver's shell-open).
"""

import time
import unittest

import harness
from harness import GroupTestCase
from test_startup import SEP, favorites_menu, rows_of

LOGIN = "/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url="
PAGES = {
    32791: "/mail/compose.jsp",
    32783: "/mail/mail_list.jsp",
    32820: "/kldg_private/mynotes.jsp?op=write",
    32821: "/kldg_private/mynotes.jsp?op=read",
    32784: "/portal/inform/index.jsp",
    32785: "/address/index.jsp",
    32800: "/calendar/index.jsp",
    32787: "/cop/dept_cop_home.jsp",
    32786: "/portal/board/index.jsp",
    32789: "/kldg/pkldg.jsp",
    32790: "/kldg/index.jsp",
    32815: "/cop/index.jsp",
    32816: "/sign/index.jsp",
    32803: "/mrpt/menu_index.jsp",
    32817: "/mrpt/menu_index.jsp?page_url=/mrpt/sales/order_edit.jsp?ordertype=2",
    32804: "/mrpt/menu_index.jsp?page_url=/mrpt/sales/order_edit.jsp",
    32805: "/mrpt/menu_index.jsp?page_url=/mrpt/stock/inout_list.jsp",
    32806: "/mrpt/menu_index.jsp?page_url=/mrpt/finance/invoice_list.jsp",
    32812: "/mrpt/menu_index.jsp?page_url=/mrpt/finance/pay_list.jsp",
    32807: "/mrpt/menu_index.jsp?page_url=/mrpt/sales/partner_list.jsp",
    32810: "/mrpt/menu_index.jsp?page_url=/mrpt/report/report.jsp",
    32813: "/mrpt/menu_index.jsp?page_url=/mrpt/report/payable.jsp",
    32818: "/mrpt/menu_index.jsp?page_url=/mrpt/sales/doc_list.jsp?doc_type=activity",
    32814: "/mrpt/menu_index.jsp?page_url=/mrpt/sales/doc_list.jsp?doc_type=contract",
    32808: "/mrpt/stock/pro_index.jsp",
    32809: "/mrpt/menu_index.jsp?page_url=/mrpt/stock/storage_list.jsp",
    32811: "/mrpt_admin/index.jsp",
    32779: "/message/ch_sendmemo.jsp",
    32780: "/message/ch_memobox.jsp",
}


def expected_address(cmd, server, port, user_id):
    base = "http://%s" % server + ("" if port == 80 else ":%d" % port)
    if cmd == 32801:
        return base + "/velsa/home/myhome.jsp?user_id=%d" % user_id
    if cmd == 32819:
        return base + "/velsa/exchangefwd.jsp?user_id=%d" % user_id
    return base + LOGIN + PAGES[cmd]


class NavigationChecks(GroupTestCase):
    def choose(self, command, expect_launch=True, settle=1.5):
        """Posts a menu command and returns the addresses the browser got."""
        env = self.env
        env.clear_browser()
        env.driver.call("post-command", command)
        if expect_launch:
            env.wait_browser(1, 15)
        time.sleep(settle)
        return env.browser_addresses()

    def choose_each(self, commands, settle=1.5):
        """Posts the commands one after another, each once the launch of the
        one before has reached the browser, and returns {command: address};
        at the end no further launch may arrive."""
        env = self.env
        env.clear_browser()
        got = {}
        for n, command in enumerate(commands, start=1):
            env.driver.call("post-command", command)
            addresses = env.wait_browser(n, 15)
            got[command] = addresses[n - 1] if len(addresses) >= n else None
        time.sleep(settle)
        self.assertEqual(len(env.browser_addresses()), len(commands), "one launch per command")
        return got

    def reference(self, address):
        """What the browser gets when the shell itself opens address."""
        return self.env.reference_addresses(address)


class PortalPagesTest(NavigationChecks):
    """The 31 page commands with a server port of 8080, then of 80."""

    SERVER = "portal.test"
    USER = -5

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        folder = env.launch_folder(config=env.config(server=cls.SERVER, server_port=8080,
                                                     user_id=cls.USER, interval_time=60))
        cls.prog = env.launch(folder)

    def test_every_page_command_with_port_8080(self):
        commands = list(PAGES) + [32801, 32819]
        got = self.choose_each(commands)
        for cmd in commands:
            with self.subTest(command=cmd):
                self.assertEqual(got[cmd], expected_address(cmd, self.SERVER, 8080, self.USER))

    def test_pos_sales_chosen_in_the_menu(self):
        env = self.env
        env.clear_browser()
        env.open_tray_menu()
        dump = env.open_submenu("销售管理")
        items = [i for i in dump["menus"][0]["items"] if not i["separator"]]
        self.assertEqual(items[1]["text"], "POS销售")
        # The submenu opens with its first item chosen.
        hilited = [i["text"] for i in dump["menus"][0]["items"] if i["hilite"]]
        env.driver.call("menu-key", *(["down"] if hilited == ["销售主页"] else ["down", "down"]),
                        "return")
        env.wait_browser(1, 15)
        time.sleep(1)
        self.assertEqual(env.browser_addresses(),
                         [expected_address(32817, self.SERVER, 8080, self.USER)])
        self.assertEqual(expected_address(32817, self.SERVER, 8080, self.USER).count("?"), 4)


class PortalPagesPort80Test(NavigationChecks):
    SERVER = "portal.test"

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        folder = env.launch_folder(config=env.config(server=cls.SERVER, server_port=80,
                                                     user_id=0, interval_time=60))
        cls.prog = env.launch(folder)

    def test_page_commands_without_port_part(self):
        commands = (32791, 32817, 32780, 32801, 32819)
        got = self.choose_each(commands)
        for cmd in commands:
            with self.subTest(command=cmd):
                self.assertEqual(got[cmd], expected_address(cmd, self.SERVER, 80, 0))


CANARY = r"c:\canary"
PROTOCOL_RECORD = r"c:\protocol-started.txt"
HOSTILE = [
    # (caption, address, launched)
    ("and", r"http://127.0.0.1/a&echo pwned>c:\canary1.txt", True),
    ("caret", r"http://127.0.0.1/b^&echo pwned^>c:\canary2.txt", True),
    ("percent", r"http://127.0.0.1/%USERNAME%&echo pwned>c:\canary3.txt", True),
    ("quote", r'http://127.0.0.1/"&echo pwned>c:\canary4.txt&"', True),
    ("pipe", r"http://127.0.0.1/c|echo pwned>c:\canary5.txt", True),
    ("bang", r"http://127.0.0.1/d!PATH!(x)&echo pwned>c:\canary6.txt", True),
    ("tab", "http://127.0.0.1/e\t&echo pwned>c:\\canary7.txt", False),
]


class FavoritesTest(NavigationChecks):
    """A settings file with several kinds of favorites."""

    BOOKMARKS = [
        ("企业门户", "http://127.0.0.1/velsa/index.jsp"),     # 1 http
        ("安全站点", "https://secure.example/"),               # 2 https
        ("", "http://127.0.0.1/no-caption/"),                  # 3 empty caption
        ("Big Caption With Spaces", "orlimoproto:x?http://127.0.0.1/behind"),  # 4 http:// later
        ("大写", "HTTP://127.0.0.1/upper/"),                   # 5 upper case
    ] + [(c, a) for c, a, _ in HOSTILE] + [                     # 6 to 12
        ("Mail", "  http://127.0.0.1/mail/ "),                 # 13 blanks around
    ]

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        # Another program's protocol, as installers register them: its
        # command writes down what it was handed.
        key = r"HKLM\Software\Classes\orlimoproto"
        for args in ((key, "/ve", "/d", "URL:orlimo test protocol"), (key, "/v", "URL Protocol", "/d", ""),
                     (key + r"\shell\open\command", "/ve", "/d",
                      r'c:\windows\system32\cmd.exe /c echo %1> ' + PROTOCOL_RECORD)):
            rc, o, e = env.prefix.wine("reg", "add", *args, "/f")
            if rc != 0:
                raise harness.HarnessError("reg add %s: %s" % (args, (o + e).decode(errors="replace")))
        folder = env.launch_folder(config=env.config(interval_time=60, bookmark=cls.BOOKMARKS))
        cls.prog = env.launch(folder)

    def test_1_submenu_captions_and_states(self):
        env = self.env
        env.open_tray_menu()
        try:
            dump = env.open_submenu("收藏夹")
            rows = rows_of(dump["menus"][0]["items"])
        finally:
            env.close_menus()
        self.assertEqual(rows, favorites_menu([c for c, _ in self.BOOKMARKS]))

    def test_2_what_each_entry_opens(self):
        ids = [32781, 32782, 32792, 32793, 32794]
        self.assertEqual(self.choose(ids[0]), ["http://127.0.0.1/velsa/index.jsp"])
        self.assertEqual(self.choose(ids[1]), ["https://secure.example/"])
        # Disabled in the menu, but its address is valid: the command opens it.
        self.assertEqual(self.choose(ids[2]), ["http://127.0.0.1/no-caption/"])
        # Another scheme that holds "http://" only later opens nothing (the
        # shell would start that scheme's program), as the stand-in proves it
        # would have: handed to the shell itself, the protocol's command runs.
        self.assertEqual(self.choose(ids[3], expect_launch=False, settle=3.0), [])
        self.assertFalse(self.env.prefix.exists(PROTOCOL_RECORD))
        # (Wine starts the protocol's cmd.exe slowly when the machine is busy.)
        rc, data = self.env.driver.try_call("shell-open", "orlimoproto:x?http://127.0.0.1/behind")
        self.assertTrue(harness.wait_until(lambda: self.env.prefix.exists(PROTOCOL_RECORD), 45),
                        "the protocol's command wrote nothing (shell-open: exit %s, %r)" % (rc, data))
        self.assertEqual(self.choose(ids[4], expect_launch=False), [])

    def test_3_hostile_favorites_reach_the_browser_unchanged_and_run_nothing(self):
        env = self.env
        ids = [32795, 32796, 32797, 32798, 32799, 32829, 32822]
        for (caption, address, launched), cmd in zip(HOSTILE, ids):
            with self.subTest(favorite=caption):
                got = self.choose(cmd, expect_launch=launched, settle=2.0)
                if launched:
                    self.assertEqual(got, self.reference(address))
                else:
                    self.assertEqual(got, [])
        time.sleep(2)
        for n in range(1, 8):
            self.assertFalse(env.prefix.exists(CANARY + "%d.txt" % n), "canary %d" % n)

    def test_4_blanks_around_an_address_are_not_part_of_it(self):
        self.assertEqual(self.choose(32823), self.reference("http://127.0.0.1/mail/"))


class NoFavoritesTest(NavigationChecks):
    """No bookmark line at all: the maker's fallback and empty places."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        folder = env.launch_folder(config=env.config(interval_time=60, bookmark=None))
        cls.prog = env.launch(folder)

    def test_fallbacks(self):
        env = self.env
        env.open_tray_menu()
        try:
            rows = rows_of(env.open_submenu("收藏夹")["menus"][0]["items"])
        finally:
            env.close_menus()
        self.assertEqual(rows, favorites_menu([]))
        maker = harness.cmake_cache_value("ORLIMO_MAKER_URL")
        self.assertTrue(maker.startswith("http://"))
        self.assertEqual(self.choose(32781), self.reference(maker))
        self.assertEqual(self.choose(32782, expect_launch=False), [])


if __name__ == "__main__":
    unittest.main()
