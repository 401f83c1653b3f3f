"""The installer package under Wine's msiexec, as company IT deploys it: a
silent install with the portal's settings as properties, the installed
program's first start, an upgrade, an uninstall, and bad properties that
stop the installation before anything is installed."""

import shutil
import unittest

import harness
from harness import GroupTestCase, INSTALL_DIR, RUN_KEY, RUN_VALUE_DATA, wait_until

NOTIFY = "/velsa/home/notifyMsg.jsp"


class PackageTest(GroupTestCase):
    """One prefix taken through a package's life; the tests run in order."""

    @classmethod
    def setUpGroup(cls):
        env = cls.env
        version = harness.cmake_cache_value("CMAKE_PROJECT_VERSION")
        major, minor, patch = (int(p) for p in version.split(".")[:3])
        higher = "%d.%d.%d" % (major, minor, patch + 1)
        packages = env.prefix.drive_c / "packages"
        packages.mkdir()
        cls.first = r"c:\packages\first.msi"
        shutil.copy(harness.package_path(), packages / "first.msi")
        cls.second = r"c:\packages\second.msi"
        harness.make_package(higher, packages / "second.msi")

    def msiexec(self, *args):
        rc, out, err = self.env.prefix.wine("msiexec", *args, timeout=180)
        return rc

    def installed(self, name=""):
        return self.env.prefix.exists(INSTALL_DIR + ("\\" + name if name else ""))

    def test_1_bad_property_installs_nothing(self):
        env = self.env
        for bad in ("PORT=80a", "INTERVAL=1441", "SERVER=http://oa"):
            with self.subTest(bad):
                log = env.prefix.drive_c / "packages" / "bad.log"
                rc = self.msiexec("/i", self.first, "/qn", bad, "/l*v", r"c:\packages\bad.log")
                self.assertEqual(rc, 1603 & 0xFF, "ERROR_INSTALL_FAILURE")
                self.assertFalse(self.installed())
                self.assertIsNone(env.driver.reg_get(RUN_KEY, "orlimo"))
                text = log.read_bytes().decode("gbk", errors="replace")
                self.assertIn(bad.split("=")[0] + " must", text)

    def test_2_silent_install_with_the_portals_settings(self):
        env = self.env
        port = env.portal.port
        rc = self.msiexec("/i", self.first, "/qn", "SERVER=127.0.0.1", "PORT=%d" % port, "INTERVAL=0",
                          "USERID=42")
        self.assertEqual(rc, 0)
        read = env.prefix.read_file
        self.assertEqual(read(INSTALL_DIR + r"\config.properties"),
                         b"server=127.0.0.1\r\nuser_id=42\r\ninterval_time=0\r\nserver_port=%d\r\n"
                         b"bookmark=\r\n" % port)
        self.assertEqual(read(INSTALL_DIR + r"\lock.file"), b"")
        self.assertEqual(read(INSTALL_DIR + r"\orlimo.exe"), harness.ORLIMO_EXE.read_bytes())
        self.assertEqual(env.driver.reg_get(RUN_KEY, "orlimo")["text"], RUN_VALUE_DATA)
        # The installed program starts as at logon and polls the portal as user 42.
        self.launch(env.prefix.host_path(INSTALL_DIR))
        self.assertTrue(wait_until(lambda: env.portal.requests(NOTIFY), 15))
        first = env.portal.requests(NOTIFY)[0]
        self.assertEqual(first["query"], "usr_id=42&ver=1")
        self.assertEqual(first["headers"].get("Host"), "127.0.0.1:%d" % port)
        self.assertEqual(sorted(env.prefix.listdir(INSTALL_DIR)),
                         sorted(["config.properties", "lock.file", "orlimo.exe",
                                 "%s.config.properties" % env.user()]), "installed nothing again")

    def test_3_upgrade_keeps_the_settings_byte_for_byte(self):
        env = self.env
        settings = env.prefix.host_path(INSTALL_DIR + r"\config.properties")
        settings.write_bytes(settings.read_bytes() + b"edited=by the administrator\r\n")
        before = settings.read_bytes()
        self.assertEqual(self.msiexec("/i", self.second, "/qn"), 0)
        self.assertEqual(settings.read_bytes(), before)
        self.assertEqual(env.driver.reg_get(RUN_KEY, "orlimo")["text"], RUN_VALUE_DATA)

    def test_4_uninstall_leaves_the_users_settings(self):
        env = self.env
        self.assertEqual(self.msiexec("/x", self.second, "/qn"), 0)
        self.assertEqual(env.prefix.listdir(INSTALL_DIR), ["%s.config.properties" % env.user()])
        self.assertIsNone(env.driver.reg_get(RUN_KEY, "orlimo"))


if __name__ == "__main__":
    unittest.main()
