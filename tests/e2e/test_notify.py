"""Notifications of the real orlimo.exe: the poll query that reaches the
portal, the blinking icon and the new-message prompt, the network-failure
state and the update prompt, prompts held back over a full-screen window,
and polls after a wake and a network change.

The program polls every second here (interval_time 0). An "update" reply is
the portal's idle answer in most steps: after the first update prompt it
changes nothing, so the blinking is left to what the test does.
"""

import hashlib
import subprocess
import threading
import time
import unittest

import harness
from harness import GroupTestCase, TIP_NET_FAULT, TIP_NEW_MESSAGE, TIP_NORMAL, wait_until

NOTIFY = "/velsa/home/notifyMsg.jsp"
MESSAGE_PROMPT = "消息通知"
UPDATE_PROMPT = "通知器更新"


def icon_picture(env):
    """A digest of the tray icon's pixels as shown now."""
    icons = env.tray_icons()
    if not icons:
        return None
    l, t, r, b = icons[0]["rect"]
    rc, out, err = harness.run_bounded(
        ["import", "-display", env.display.name, "-window", "root",
         "-crop", "%dx%d+%d+%d" % (r - l, b - t, l, t), "rgb:-"], 20)
    return hashlib.sha1(out).hexdigest() if rc == 0 else None


def settled_picture(env, timeout=10):
    """The tray icon's picture once it has stopped changing (two looks in a
    row agree): a tray window shown anew paints a moment after it appears."""
    last = [icon_picture(env)]

    def same():
        time.sleep(0.3)
        now = icon_picture(env)
        stable, last[0] = now is not None and now == last[0], now
        return stable
    wait_until(same, timeout, interval=0)
    return last[0]


def dialog_texts(env, title):
    """{control id: text} of the dialog with this title."""
    controls = env.driver.call("dialog", title)["controls"]
    return {c["id"]: c["text"] for c in controls}


class PollingTest(GroupTestCase):
    """One program that polls every second, driven through the replies."""

    USER_ID = 42

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        env.portal.set_default("update")
        folder = env.launch_folder(config=env.config(user_id=cls.USER_ID, interval_time=0))
        cls.prog = env.launch(folder)
        env.driver.call("wait-dialog", UPDATE_PROMPT, 15000, timeout=30)

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()

    def wait_dialog(self, title, timeout=15):
        return self.env.wait_dialog(title, timeout)

    def wait_no_dialog(self, title, timeout=15):
        return self.env.wait_no_dialog(title, timeout)

    def test_1_query_reaches_the_portal_with_user_and_agent(self):
        env = self.env
        self.assertTrue(wait_until(lambda: len(env.portal.requests(NOTIFY)) >= 2, 15))
        for r in env.portal.requests(NOTIFY)[:5]:
            self.assertEqual(r["query"], "usr_id=%d&ver=1" % self.USER_ID)
            self.assertEqual(r["user_agent"], "orlimo")
            self.assertEqual(r["method"], "GET")
        # The port part is in the address (and so in the Host header).
        self.assertEqual(env.portal.requests(NOTIFY)[0]["headers"].get("Host"),
                         "127.0.0.1:%d" % env.portal.port)

    def test_2_update_prompt_shows_once(self):
        env = self.env
        texts = dialog_texts(env, UPDATE_PROMPT)
        self.assertEqual(texts.get(1), "更新下载")
        self.assertEqual(texts.get(2), "关闭")
        self.assertIn("版本: 1.1.1226", texts.values())
        env.driver.call("click", UPDATE_PROMPT, 2)
        self.assertTrue(self.wait_no_dialog(UPDATE_PROMPT, 10))
        seen = len(env.portal.requests(NOTIFY))
        # More "update" replies arrive; the prompt stays away.
        self.assertTrue(wait_until(lambda: len(env.portal.requests(NOTIFY)) >= seen + 4, 15))
        self.assertFalse(self.wait_dialog(UPDATE_PROMPT, 2))
        self.assertEqual(env.tray_tips(), [TIP_NORMAL])

    def test_3_new_messages_blink_and_view_restores(self):
        env = self.env
        env.clear_browser()
        env.portal.queue("has")
        self.assertTrue(self.wait_dialog(MESSAGE_PROMPT, 15))
        self.assertTrue(env.wait_tip(TIP_NEW_MESSAGE, 5))
        texts = dialog_texts(env, MESSAGE_PROMPT)
        self.assertEqual(texts.get(1), "查看")
        self.assertEqual(texts.get(2), "下次再说")
        self.assertIn("您有新消息!", texts.values())
        # The icon changes picture every second while the prompt is open.
        pictures = set()
        for _ in range(8):
            pictures.add(icon_picture(env))
            time.sleep(0.35)
        self.assertGreaterEqual(len(pictures - {None}), 2)
        env.driver.call("click", MESSAGE_PROMPT, 1)
        self.assertTrue(self.wait_no_dialog(MESSAGE_PROMPT, 10))
        addresses = env.wait_browser(1, 15)
        self.assertEqual(addresses, [
            "http://127.0.0.1:%d/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp"
            "?main_url=/message/ch_memobox.jsp" % env.portal.port])
        # The next blink tick stops the blinking.
        self.assertTrue(env.wait_tip(TIP_NORMAL, 5))
        time.sleep(2.5)
        self.assertEqual(env.tray_tips(), [TIP_NORMAL])
        still = set()
        for _ in range(3):
            still.add(icon_picture(env))
            time.sleep(0.4)
        self.assertEqual(len(still), 1)

    def test_4_prompt_left_alone_closes_and_blinking_goes_on(self):
        env = self.env
        env.clear_browser()
        env.portal.queue("has")
        self.assertTrue(self.wait_dialog(MESSAGE_PROMPT, 15))
        opened = time.monotonic()
        self.assertTrue(self.wait_no_dialog(MESSAGE_PROMPT, 25))
        self.assertGreater(time.monotonic() - opened, 12)
        time.sleep(2)
        self.assertEqual(env.tray_tips(), [TIP_NEW_MESSAGE])
        self.assertEqual(env.browser_addresses(), [])

    def test_5_portal_going_away_and_coming_back(self):
        env = self.env
        port = env.portal.port
        env.portal.stop()
        try:
            # Blinking stops and the failure icon shows.
            self.assertTrue(env.wait_tip(TIP_NET_FAULT, 20))
            time.sleep(2.5)
            self.assertEqual(env.tray_tips(), [TIP_NET_FAULT])
        finally:
            restart_portal(env.portal, port)
        env.portal.set_default("update")
        # "update" leaves the failure state alone...
        seen = len(env.portal.requests(NOTIFY))
        self.assertTrue(wait_until(lambda: len(env.portal.requests(NOTIFY)) >= seen + 3, 20))
        self.assertEqual(env.tray_tips(), [TIP_NET_FAULT])
        # ...and the next plain reply restores the normal state.
        env.portal.set_default("text", body="0\r\n")
        self.assertTrue(env.wait_tip(TIP_NORMAL, 15))

    def test_6_reply_marks_at_the_start_do_not_count(self):
        env = self.env
        for body in ("has news\r\n", "socket\r\n", "hashas\r\n"):
            env.portal.set_default("text", body=body)
            seen = len(env.portal.requests(NOTIFY))
            self.assertTrue(wait_until(lambda: len(env.portal.requests(NOTIFY)) >= seen + 3, 20))
            self.assertEqual(env.tray_tips(), [TIP_NORMAL], body)
            self.assertFalse(self.wait_dialog(MESSAGE_PROMPT, 1), body)
        env.portal.set_default("update")

    def test_7_error_pages_are_failures_whatever_they_say(self):
        env = self.env
        log = env.prefix.host_path(r"c:\users\%s\AppData\Roaming\orlimo\orlimo.log" % env.user())
        # A maintenance page and a removed page whose English holds "has",
        # and a proxy's page with no mark at all: none is a reply.
        for status, body in ((503, "The service has been stopped\r\n"),
                             (404, "The page has been removed\r\n"),
                             (502, "Bad gateway\r\n")):
            env.portal.set_default("status", status=status, body=body)
            self.assertTrue(env.wait_tip(TIP_NET_FAULT, 15), status)
            seen = len(env.portal.requests(NOTIFY))
            self.assertTrue(wait_until(lambda: len(env.portal.requests(NOTIFY)) >= seen + 2, 20))
            self.assertEqual(env.tray_tips(), [TIP_NET_FAULT], status)
            self.assertFalse(self.wait_dialog(MESSAGE_PROMPT, 0.5), status)
            self.assertTrue(wait_until(lambda: log.exists() and b"HTTP status %d" % status in log.read_bytes(), 10),
                            status)
            # The next plain reply puts the normal icon back.
            env.portal.set_default("text", body="0\r\n")
            self.assertTrue(env.wait_tip(TIP_NORMAL, 15), status)
        env.portal.set_default("update")


class ResponsiveTest(GroupTestCase):
    """Polls run beside the user interface: a portal that keeps announcing
    messages raises one prompt at a time, and a silent one neither keeps the
    tray menu from opening nor the program from ending."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        env.portal.set_default("text", body="0\r\n")
        folder = env.launch_folder(config=env.config(interval_time=0))
        cls.prog = env.launch(folder)

    def message_prompts(self):
        windows = self.env.driver.call("windows")
        return sum(1 for w in windows if w["class"] == "#32770" and w["title"] == MESSAGE_PROMPT
                   and w["pid"] == self.prog.pid)

    def test_1_one_message_prompt_while_has_keeps_coming(self):
        env = self.env
        env.portal.set_default("has")
        seen = len(env.portal.requests(NOTIFY))
        counts = []
        end = time.monotonic() + 20
        while time.monotonic() < end:
            counts.append(self.message_prompts())
        polls = len(env.portal.requests(NOTIFY)) - seen
        self.assertEqual(max(counts), 1, counts)
        self.assertGreaterEqual(polls, 10, "the polls stopped while the prompt was open")
        self.assertEqual(env.tray_tips(), [TIP_NEW_MESSAGE])
        env.portal.set_default("text", body="0\r\n")
        if self.message_prompts():
            env.driver.call("click", MESSAGE_PROMPT, 2)
        self.assertTrue(env.wait_tip(TIP_NORMAL, 10))

    def test_2_silent_server_neither_blocks_the_menu_nor_the_exit(self):
        env = self.env
        env.portal.set_default("silent", timeout=60)
        seen = len(env.portal.requests(NOTIFY))
        self.assertTrue(wait_until(lambda: len(env.portal.requests(NOTIFY)) > seen, 10))
        time.sleep(1)  # well inside the poll's 30 s wait
        env.driver.call("post-tray", harness.WM_RBUTTONDOWN)
        rc, _ = env.driver.try_call("wait-menu", 1000)
        self.assertEqual(rc, 0, "the tray menu did not open within a second")
        env.close_menus()
        # Still inside that poll's wait: exit does not wait for it.
        code = env.exit(self.prog, timeout=2)
        self.assertIsNotNone(code, "still running 2 s after the exit command")
        self.assertTrue(env.wait_no_tray(5))
        self.assertIsNone(self.prog.crashed())


class TaskbarRestartTest(GroupTestCase):
    """A restarted taskbar has forgotten every icon and broadcasts
    "TaskbarCreated": the program's icon comes back as it was, the normal
    one and the failure one with their tooltips. An icon lost without the
    broadcast comes back by itself, blinking or not.

    Pictures are compared only as freshly shown and left alone: Wine blends
    a changed icon over the one before it, so a picture taken after a change
    differs a little from the same icon shown anew."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        env.portal.set_default("text", body="0\r\n")
        cls.prog = env.launch(env.launch_folder(config=env.config(interval_time=0)))

    def restart_taskbar(self, tip):
        env = self.env
        env.driver.call("tray-forget")
        self.assertTrue(env.wait_no_tray(10), "the icon was not removed from outside")
        env.driver.call("taskbar-created")
        self.assertTrue(env.wait_tip(tip, 10), "the icon did not come back")
        return settled_picture(env)

    def test_icon_comes_back_with_its_picture_and_tooltip(self):
        env = self.env
        self.assertTrue(env.wait_tip(TIP_NORMAL, 10))
        normal = settled_picture(env)
        self.assertIsNotNone(normal)
        self.assertEqual(self.restart_taskbar(TIP_NORMAL), normal)
        env.portal.set_default("socket")
        self.assertTrue(env.wait_tip(TIP_NET_FAULT, 15))
        # Each failure reply sets the icon again; "update" leaves the failure
        # state as it is and changes nothing after its prompt has shown.
        env.portal.set_default("update")
        self.assertTrue(env.wait_dialog(UPDATE_PROMPT, 15))
        failure = self.restart_taskbar(TIP_NET_FAULT)
        self.assertNotEqual(failure, normal, "the failure picture came back as the normal one")
        self.assertEqual(self.restart_taskbar(TIP_NET_FAULT), failure)
        self.assertIsNone(self.prog.crashed())

    def test_lost_icon_comes_back_while_it_blinks(self):
        env = self.env
        # One "has" among the "update" replies, which change nothing now:
        # the icon blinks from here on.
        env.portal.queue("has")
        self.assertTrue(env.wait_tip(TIP_NEW_MESSAGE, 15))
        env.driver.call("tray-forget")
        self.assertTrue(env.wait_no_tray(5), "the icon was not removed from outside")
        # No broadcast this time: the blink ticks find the icon gone, and
        # the retry brings it back although they go on every second.
        self.assertTrue(env.wait_tip(TIP_NEW_MESSAGE, 8), "the icon did not come back while blinking")
        self.assertEqual(len(env.tray_icons()), 1)
        self.assertIsNone(self.prog.crashed())


WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, PBT_APMRESUMEAUTOMATIC = 0x218, 0x7, 0x12
NETWORK_CHANGED = 0x8002  # the frame's own report of an address change (WM_APP + 2)


class AttentionTest(GroupTestCase):
    """No prompt over a window that covers the whole screen (a slide show,
    a full-screen call), the waiting prompts once it has gone; a poll within
    seconds of a wake, and of a network change after a failure."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        env.portal.set_default("text", body="0\r\n")
        cls.folder = env.launch_folder(config=env.config(interval_time=0))
        cls.prog = env.launch(cls.folder)

    def polls(self):
        return len(self.env.portal.requests(NOTIFY))

    def prompts(self):
        return [w["title"] for w in self.env.driver.call("windows")
                if w["class"] == "#32770" and w["pid"] == self.prog.pid]

    def test_1_prompts_wait_behind_a_full_screen_window_and_come_once_it_goes(self):
        env = self.env
        thread = threading.Thread(target=env.driver.try_call, args=("cover-screen", 120000), kwargs={"timeout": 150})
        thread.start()
        self.addCleanup(thread.join, 150)
        self.addCleanup(env.driver.try_call, "close-cover")
        in_front = lambda: (env.driver.call("foreground") or {}).get("class") == "OrlimoTestCover"
        self.assertTrue(wait_until(in_front, 15), "the covering window did not take the foreground")
        for kind in ("update", "has"):
            env.portal.set_default(kind)
            seen = self.polls()
            self.assertTrue(wait_until(lambda: self.polls() >= seen + 3, 20))
        # The icon blinks and says so; no prompt over the presentation.
        self.assertEqual(env.tray_tips(), [TIP_NEW_MESSAGE])
        self.assertEqual(self.prompts(), [])
        env.screenshot("covered")
        env.driver.call("close-cover")
        thread.join(30)
        self.assertTrue(wait_until(lambda: len(self.prompts()) == 2, 8), "no prompts after the window went")
        env.screenshot("after-cover")
        time.sleep(3)  # "has" goes on coming: still one of each
        self.assertEqual(sorted(self.prompts()), sorted([MESSAGE_PROMPT, UPDATE_PROMPT]))
        env.portal.set_default("text", body="0\r\n")
        for title in (MESSAGE_PROMPT, UPDATE_PROMPT):
            env.driver.call("click", title, 2)
            self.assertTrue(env.wait_no_dialog(title, 10))

    def test_2_a_wake_brings_a_poll_within_seconds(self):
        env = self.env
        self.assertIsNotNone(env.exit(self.prog))
        env.write_user_config(env.config(interval_time=60))
        type(self).prog = env.launch(self.folder)
        for wake in (PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND):
            seen = self.polls()
            time.sleep(2)
            self.assertEqual(self.polls(), seen, "a poll before the wake")
            env.driver.call("post", WM_POWERBROADCAST, wake, 0)
            self.assertTrue(wait_until(lambda: self.polls() > seen, 10), "no poll after the wake %#x" % wake)
            time.sleep(3)
            self.assertEqual(self.polls(), seen + 1, "more than one poll for one wake")

    def test_3_the_network_coming_back_polls_a_failed_state_again(self):
        env = self.env
        env.portal.set_default("socket")
        seen = self.polls()
        env.driver.call("post", WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0)
        self.assertTrue(env.wait_tip(TIP_NET_FAULT, 15))
        env.portal.set_default("text", body="0\r\n")
        for _ in range(2):  # the second finds nothing failed: no poll
            env.driver.call("post", NETWORK_CHANGED, 0, 0)
            time.sleep(4)
        self.assertEqual(self.polls(), seen + 2)
        self.assertEqual(env.tray_tips(), [TIP_NORMAL])


def restart_portal(portal, port):
    """Starts the stand-in portal again on the port it had."""
    portal.start(port=port)


class SlowIntervalTest(GroupTestCase):
    """With interval_time 1 nothing is asked before a minute has passed."""

    def test_no_query_in_the_first_seconds(self):
        env = self.env
        folder = env.launch_folder(config=env.config(user_id=5, interval_time=1))
        self.launch(folder)
        time.sleep(8)
        self.assertEqual(env.portal.requests(NOTIFY), [])


class Port80Test(GroupTestCase):
    """With server_port 80 the query carries no port part. Needs port 80 of
    127.0.0.1 (the tests run as root); skipped where it cannot be had."""

    def test_query_without_port_part(self):
        env = self.env
        with harness.machine_lock("port80"):  # another run's program may want it too
            port80 = harness.Portal(env.folder / "portal80.log")
            try:
                port80.start(port=80)
            except harness.HarnessError as e:
                self.skipTest("port 80 not available: %s" % e)
            try:
                folder = env.launch_folder(config=env.config(server_port=80, user_id=3, interval_time=0))
                prog = self.launch(folder)
                self.assertTrue(wait_until(lambda: len(port80.requests(NOTIFY)) >= 1, 15))
                r = port80.requests(NOTIFY)[0]
                self.assertEqual(r["query"], "usr_id=3&ver=1")
                self.assertEqual(r["headers"].get("Host"), "127.0.0.1")
                env.stop_program(prog)
            finally:
                port80.stop()


if __name__ == "__main__":
    unittest.main()
