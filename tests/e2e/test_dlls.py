"""DLLs only from the system folder: the real orlimo.exe started from a
downloads folder that also holds a planted wininet.dll, with Wine told to
look in the program's own folder first (WINEDLLOVERRIDES "wininet=n,b"),
as Windows does for every DLL that is not a KnownDLL; and a start where
WinINet cannot be loaded at all."""

import contextlib
import shutil

import harness
from harness import GroupTestCase, TIP_NET_FAULT, TIP_NORMAL, wait_until

NOTIFY = "/velsa/home/notifyMsg.jsp"
LOG_FILE = r"c:\users\%s\AppData\Roaming\orlimo\orlimo.log"


@contextlib.contextmanager
def dll_overrides(env, overrides):
    """Wine processes started meanwhile get these DLL overrides before the
    harness's usual ones."""
    usual = env.prefix.env["WINEDLLOVERRIDES"]
    env.prefix.env["WINEDLLOVERRIDES"] = overrides + ";" + usual
    try:
        yield
    finally:
        env.prefix.env["WINEDLLOVERRIDES"] = usual


class PlantedDllTest(GroupTestCase):
    """One downloads folder with the program, its settings and the planted
    DLL; the tests run in order."""

    @classmethod
    def setUpGroup(cls):
        rc, o, e = harness.run_bounded(["cmake", "--build", "--preset", harness.PRESET, "--target",
                                        "planted-wininet", "planted-probe"], 600, cwd=harness.ROOT)
        if rc != 0:
            raise harness.HarnessError("building the planted DLL failed:\n" + (o + e).decode(errors="replace"))
        env = cls.env
        env.portal.set_default("text", body="0\r\n")
        cls.folder = env.launch_folder("Downloads", config=env.config(interval_time=0))
        shutil.copy(harness.BUILD / "planted-wininet.dll", cls.folder / "wininet.dll")
        cls.mark = cls.folder / "wininet.dll.loaded"

    def test_1_a_planted_wininet_dll_never_runs(self):
        env = self.env
        # The plant works: a program there that loads WinINet by its name gets it.
        probe = self.folder / "probe.exe"
        shutil.copy(harness.BUILD / "planted-probe.exe", probe)
        with dll_overrides(env, "wininet=n,b"):
            rc, o, e = env.prefix.wine(probe, cwd=self.folder)
        self.assertEqual(rc, 0)
        self.assertTrue(self.mark.exists(), "the probe did not load the planted DLL")
        self.mark.unlink()
        probe.unlink()
        # An administrator's first start of the download (it installs itself).
        with dll_overrides(env, "wininet=n,b"):
            prog = self.launch(self.folder)
        self.assertTrue(wait_until(lambda: len(env.portal.requests(NOTIFY)) >= 2, 20),
                        prog.output()[-2000:])
        self.assertEqual(env.tray_tips(), [TIP_NORMAL])
        self.assertTrue(prog.alive())
        self.assertIsNone(prog.crashed())
        self.assertFalse(self.mark.exists(), "the planted DLL was loaded")

    def test_2_without_wininet_the_failure_icon_and_the_reason_in_the_log(self):
        env = self.env
        env.portal.clear()
        with dll_overrides(env, "wininet="):
            prog = self.launch(self.folder)
        self.assertTrue(env.wait_tip(TIP_NET_FAULT, 15), env.tray_tips())
        log = env.prefix.host_path(LOG_FILE % env.user())

        def lines():
            text = log.read_bytes().decode("latin-1") if log.exists() else ""
            return [l for l in text.split("\r\n")[:-1] if "wininet.dll" in l]
        self.assertTrue(wait_until(lines, 10))
        self.assertIn("/velsa/home/notifyMsg.jsp?usr_id=0&ver=1: ", lines()[0])
        self.assertTrue(prog.alive())
        self.assertIsNone(prog.crashed())
        self.assertEqual(env.portal.requests(NOTIFY), [])
        self.assertFalse(self.mark.exists())
