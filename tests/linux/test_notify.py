"""Notifications: the query the portal sees, new messages (blinking, the
prompt and its 15 seconds), failure and recovery, the update prompt, and a
server that does not answer. interval_time 0 polls every second."""

import importlib.util
import subprocess
import time

import harness
from harness import (DBUSMENU, TIP_NET_FAULT, TIP_NEW_MESSAGE, TIP_NORMAL, ProgramTest, colourful,
                     wait_dialog, wait_no_dialog, wait_until)

NOTIFY = "/velsa/home/notifyMsg.jsp"
PROMPT = "消息通知"
UPDATE = "通知器更新"
CONFIG = "参数配置"
REDIRECT = "/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url="


def portal(command, **reply):
    return harness.RUN.portal(command, reply)


def polls():
    return harness.RUN.portal_requests(NOTIFY)


def test_certificates():
    """tools/testca.py's throwaway CA and certificates (made once a run)."""
    found = importlib.util.spec_from_file_location("testca", harness.TOOLS / "testca.py")
    testca = importlib.util.module_from_spec(found)
    found.loader.exec_module(testca)
    return testca.make(harness.RUN.work / "tls")


class NotifyTests(ProgramTest):
    def start_polling(self, **kw):
        return self.start(shared=self.settings(interval=0, user_id=7, **kw))

    def wait_tip(self, p, tip, timeout=10):
        self.assertTrue(wait_until(lambda: p.tooltip() == tip, timeout), "tooltip %r, not %r" % (p.tooltip(), tip))

    def test_the_query_and_new_messages(self):
        p = self.start_polling()
        self.assertTrue(wait_until(polls, 10), "no poll")
        first = polls()[0]
        self.assertEqual(first["query"], "usr_id=7&ver=1")
        self.assertEqual(first["user_agent"], "orlimo")
        self.assertEqual(first["headers"].get("Host"), "127.0.0.1:%d" % harness.RUN.portal_port)
        self.assertEqual(p.tooltip(), TIP_NORMAL)

        portal("default", kind="has")
        prompt = wait_dialog(PROMPT)
        self.assertIsNotNone(prompt, "the new-message prompt")
        self.assertEqual([t for t in prompt.labels() if t], ["您有新消息!"])
        self.assertEqual(sorted(prompt.buttons()), sorted(["查看", "下次再说"]))
        self.wait_tip(p, TIP_NEW_MESSAGE, 5)
        # Blinking: both pictures show by turns.
        seen = set()
        wait_until(lambda: seen.add(colourful(p.icon_rgba()) > 20) or len(seen) == 2, 6, 0.2)
        self.assertEqual(seen, {True, False}, "the icon changes picture while messages wait")
        # Polls go on and still announce messages, but one prompt is open at most.
        count = len(polls())
        self.assertTrue(wait_until(lambda: len(polls()) >= count + 3, 10))
        self.assertEqual(len([d for d in harness.dialogs() if d.title == PROMPT]), 1)

        # "查看" opens the message box; the blinking stops at the next blink
        # tick. (Meanwhile the polls' replies stall, which changes nothing;
        # once one stalls, no reply with messages is on its way.)
        portal("default", kind="drip", body="0000000000\r\n", interval=2)
        self.assertTrue(wait_until(lambda: [r for r in polls() if r.get("reply") == "drip"], 10))
        prompt.press("查看")
        self.assertEqual(p.wait_addresses(1), ["http://127.0.0.1:%d%s/message/ch_memobox.jsp"
                                               % (harness.RUN.portal_port, REDIRECT)])
        self.wait_tip(p, TIP_NORMAL, 5)
        self.assertGreater(colourful(p.icon_rgba()), 20)

    def test_the_prompt_closes_itself_and_the_icon_blinks_on(self):
        p = self.start_polling()
        # One reply with messages; every later one sends its headers and then
        # stalls, and a reply that never ends changes nothing.
        portal("default", kind="drip", body="0000000000\r\n", interval=2)
        portal("queue", kind="has")
        self.assertIsNotNone(wait_dialog(PROMPT))
        # After 15 seconds it closes as "下次再说": no address, still blinking.
        self.assertTrue(wait_no_dialog(PROMPT, 25))
        self.assertEqual(p.tooltip(), TIP_NEW_MESSAGE)
        self.assertEqual(p.addresses(), [])
        # The next reply with messages opens it again.
        portal("queue", kind="has")
        self.assertIsNotNone(wait_dialog(PROMPT, 20))

    def test_failure_recovery_and_the_update_prompt(self):
        p = self.start_polling()
        # A connection that breaks before any answer is a network failure.
        portal("default", kind="reset")
        self.wait_tip(p, TIP_NET_FAULT)
        self.assertEqual(colourful(p.icon_rgba()), 0, "the failure picture is the white ribbon")
        portal("default", kind="text")
        self.wait_tip(p, TIP_NORMAL)
        self.assertGreater(colourful(p.icon_rgba()), 20)

        # The failure mark in a reply; then a new version: the prompt comes,
        # the failure stays shown.
        portal("default", kind="socket")
        self.wait_tip(p, TIP_NET_FAULT)
        portal("default", kind="update")
        update = wait_dialog(UPDATE)
        self.assertIsNotNone(update, "the update prompt")
        self.assertEqual([t for t in update.labels() if t],
                         ["请重新下载后,退出通知器.", "释放下载文件,运行orlimo.exe", "版本: 1.1.1226"])
        self.assertEqual(sorted(update.buttons()), sorted(["更新下载", "关闭"]))
        self.assertEqual(p.tooltip(), TIP_NET_FAULT)
        update.press("更新下载")
        self.assertEqual(p.wait_addresses(1), ["http://127.0.0.1:%d%s/mypage/pri_mod.jsp#modify"
                                               % (harness.RUN.portal_port, REDIRECT)])
        self.assertTrue(wait_no_dialog(UPDATE))
        # Once per run: later replies with "update" show nothing.
        count = len(polls())
        self.assertTrue(wait_until(lambda: len(polls()) >= count + 3, 10))
        self.assertIsNone(wait_dialog(UPDATE, 1))
        # A body without end is read up to its first 100 lines: a plain reply.
        portal("default", kind="endless", timeout=60)
        self.wait_tip(p, TIP_NORMAL)

    def test_error_pages_are_failed_polls_whatever_their_text(self):
        p = self.start_polling()
        self.assertTrue(wait_until(polls, 10), "no poll")

        def failures():
            return [line for line in p.output() if line.startswith("orlimo: poll failed: ")]
        # A maintenance page and a removed page that hold "has", a proxy's
        # 502 with no mark: the failure icon, no prompt, the status logged
        # once for each run of the same status.
        for n, (status, body) in enumerate([(503, "The service has been stopped"),
                                            (404, "The page has been removed"),
                                            (502, "Bad Gateway")], 1):
            portal("default", kind="status", status=status, body="<html><body>\r\n%s\r\n</body></html>\r\n" % body)
            self.wait_tip(p, TIP_NET_FAULT)
            count = len(polls())
            self.assertTrue(wait_until(lambda: len(polls()) >= count + 2, 10))
            self.assertEqual(len(failures()), n, failures())
            self.assertRegex(failures()[-1], r"^orlimo: poll failed: http://127\.0\.0\.1:%d%s\?usr_id=7&ver=1: "
                             r"HTTP status %d \S" % (harness.RUN.portal_port, NOTIFY, status))
            self.assertEqual(colourful(p.icon_rgba()), 0)
        self.assertIsNone(wait_dialog(PROMPT, 1))
        # A plain reply puts the normal state back; the same error after it
        # is logged again.
        portal("default", kind="text")
        self.wait_tip(p, TIP_NORMAL)
        self.assertGreater(colourful(p.icon_rgba()), 20)
        portal("default", kind="status", status=503, body="has")
        self.wait_tip(p, TIP_NET_FAULT)
        self.assertTrue(wait_until(lambda: len(failures()) == 4, 5), failures())
        self.assertIsNone(wait_dialog(PROMPT, 1))

    def test_a_dialog_closed_under_a_later_prompt_opens_again(self):
        p = self.start_polling()
        p.choose_caption("配置")
        config = wait_dialog(CONFIG)
        self.assertIsNotNone(config, "the settings dialog")
        portal("queue", kind="update")
        update = wait_dialog(UPDATE, 15)
        self.assertIsNotNone(update, "the update prompt over the settings dialog")

        # Saved and closed while the later prompt stays open: it is gone, not
        # hidden, and the command opens it anew with the values in force.
        config.set_field("用户ID:", "42")
        config.press("保存")
        self.assertTrue(wait_no_dialog(CONFIG))
        self.assertIn(b"user_id=42\r\n", p.user_config.read_bytes())
        self.assertIsNotNone(wait_dialog(UPDATE, 1), "the update prompt stays")
        p.choose_caption("配置")
        config = wait_dialog(CONFIG)
        self.assertIsNotNone(config, "the settings dialog opens again")
        self.assertEqual(config.fields()["用户ID:"], "42")

        # While it is open the command brings it to the front: still one.
        # (Commands run in order: once the page is opened, it has run.)
        p.choose_caption("配置")
        p.choose_caption("查看短信")
        self.assertEqual(len(p.wait_addresses(1)), 1)
        wait_until(lambda: len([d for d in harness.dialogs() if d.title == CONFIG]) > 1, 2, 0.2)
        self.assertEqual(len([d for d in harness.dialogs() if d.title == CONFIG]), 1)

        config.press("取消")
        self.assertTrue(wait_no_dialog(CONFIG))

        # A new-message prompt that closes while a dialog opened after it
        # stays open counts as closed: the next news opens one again.
        portal("queue", kind="has")
        prompt = wait_dialog(PROMPT, 15)
        self.assertIsNotNone(prompt, "the new-message prompt")
        p.choose_caption("配置")
        config = wait_dialog(CONFIG)
        self.assertIsNotNone(config, "the settings dialog over the prompt")
        prompt.press("下次再说")
        self.assertTrue(wait_no_dialog(PROMPT))
        portal("queue", kind="has")
        self.assertIsNotNone(wait_dialog(PROMPT, 15), "a new prompt while the settings dialog stays open")
        config.press("取消")
        update.press("关闭")
        self.assertTrue(wait_no_dialog(CONFIG) and wait_no_dialog(UPDATE))

    def test_a_server_that_does_not_answer_blocks_nothing(self):
        p = self.start_polling()
        portal("default", kind="silent", timeout=60)
        self.assertTrue(wait_until(polls, 10), "no poll")
        # The query waits for the server; meanwhile the menu answers at once
        # (a call the program could not answer within 5 s would fail here).
        menu = p.run.bus.get_object(p.item_name, str(p.prop("Menu")))
        layout = menu.GetLayout(0, -1, [], dbus_interface=DBUSMENU, timeout=5)
        self.assertGreater(len(layout[1][2]), 10)
        # Its deadline makes it a network failure; no second query was
        # started beside it, though a poll fell due every second.
        self.wait_tip(p, TIP_NET_FAULT, 40)
        self.assertLessEqual(len(polls()), 2)


class TlsTests(ProgramTest):
    """Polls over HTTPS with Qt's TLS and the system's trusted roots: the
    program runs in a mount namespace of its own where /etc/ssl/certs holds
    the test CA alone (as company IT puts its root into the store)."""

    wait_tip = NotifyTests.wait_tip

    def tls_portal(self, cert):
        """A stand-in portal on HTTPS with this test certificate; returns
        (port, control(command, **reply), requests())."""
        folder = test_certificates()
        proc = harness.RUN._spawn([harness.PYTHON, str(harness.TOOLS / "portal.py"), "--port", "0",
                                   "--control-port", "0", "--tls-cert", str(folder / (cert + ".pem")),
                                   "--tls-key", str(folder / (cert + ".key"))], stdout=subprocess.PIPE)
        self.addCleanup(harness._terminate, proc)
        port = int(harness._read_line(proc, 15, "the TLS portal"))
        control_port = int(proc.stdout.readline().decode().strip())
        run = harness.Run(harness.RUN.work)
        run.portal_port = control_port

        def control(command, **reply):
            return run.portal(command, reply)
        return port, control, lambda: run.portal_requests(NOTIFY)

    def trusting_program(self):
        """The program started with the test CA as the whole trust store."""
        wrapper = harness.RUN.work / "orlimo-trusting-test-ca"
        if not wrapper.exists():
            wrapper.write_text(
                "#!/bin/sh\nexec unshare --mount --propagation private sh -c "
                "'mount --bind \"$0\" /etc/ssl/certs && exec \"$@\"' %s\n"
                % " ".join("'%s'" % a for a in [test_certificates() / "certs", *harness.EMULATOR,
                                                 harness.PROGRAM]))
            wrapper.chmod(0o755)
        return wrapper

    def test_trusted_and_untrusted_certificates(self):
        port, control, requests = self.tls_portal("server")
        control("default", kind="has")
        p = self.start(shared=self.settings(server="https://127.0.0.1", port=port, interval=0, user_id=7),
                       program=self.trusting_program())
        self.assertIsNotNone(wait_dialog(PROMPT, 15), "no prompt from the TLS portal")
        self.wait_tip(p, TIP_NEW_MESSAGE, 5)
        self.assertTrue(requests()[0].get("tls"))
        self.assertEqual(requests()[0]["query"], "usr_id=7&ver=1")
        p.stop()

        port, control, requests = self.tls_portal("rogue")
        control("default", kind="has")
        p = self.start(shared=self.settings(server="https://127.0.0.1", port=port, interval=0, user_id=7),
                       program=self.trusting_program())
        self.wait_tip(p, TIP_NET_FAULT, 15)
        self.assertIsNone(wait_dialog(PROMPT, 3))
        self.assertEqual(requests(), [], "a request passed the untrusted certificate")
        self.assertEqual(p.tooltip(), TIP_NET_FAULT)


class AttentionTests(ProgramTest):
    """What the desktop says of its user: while the notification server
    inhibits notifications (do not disturb), messages blink the icon and
    set the tooltip but raise no prompt, which comes once it stops; after
    logind says the computer woke, a poll comes within seconds. (A window
    in full screen: test_session's WindowManagerTests.)"""

    def test_the_prompt_waits_while_notifications_are_inhibited(self):
        server, notifications = harness.RUN.stand_in("notifications", harness.RUN.bus_address)
        self.addCleanup(harness._terminate, server)
        notifications.SetInhibited(True, dbus_interface="org.orlimo.Test")
        p = self.start(shared=self.settings(interval=0))
        portal("default", kind="has")
        self.assertTrue(wait_until(lambda: p.tooltip() == TIP_NEW_MESSAGE, 10), p.tooltip())
        self.assertIsNone(wait_dialog(PROMPT, 3), "a prompt while notifications are inhibited")
        notifications.SetInhibited(False, dbus_interface="org.orlimo.Test")
        prompt = wait_dialog(PROMPT, 10)
        self.assertIsNotNone(prompt, "no prompt once notifications are allowed again")
        prompt.press("下次再说")
        self.assertTrue(wait_no_dialog(PROMPT))

    def test_the_prompt_waits_while_gnome_does_not_disturb(self):
        # GNOME's setting, in a GSettings key file (dconf in a real session).
        def do_not_disturb(p, on=True):
            p.env_overrides["GSETTINGS_BACKEND"] = "keyfile"
            p.write(p.config_home / "glib-2.0" / "settings" / "keyfile",
                    "[org/gnome/desktop/notifications]\nshow-banners=%s\n" % ("false" if on else "true"))
        p = self.start(shared=self.settings(interval=0), setup=do_not_disturb)
        portal("default", kind="has")
        self.assertTrue(wait_until(lambda: p.tooltip() == TIP_NEW_MESSAGE, 10), p.tooltip())
        self.assertIsNone(wait_dialog(PROMPT, 3), "a prompt while GNOME does not disturb")
        do_not_disturb(p, on=False)
        prompt = wait_dialog(PROMPT, 10)
        self.assertIsNotNone(prompt, "no prompt once GNOME may disturb again")
        prompt.press("下次再说")

    def test_a_wake_brings_a_poll(self):
        system = harness.RUN.start_bus()
        logind_proc, logind = harness.RUN.stand_in("logind", system)
        self.addCleanup(harness._terminate, logind_proc)

        def on_system_bus(p):
            p.env_overrides["DBUS_SYSTEM_BUS_ADDRESS"] = system
        p = self.start(shared=self.settings(interval=60), setup=on_system_bus)
        time.sleep(2)
        self.assertEqual(polls(), [], "a poll with interval_time=60 before the wake")
        logind.Sleep(True, dbus_interface="org.orlimo.Test")
        time.sleep(1)
        logind.Sleep(False, dbus_interface="org.orlimo.Test")
        self.assertTrue(wait_until(polls, 15), "no poll after the wake")
        time.sleep(3)
        self.assertEqual(len(polls()), 1, "one poll for one wake")
        self.assertTrue(p.running())
