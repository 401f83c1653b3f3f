"""Real sessions: one program per session bus."""

import harness
from harness import INSTANCE, Program, ProgramTest, wait_dialog, wait_until

NOTIFY = "/velsa/home/notifyMsg.jsp"


def polls_of(user_id, portal=None):
    portal = portal or harness.RUN
    return [r for r in portal.portal_requests(NOTIFY) if r["query"] == "usr_id=%d&ver=1" % user_id]


class SingleInstanceTests(ProgramTest):
    def test_a_second_start_in_the_session_ends_before_it_touches_anything(self):
        first = self.start(shared=self.settings(interval=0, user_id=7))
        self.assertTrue(wait_until(lambda: polls_of(7), 10), "no poll")
        self.assertTrue(first.holds_instance_name())

        # A second start in the same session, given every file it would
        # use: a settings file to copy, a desktop folder, a menu folder.
        second = Program(harness.RUN, "second")
        second.write(second.shared_config, self.settings(interval=0, user_id=8))
        (second.home / "Desktop").mkdir()
        self.addCleanup(second.stop)
        second.start(wait_tray=False)
        self.assertEqual(second.proc.wait(15), 0)
        self.assertIn("orlimo: already running in this session (%s on the session bus)" % INSTANCE,
                      second.output())
        # No icon, no poll, no copy, no shortcut, no autostart entry; no box.
        self.assertEqual(len(first.items()), 1, "one tray item in the session")
        self.assertEqual(polls_of(8), [])
        self.assertEqual([p.name for p in second.config_home.rglob("*")], [])
        self.assertEqual(list((second.home / "Desktop").iterdir()), [])
        self.assertFalse((second.data_home / "applications").exists())
        self.assertIsNone(wait_dialog("orlimo", 1))
        # The first one polls on alone.
        count = len(polls_of(7))
        self.assertTrue(wait_until(lambda: len(polls_of(7)) >= count + 2, 10))
        self.assertTrue(first.running())

        # Once the first has ended, a start runs again.
        first.stop()
        second.start()
        self.assertTrue(wait_until(lambda: polls_of(8), 10), "no poll after the first one ended")
        self.assertTrue(second.user_config.exists())

    def test_without_a_session_bus_the_program_runs_as_before(self):
        def no_bus(p):
            p.env_overrides["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=%s" % (p.dir / "no-bus")
        p = self.start(shared=self.settings(interval=0, user_id=9), setup=no_bus, wait_tray=False)
        # No tray either (the watcher is on the bus): polls go on regardless.
        self.assertTrue(wait_until(lambda: polls_of(9), 10), "no poll without a session bus")
        self.assertTrue(p.running())
        self.assertTrue(p.user_config.exists())

