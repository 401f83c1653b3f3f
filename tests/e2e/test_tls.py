"""Polls and portal addresses over HTTPS with the real orlimo.exe: a portal
whose certificate the prefix trusts (the throwaway test CA in the prefix's
roots), one with a certificate of an untrusted CA and one for another name,
a plain portal that redirects to HTTPS and an HTTPS one that redirects to
plain HTTP. Certificates are always checked: the failures must fail."""

import time
import unittest

import harness
from harness import GroupTestCase, TIP_NET_FAULT, TIP_NEW_MESSAGE, TIP_NORMAL, wait_until
from tls_support import TlsPortal, trust_test_ca

NOTIFY = "/velsa/home/notifyMsg.jsp"
MESSAGE_PROMPT = "消息通知"
LOGIN = "/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url="
LOG_FILE = r"c:\users\%s\AppData\Roaming\orlimo\orlimo.log"


class TlsTest(GroupTestCase):
    USER_ID = 42

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        cls.portals = {}
        for name in ("server", "wrong", "rogue"):
            p = TlsPortal(env.folder / ("portal-%s.log" % name), name).start()
            cls.portals[name] = p
            p.set_default("text", body="0\r\n")
        trust_test_ca(env.prefix)
        cls.good = cls.portals["server"]
        env.portal.set_default("text", body="0\r\n")
        # Installed once with plain settings; each test then writes the
        # per-user file and starts the program on it.
        cls.folder = env.launch_folder(config=env.config(interval_time=60))
        env.stop_program(env.launch(cls.folder))

    @classmethod
    def _finish(cls):
        for p in getattr(cls, "portals", {}).values():
            p.stop()
        super()._finish()

    def start_on(self, server, port, **kw):
        env = self.env
        env.write_user_config(harness.config_bytes(server=server, server_port=port, interval_time=0,
                                                   user_id=self.USER_ID, **kw))
        return self.launch(self.folder)

    def log_text(self):
        path = self.env.prefix.host_path(LOG_FILE % self.env.user())
        return path.read_bytes().decode("latin-1") if path.exists() else ""

    def assert_refused(self, portal, error):
        env = self.env
        portal.set_default("has")
        portal.clear()
        self.start_on("https://127.0.0.1", portal.port)
        self.assertTrue(env.wait_tip(TIP_NET_FAULT, 20), env.tray_tips())
        self.assertFalse(env.wait_dialog(MESSAGE_PROMPT, 3))
        self.assertEqual(portal.requests(NOTIFY), [], "a request passed the refused certificate")
        self.assertEqual(env.tray_tips(), [TIP_NET_FAULT])
        # The reason is in the log, once for a run of the same failure.
        lines = [l for l in self.log_text().splitlines()
                 if "https://127.0.0.1:%d/velsa/home/notifyMsg.jsp" % portal.port in l]
        self.assertEqual(len(lines), 1, self.log_text())
        self.assertIn("error %d" % error, lines[0])

    def test_1_trusted_poll_blinks_and_every_address_is_https(self):
        env, good = self.env, self.good
        good.set_default("text", body="0\r\n")
        good.clear()
        self.start_on("https://127.0.0.1", good.port)
        self.assertTrue(wait_until(lambda: len(good.requests(NOTIFY)) >= 2, 20))
        r = good.requests(NOTIFY)[0]
        self.assertTrue(r.get("tls"))
        self.assertEqual(r["query"], "usr_id=%d&ver=1" % self.USER_ID)
        self.assertEqual(r["user_agent"], "orlimo")
        self.assertEqual(env.tray_tips(), [TIP_NORMAL])
        good.set_default("has")
        self.assertTrue(env.wait_dialog(MESSAGE_PROMPT, 15))
        self.assertTrue(env.wait_tip(TIP_NEW_MESSAGE, 5))
        good.set_default("text", body="0\r\n")
        base = "https://127.0.0.1:%d" % good.port
        # The portal home as Wine's shell hands it on (it adds a "/").
        home = env.reference_addresses("https://127.0.0.1")
        self.assertEqual(len(home), 1)
        self.assertTrue(home[0].startswith("https://127.0.0.1"), home)
        env.clear_browser()
        env.driver.call("click", MESSAGE_PROMPT, 1)  # "查看"
        self.assertEqual(env.wait_browser(1, 15), [base + LOGIN + "/message/ch_memobox.jsp"])
        for action, address in (
                (lambda: env.driver.call("post-tray", harness.WM_LBUTTONDBLCLK), base + "/velsa/login.jsp"),
                (lambda: env.driver.call("post-command", 32791), base + LOGIN + "/mail/compose.jsp"),
                (lambda: env.driver.call("post-command", 32777), home[0])):
            env.clear_browser()
            action()
            self.assertEqual(env.wait_browser(1, 15), [address])
        time.sleep(1)
        self.assertEqual(env.browser_addresses(), [address])

    def test_2_untrusted_ca_is_a_portal_that_cannot_be_reached(self):
        self.assert_refused(self.portals["rogue"], 12057)

    def test_3_certificate_for_another_name_is_one_too(self):
        self.assert_refused(self.portals["wrong"], 12038)

    def test_4_plain_portal_redirecting_to_https_is_followed(self):
        env, good = self.env, self.good
        env.portal.set_default("redirect", location="https://127.0.0.1:%d" % good.port)
        good.set_default("has")
        good.clear()
        env.portal.clear()
        try:
            self.start_on("127.0.0.1", env.portal.port)
            self.assertTrue(env.wait_dialog(MESSAGE_PROMPT, 20))
            self.assertTrue(good.requests(NOTIFY)[0].get("tls"))
            self.assertEqual(good.requests(NOTIFY)[0]["query"], "usr_id=%d&ver=1" % self.USER_ID)
            self.assertEqual(env.portal.requests(NOTIFY)[0]["reply"], "redirect")
        finally:
            good.set_default("text", body="0\r\n")
            env.portal.set_default("text", body="0\r\n")

    def test_5_https_portal_redirecting_to_plain_http_is_refused(self):
        env, good = self.env, self.good
        good.set_default("redirect", location="http://127.0.0.1:%d" % env.portal.port)
        env.portal.set_default("has")
        env.portal.clear()
        good.clear()
        try:
            self.start_on("https://127.0.0.1", good.port)
            self.assertTrue(env.wait_tip(TIP_NET_FAULT, 20), env.tray_tips())
            self.assertFalse(env.wait_dialog(MESSAGE_PROMPT, 3))
            self.assertEqual(env.tray_tips(), [TIP_NET_FAULT])
            self.assertGreaterEqual(len(good.requests(NOTIFY)), 2)
            # Not even asked: the query never went out in plain text.
            self.assertEqual(env.portal.requests(NOTIFY), [])
            self.assertIn("error 12040", self.log_text())
        finally:
            good.set_default("text", body="0\r\n")
            env.portal.set_default("text", body="0\r\n")


if __name__ == "__main__":
    unittest.main()
