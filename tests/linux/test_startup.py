"""Start-up: the settings files of the XDG folders and the administrator's
policy file, the tray item, the shortcuts written at every start, exit."""

import os
import tempfile
import re
import subprocess
import time
from pathlib import Path

import harness
from harness import (NO_SETTINGS_TEXT, TIP_NORMAL, ProgramTest, cmake_cache, colourful, desktop_entry,
                     exec_argv, wait_dialog, wait_no_dialog, wait_until)

SHORTCUT = "orlimo-portal.desktop"
CTRAY_XEMBED_GRACE = 2.0  # s an XEmbed tray is given for a host to come too


def x(*argv, check=True):
    """An X client command on the run's display; its output."""
    return subprocess.run(argv, env=harness.RUN.base_env(), capture_output=True, text=True, timeout=30,
                          check=check).stdout


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
        # Started with the session before the panel, and the panel (or the
        # AppIndicator extension) comes after more than 30 s: the icon must
        # still reach its tray over StatusNotifierItem; polls and prompts go
        # on meanwhile. The item waits registered with the watcher, where a
        # host that comes finds it.
        harness.RUN.set_tray_host(False)
        self.addCleanup(harness.RUN.set_tray_host, True)
        started = time.monotonic()
        p = self.start(shared=self.settings(interval=0, user_id=3), wait_tray=False)
        p.wait_tray()
        harness.RUN.portal("queue", {"kind": "has"})
        prompt = wait_dialog("消息通知", 15)
        self.assertIsNotNone(prompt, "no prompt while there is no tray")
        prompt.press("下次再说")
        notice = "orlimo: no tray yet"
        self.assertTrue(wait_until(lambda: [line for line in p.output() if line.startswith(notice)], 40),
                        "no line on standard error says why there is no icon")
        # Past the 30 s after which an earlier version made its icon anyway.
        time.sleep(max(0.0, started + 33 - time.monotonic()))
        self.assertTrue(p.running())
        polls = [r for r in harness.RUN.portal_requests("/velsa/home/notifyMsg.jsp") if r["query"] == "usr_id=3&ver=1"]
        self.assertGreater(len(polls), 20, "polls go on while there is no tray")
        harness.RUN.set_tray_host(True)
        self.assertIn(p.item_name, [harness.item_bus_name(i) for i in p.items()])
        self.assertEqual(p.tooltip(), TIP_NORMAL)
        self.assertEqual(len([line for line in p.output() if line.startswith(notice)]), 1)

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


class SharedSettingsTests(ProgramTest):
    """The values in force follow the system file wherever the user did not
    set them. Beside the user's file, config.properties.shared records the
    system file as the user's values were last brought in line with it."""

    NOTIFY = "/velsa/home/notifyMsg.jsp"

    def portals(self, n):
        """n more stand-in portals (other companies' portals, or one moved)."""
        out = []
        for _ in range(n):
            other = harness.RUN.another_portal()
            self.addCleanup(harness._terminate, other.proc)
            out.append(other)
        return out

    def polls(self, portal, user_id):
        return [r for r in portal.portal_requests(self.NOTIFY) if r["query"] == "usr_id=%d&ver=1" % user_id]

    def record(self, p):
        return p.user_config.with_name("config.properties.shared")

    def test_the_users_copy_follows_the_system_file_where_the_user_set_nothing(self):
        a, b, c = harness.RUN, *self.portals(2)
        shared_a = self.settings(port=a.portal_port, user_id=7, interval=0, bookmark="门户|http://127.0.0.1/a")
        p = self.start(shared=shared_a)
        self.assertTrue(wait_until(lambda: self.polls(a, 7), 10))
        self.assertEqual(p.user_config.read_bytes(), shared_a)
        self.assertEqual(self.record(p).read_bytes(), shared_a)
        p.stop()

        # The administrator moves the portal to B, with new favorites, in a
        # file from Chinese Windows (GB18030): the user's UTF-8 file follows.
        shared_b = self.settings(port=b.portal_port, user_id=7, interval=0, bookmark="新门户|http://127.0.0.1/b",
                                 encoding="gb18030")
        p.write(p.shared_config, shared_b)
        p.start()
        self.assertTrue(wait_until(lambda: self.polls(b, 7), 10), "no poll at the new portal")
        self.assertEqual(p.user_config.read_bytes(), shared_b.decode("gb18030").encode("utf-8"))
        self.assertEqual(self.record(p).read_bytes(), shared_b)
        self.assertEqual(p.submenu("收藏夹")["children"][0]["label"], "新门户")
        p.stop()

        # The user sets another user_id by hand (an editor that writes the
        # UTF-8 mark); then the portal moves to C: the user's user_id stays.
        edited = p.user_config.read_bytes().replace(b"user_id=7\r\n", b"user_id=42\r\n")
        p.write(p.user_config, b"\xef\xbb\xbf" + edited)
        shared_c = self.settings(port=c.portal_port, user_id=7, interval=0, bookmark="新门户|http://127.0.0.1/b")
        p.write(p.shared_config, shared_c)
        a.portal("clear")
        p.start()
        self.assertTrue(wait_until(lambda: self.polls(c, 42), 10), "no poll at C with the user's own user_id")
        self.assertEqual(self.polls(c, 7), [])
        self.assertEqual(p.user_config.read_bytes(), b"\xef\xbb\xbf" + self.settings(
            port=c.portal_port, user_id=42, interval=0, bookmark="新门户|http://127.0.0.1/b"))
        self.assertEqual(self.record(p).read_bytes(), shared_c)
        self.assertEqual(a.portal_requests(self.NOTIFY) + self.polls(b, 42), [])

    def test_without_a_record_the_previous_system_file_tells_and_else_nothing_does(self):
        a, b = harness.RUN, *self.portals(1)
        old = self.settings(port=a.portal_port, user_id=7, interval=0, bookmark="")
        new = self.settings(port=b.portal_port, user_id=7, interval=0, bookmark="")

        # A copy made by an earlier version, and the system file that the
        # package upgrade replaced: the copy follows the new system file.
        def upgraded(p):
            p.write(p.shared_config.with_name("config.properties.previous"), old)
        p = self.start(user=old, shared=new, setup=upgraded)
        self.assertTrue(wait_until(lambda: self.polls(b, 7), 10), "no poll at the new portal")
        self.assertEqual(p.user_config.read_bytes(), new)
        self.assertEqual(self.record(p).read_bytes(), new)
        p.stop()

        # No record, no earlier system file: every value is the user's own.
        a.portal("clear")
        p = self.start(user=old, shared=new)
        self.assertTrue(wait_until(lambda: self.polls(a, 7), 10), "the user's own portal")
        self.assertEqual(p.user_config.read_bytes(), old)

    def test_a_value_the_limits_refuse_stays_the_users_and_the_rest_follows(self):
        a, b = harness.RUN, *self.portals(1)
        p = self.start(shared=self.settings(port=a.portal_port, user_id=7, interval=1))
        p.stop()
        # UTF-8 without a mark, a new portal and a poll every second.
        p.write(p.shared_config, self.settings(port=b.portal_port, user_id=7, interval=0,
                                               bookmark="企业门户|http://127.0.0.1/b"))
        p.start()
        p.activate()
        self.assertEqual(p.wait_addresses(1), ["http://127.0.0.1:%d/velsa/login.jsp" % b.portal_port])
        self.assertEqual(p.submenu("收藏夹")["children"][0]["label"], "企业门户")
        self.assertEqual(p.user_config.read_bytes(), self.settings(port=b.portal_port, user_id=7, interval=1,
                                                                   bookmark="企业门户|http://127.0.0.1/b"))
        time.sleep(4)
        self.assertEqual(b.portal_requests(self.NOTIFY), [], "polled every second")
        self.assertIn("orlimo: %s: interval_time=0 refused (not from 1 to 1440); interval_time=1 stays"
                      % p.shared_config, p.output())

    def test_a_system_file_that_is_garbage_changes_nothing(self):
        b, = self.portals(1)
        user = self.settings(user_id=7, interval=0)
        record = user

        def garbage(p):
            p.write(self.record(p), record)
        # UTF-16 (no "server=" this format can read) and plain noise.
        for shared in (self.settings(port=b.portal_port, interval=0).decode().encode("utf-16"),
                       b"\x00\xff garbage \r\n=\r\nserver=\r\n"):
            p = self.start(user=user, shared=shared, setup=garbage)
            self.assertTrue(wait_until(lambda: self.polls(harness.RUN, 7), 10))
            self.assertEqual(b.portal_requests(self.NOTIFY), [])
            self.assertEqual(p.user_config.read_bytes(), user)
            self.assertEqual(self.record(p).read_bytes(), record)
            p.stop()
            harness.RUN.portal("clear")


def policy_program(policy):
    """The program with /etc/orlimo/policy.properties holding policy: it runs
    in a mount namespace of its own where /etc is an overlay whose upper
    layer holds the file (the machine's /etc is left as it is)."""
    folder = Path(tempfile.mkdtemp(prefix="policy-", dir=harness.RUN.work))
    (folder / "upper" / "orlimo").mkdir(parents=True)
    (folder / "work").mkdir()
    (folder / "upper" / "orlimo" / "policy.properties").write_bytes(policy)
    wrapper = folder / "orlimo-under-policy"
    wrapper.write_text(
        "#!/bin/sh\nexec unshare --mount --propagation private sh -c "
        "'mount -t overlay overlay -o \"lowerdir=/etc,upperdir=$0,workdir=$1\" /etc && shift && exec \"$@\"' %s\n"
        % " ".join("'%s'" % a for a in [folder / "upper", folder / "work", *harness.EMULATOR, harness.PROGRAM]))
    wrapper.chmod(0o755)
    return wrapper


class PolicyTests(ProgramTest):
    """The administrator's /etc/orlimo/policy.properties: in force over the
    user's values and the system file, each value within the limits, locked
    in the settings dialog."""

    NOTIFY = "/velsa/home/notifyMsg.jsp"
    POLICY = "/etc/orlimo/policy.properties"

    def polls(self, portal, user_id):
        return [r for r in portal.portal_requests(self.NOTIFY) if r["query"] == "usr_id=%d&ver=1" % user_id]

    def test_the_policy_is_in_force_over_everything_and_locks_its_fields(self):
        a, b = harness.RUN, harness.RUN.another_portal()
        self.addCleanup(harness._terminate, b.proc)
        policy = ("server_port=%d\ninterval_time=0\nuser_id=9\nautorun=0\nbookmark=门户|http://127.0.0.1/p\n"
                  % b.portal_port).encode("utf-8")
        user = self.settings(port=a.portal_port, user_id=7, interval=0)

        def autostart_on(p):
            p.write(p.system_autostart, (harness.ROOT / "res" / "linux" / "orlimo-autostart.desktop").read_bytes())
        p = self.start(user=user, setup=autostart_on, program=policy_program(policy))
        self.assertTrue(wait_until(lambda: self.polls(b, 7), 10), "no poll at the policy's port")
        p.activate()
        self.assertEqual(p.wait_addresses(1), ["http://127.0.0.1:%d/velsa/login.jsp" % b.portal_port])
        for line in ("interval_time=0 refused (not from 1 to 1440)",
                     "user_id=9 refused (set for one user only, never for every user of the machine)"):
            self.assertIn("orlimo: %s: %s" % (self.POLICY, line), p.output())
        self.assertEqual(p.submenu("收藏夹")["children"][0]["label"], "门户")
        autorun = p.find_item("自动运行")
        self.assertEqual((autorun["enabled"], autorun["checked"]), (False, False))
        self.assertIn("Hidden=true", p.user_autostart.read_text(), "autorun=0 is in force")

        p.choose_caption("配置")
        dlg = wait_dialog("参数配置")
        self.assertIsNotNone(dlg)
        self.assertEqual(dlg.fields()["端口号:"], str(b.portal_port))
        self.assertEqual(dlg.read_only_fields(), ["端口号:"])
        self.assertIn("灰色的项由管理员设置,不能更改。", dlg.labels())
        dlg.set_field("用户ID:", "8")
        dlg.press("保存")
        self.assertTrue(wait_no_dialog("参数配置"))
        # The user's own port stays in their file, under the policy's.
        self.assertEqual(p.user_config.read_bytes(), self.settings(port=a.portal_port, user_id=8, interval=0,
                                                                   bookmark=""))
        self.assertTrue(wait_until(lambda: self.polls(b, 8), 10))
        p.stop()

        # Without the policy file, the user's own values.
        a.portal("clear")
        p = self.start(user=p.user_config.read_bytes())
        self.assertTrue(wait_until(lambda: self.polls(a, 8), 10))
        self.assertTrue(p.find_item("自动运行")["enabled"])


class TrayTests(ProgramTest):
    """An XEmbed tray (trayer) on the run's display beside the stand-in
    watcher: a desktop whose panel has only the old tray (Xfce, MATE) while
    a KDE program's watcher runs without a host."""

    def setUp(self):
        super().setUp()
        self.watcher = harness.RUN.bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
        # Now and then trayer cannot open the display at its first try (as
        # mutter: see test_session).
        for _ in range(3):
            tray = subprocess.Popen(["trayer"], env=harness.RUN.base_env(), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
            self.addCleanup(harness._terminate, tray)
            shown = wait_until(lambda: tray.poll() is not None or x("xdotool", "search", "--pid", str(tray.pid),
                                                                     check=False).split(), 10)
            if shown and tray.poll() is None:
                break
            harness._terminate(tray)
        else:
            raise harness.HarnessError("trayer did not start")

    def docked(self, p):
        """The program's windows that an XEmbed tray holds (not top-level)."""
        out = []
        for w in x("xdotool", "search", "--pid", str(p.proc.pid), check=False).split():
            tree = x("xwininfo", "-id", w, "-tree", check=False)
            parent = re.search(r"Parent window id: (0x[0-9a-f]+)", tree)
            root = re.search(r"Root window id: (0x[0-9a-f]+)", tree)
            if parent and root and parent.group(1) != root.group(1):
                out.append(int(w))
        return out

    def test_the_icon_shows_in_an_xembed_tray_and_moves_to_a_host_that_comes_later(self):
        harness.RUN.set_tray_host(False)
        self.addCleanup(harness.RUN.set_tray_host, True)
        p = self.start(shared=self.settings(), wait_tray=False)
        self.assertTrue(wait_until(lambda: self.docked(p), 10), "no icon in the XEmbed tray")
        # A host registers (the panel gains a StatusNotifierItem tray): it
        # finds the item with the watcher, and the XEmbed icon goes.
        harness.RUN.set_tray_host(True)
        self.assertTrue(wait_until(lambda: not self.docked(p), 10), "the XEmbed icon stays beside the host's")
        p.wait_tray()
        self.assertEqual(p.tooltip(), TIP_NORMAL)
        p.activate()
        self.assertEqual(len(p.wait_addresses(1)), 1)

    def test_a_watcher_that_is_not_ready_is_asked_again(self):
        # The first queries of the host and the first registrations fail;
        # no signal comes. Asked again, the watcher says a host is there:
        # the item registers, and no XEmbed icon is added beside it.
        self.watcher.FailNext(2, 2, dbus_interface="org.orlimo.Test")
        self.addCleanup(self.watcher.FailNext, 0, 0, dbus_interface="org.orlimo.Test")
        before = self.watcher.Queries(dbus_interface="org.orlimo.Test")
        p = self.start(shared=self.settings(), wait_tray=False)
        p.wait_tray(timeout=10)
        self.assertGreaterEqual(self.watcher.Queries(dbus_interface="org.orlimo.Test") - before, 3)
        time.sleep(CTRAY_XEMBED_GRACE + 1.5)
        self.assertEqual(self.docked(p), [], "an XEmbed icon beside the host's item")
