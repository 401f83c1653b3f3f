"""The installer package under Wine's msiexec, as company IT deploys it: a
silent install with the portal's settings as properties, the installed
program's first start, a repair and a reinstall that ignore properties,
upgrades that keep the shared file as found, an uninstall, bad properties
that stop the installation before anything is installed, a failure that
rolls the settings back, an editor's UTF-8 file, a user without an
administrator's rights whose properties are ignored; and, in a 64-bit prefix,
the two architectures' packages replacing each other."""

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
        packages = env.prefix.drive_c / "packages"
        packages.mkdir()
        cls.first = r"c:\packages\first.msi"
        shutil.copy(harness.package_path(), packages / "first.msi")
        # Three upgrades, each of a higher version.
        for n, name in enumerate(("second", "third", "fourth"), start=1):
            harness.make_package("%d.%d.%d" % (major, minor, patch + n), packages / (name + ".msi"))
            setattr(cls, name, r"c:\packages\%s.msi" % name)

    def msiexec(self, *args):
        rc, out, err = self.env.prefix.wine("msiexec", *args, timeout=180)
        return rc

    def installed(self, name=""):
        return self.env.prefix.exists(INSTALL_DIR + ("\\" + name if name else ""))

    def shared(self, name="config.properties"):
        return self.env.prefix.host_path(INSTALL_DIR + "\\" + name)

    def test_1_bad_property_installs_nothing(self):
        env = self.env
        for bad in ("PORT=80a", "INTERVAL=0", "INTERVAL=1441", "SERVER=http://oa"):
            with self.subTest(bad):
                log = env.prefix.drive_c / "packages" / "bad.log"
                rc = self.msiexec("/i", self.first, "/qn", bad, "/l*v", r"c:\packages\bad.log")
                self.assertEqual(rc, 1603 & 0xFF, "ERROR_INSTALL_FAILURE")
                self.assertFalse(self.installed())
                self.assertIsNone(env.driver.reg_get(RUN_KEY, "orlimo"))
                text = log.read_bytes().decode("gbk", errors="replace")
                self.assertIn(bad.split("=")[0] + " must", text)

    def test_1b_failure_after_the_settings_rolls_them_back(self):
        # A copy of the package that fails right after WriteSettings, over a
        # config.properties left by a deployment by hand.
        env = self.env
        failing = env.prefix.drive_c / "packages" / "failing.msi"
        shutil.copy(env.prefix.host_path(self.first), failing)
        harness.msi_sql(failing,
                        "INSERT INTO CustomAction (Action, Type, Target) VALUES ('FailHere', %d, 'failed here')"
                        % (19 + 0x400),
                        "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('FailHere', 4010)")
        settings = env.prefix.host_path(INSTALL_DIR + r"\config.properties")
        settings.parent.mkdir(parents=True)
        before = b"server=by.hand.example.com\r\nuser_id=7\r\n"
        settings.write_bytes(before)
        rc = self.msiexec("/i", r"c:\packages\failing.msi", "/qn", "SERVER=127.0.0.1", "PORT=8080")
        self.assertEqual(rc, 1603 & 0xFF)
        self.assertEqual(settings.read_bytes(), before)
        self.assertEqual(env.prefix.listdir(INSTALL_DIR), ["config.properties"], "no backup or marker left")
        self.assertIsNone(env.driver.reg_get(RUN_KEY, "orlimo"))
        shutil.rmtree(settings.parent)

    def test_1c_an_editors_utf8_file_stays_utf8(self):
        # Deployed by hand and saved by an editor as UTF-8, with its mark.
        env = self.env
        settings = self.shared()
        settings.parent.mkdir(parents=True)
        before = "\ufeffserver=by.hand.example.com\r\nuser_id=7\r\nbookmark=门户|http://oa/\r\n".encode("utf-8")
        settings.write_bytes(before)
        rc = self.msiexec("/i", self.first, "/qn", "SERVER=127.0.0.1", "BOOKMARKS=邮件|http://mail.example.com/")
        self.assertEqual(rc, 0)
        self.assertEqual(settings.read_bytes(), "\ufeffserver=127.0.0.1\r\nuser_id=7\r\ninterval_time=1\r\n"
                         "server_port=80\r\nbookmark=邮件|http://mail.example.com/\r\n".encode("utf-8"))
        # The file as found is kept for the program; an uninstall takes both.
        self.assertEqual(self.shared("config.properties.previous").read_bytes(), before)
        self.assertEqual(self.msiexec("/x", self.first, "/qn"), 0)
        self.assertFalse(self.installed())

    def test_1d_without_an_administrators_rights_the_properties_are_ignored(self):
        # Wine's msiexec sets AdminUser (and Privileged) for every account,
        # also when Wine runs as an unprivileged Linux account. A copy of the
        # package clears it first with a property-setting action of the
        # installer's own (type 51), as Windows leaves it for a standard user
        # whose installation of an advertised package runs elevated; the
        # package's CheckSettings is the same.
        env = self.env
        standard = env.prefix.drive_c / "packages" / "standard.msi"
        shutil.copy(env.prefix.host_path(self.first), standard)
        harness.msi_sql(standard,
                        "INSERT INTO CustomAction (Action, Type, Source, Target) "
                        "VALUES ('NotAnAdministrator', 51, 'AdminUser', '')",
                        "UPDATE InstallExecuteSequence SET Sequence=2 WHERE Action='CheckSettings'",
                        "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('NotAnAdministrator', 1)")
        settings = self.shared()
        settings.parent.mkdir(parents=True)
        before = b"server=by.hand.example.com\r\nuser_id=7\r\n"
        settings.write_bytes(before)
        log = env.prefix.drive_c / "packages" / "standard.log"
        rc = self.msiexec("/i", r"c:\packages\standard.msi", "/qn", "SERVER=evil.example", "PORT=81", "USERID=666",
                          "AUTORUN=0", "/l*v", r"c:\packages\standard.log")
        self.assertEqual(rc, 0)
        self.assertEqual(settings.read_bytes(), before)
        self.assertIn("administrator's rights (AdminUser): config.properties is written as without properties; "
                      "ignored: SERVER PORT USERID AUTORUN", log.read_bytes().decode("gbk", errors="replace"))
        self.assertEqual(env.driver.reg_get(RUN_KEY, "orlimo")["text"], RUN_VALUE_DATA, "AUTORUN=0 ignored")
        self.assertEqual(self.msiexec("/x", r"c:\packages\standard.msi", "/qn"), 0)
        self.assertFalse(self.installed())

    def test_2_silent_install_with_the_portals_settings(self):
        env = self.env
        port = env.portal.port
        rc = self.msiexec("/i", self.first, "/qn", "SERVER=127.0.0.1", "PORT=%d" % port, "INTERVAL=1440",
                          "USERID=42")
        self.assertEqual(rc, 0)
        read = env.prefix.read_file
        self.assertEqual(read(INSTALL_DIR + r"\config.properties"),
                         b"server=127.0.0.1\r\nuser_id=42\r\ninterval_time=1440\r\nserver_port=%d\r\n"
                         b"bookmark=\r\n" % port)
        self.assertEqual(read(INSTALL_DIR + r"\lock.file"), b"")
        self.assertEqual(read(INSTALL_DIR + r"\orlimo.exe"), harness.ORLIMO_EXE.read_bytes())
        self.assertEqual(env.driver.reg_get(RUN_KEY, "orlimo")["text"], RUN_VALUE_DATA)
        # The installed program starts as at logon and polls the portal as
        # user 42 (the interval shortened by hand, which the package refuses:
        # its first poll would come after a minute).
        settings = env.prefix.host_path(INSTALL_DIR + r"\config.properties")
        settings.write_bytes(settings.read_bytes().replace(b"interval_time=1440", b"interval_time=0"))
        self.launch(env.prefix.host_path(INSTALL_DIR))
        self.assertTrue(wait_until(lambda: env.portal.requests(NOTIFY), 15))
        first = env.portal.requests(NOTIFY)[0]
        self.assertEqual(first["query"], "usr_id=42&ver=1")
        self.assertEqual(first["headers"].get("Host"), "127.0.0.1:%d" % port)
        self.assertEqual(sorted(env.prefix.listdir(INSTALL_DIR)),
                         sorted(["config.properties", "lock.file", "orlimo.exe",
                                 "%s.config.properties" % env.user(),
                                 "%s.config.properties.shared" % env.user()]), "installed nothing again")

    def test_2b_repair_and_reinstall_ignore_the_properties(self):
        # Any user may start these: the shared file and the Run value stay
        # as they are, whatever they name.
        env = self.env
        before = self.shared().read_bytes()
        files = env.prefix.listdir(INSTALL_DIR)
        env.prefix.reg_delete(RUN_KEY, "orlimo")  # autorun switched off
        log = env.prefix.drive_c / "packages" / "maintenance.log"
        # A repair (what "/fa" asks for: Wine's msiexec has no /f for a
        # package), a reinstall, and the installed package started again.
        for how in (("/i", self.first, "REINSTALL=ALL", "REINSTALLMODE=a"),
                    ("/i", self.first, "REINSTALL=ALL", "REINSTALLMODE=vomus"), ("/i", self.first)):
            with self.subTest(" ".join(how)):
                rc = self.msiexec(*how, "/qn", "SERVER=evil.example", "PORT=81", "USERID=666", "INTERVAL=0",
                                  "AUTORUN=1", "/l*v", r"c:\packages\maintenance.log")
                self.assertEqual(rc, 0)
                self.assertEqual(self.shared().read_bytes(), before)
                self.assertIsNone(env.driver.reg_get(RUN_KEY, "orlimo"))
                self.assertEqual(env.prefix.listdir(INSTALL_DIR), files)
                self.assertIn("ignored: SERVER PORT INTERVAL USERID AUTORUN",
                              log.read_bytes().decode("gbk", errors="replace"))
        rc, o, e = env.prefix.wine("reg", "add", RUN_KEY, "/v", "orlimo", "/t", "REG_SZ", "/d", RUN_VALUE_DATA, "/f")
        self.assertEqual(rc, 0)

    def test_3_upgrades_keep_the_shared_file_as_first_found(self):
        # The first upgrade with properties keeps the file it replaces as
        # config.properties.previous (users' copies were made from it); the
        # next ones leave that as it is.
        env = self.env
        found = self.shared().read_bytes()
        port = env.portal.port
        for package, server in ((self.second, b"b.example.com"), (self.third, b"c.example.com")):
            with self.subTest(package):
                self.assertEqual(self.msiexec("/i", package, "/qn", "SERVER=" + server.decode()), 0)
                self.assertEqual(self.shared().read_bytes(),
                                 b"server=%s\r\nuser_id=42\r\ninterval_time=0\r\nserver_port=%d\r\n"
                                 b"bookmark=\r\n" % (server, port))
                self.assertEqual(self.shared("config.properties.previous").read_bytes(), found)
        self.assertEqual(env.driver.reg_get(RUN_KEY, "orlimo")["text"], RUN_VALUE_DATA)

    def test_3b_upgrade_keeps_the_settings_byte_for_byte(self):
        env = self.env
        settings = self.shared()
        previous = self.shared("config.properties.previous").read_bytes()
        settings.write_bytes(settings.read_bytes() + b"edited=by the administrator\r\n")
        before = settings.read_bytes()
        self.assertEqual(self.msiexec("/i", self.fourth, "/qn"), 0)
        self.assertEqual(settings.read_bytes(), before)
        self.assertEqual(self.shared("config.properties.previous").read_bytes(), previous)
        self.assertEqual(env.driver.reg_get(RUN_KEY, "orlimo")["text"], RUN_VALUE_DATA)

    def test_4_uninstall_leaves_the_users_settings(self):
        env = self.env
        self.assertEqual(self.msiexec("/x", self.fourth, "/qn"), 0)
        self.assertEqual(env.prefix.listdir(INSTALL_DIR), ["%s.config.properties" % env.user(),
                                                           "%s.config.properties.shared" % env.user()])
        self.assertIsNone(env.driver.reg_get(RUN_KEY, "orlimo"))


class ArchitectureTest(GroupTestCase):
    """The x86 and the x64 package on one 64-bit machine: one orlimo at a
    time, whichever package comes. Each test takes the prefix one step
    further; it starts from the scene the tests before it left, and when
    one of them did not finish, it makes that scene itself in a fresh
    prefix, so that a failure stays the failing test's own."""

    @classmethod
    def setUpGroup(cls):
        if harness.ARCH != "x86_64":
            raise unittest.SkipTest("needs a 64-bit prefix")
        if "i686" not in harness.runnable_arches()[0]:
            raise unittest.SkipTest("this machine does not run 32-bit programs")
        why = cls.env.prefix.missing_32bit_parts()
        if why:
            raise harness.HarnessError("the x86 packages cannot be installed here: " + why)
        version = harness.cmake_cache_value("CMAKE_PROJECT_VERSION")
        major, minor, patch = (int(p) for p in version.split(".")[:3])
        v = lambda n: "%d.%d.%d" % (major, minor, patch + n)
        cls.packages = cls.env.folder.parent / (cls.env.folder.name + "-packages")
        cls.packages.mkdir()
        cls.exe = {}
        for name, arch, n in (("x86-0", "i686", 0), ("x64-1", "x86_64", 1), ("x86-1", "i686", 1),
                              ("x64-2", "x86_64", 2)):
            cls.exe[arch] = harness.make_package_of(arch, v(n), cls.packages / (name + ".msi")).read_bytes()
        cls.copy_packages()
        cls.steps_done = 0
        cls.setup_failed = None

    @classmethod
    def copy_packages(cls):
        shutil.copytree(cls.packages, cls.env.prefix.drive_c / "packages")

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        shutil.rmtree(getattr(cls, "packages", "/nonexistent"), ignore_errors=True)

    def msiexec(self, *args):
        rc, out, err = self.env.prefix.wine("msiexec", *args, timeout=240)
        return rc

    def install(self, name, *props):
        return self.msiexec("/i", r"c:\packages\%s.msi" % name, "/qn", "/l*v", r"c:\packages\%s.log" % name,
                            *props)

    # The steps, in order; each test makes one or two of them.
    def step_1(self):
        """The x86 package's first installation, and an administrator's edit."""
        self.assertEqual(self.install("x86-0", "SERVER=127.0.0.1", "USERID=42"), 0, "x86-0 installed")
        settings = self.env.prefix.host_path(INSTALL_DIR + r"\config.properties")
        settings.write_bytes(settings.read_bytes() + b"edited=by the administrator\r\n")
        type(self).found = settings.read_bytes()

    def step_2(self):
        self.assertEqual(self.install("x64-1"), 0, "x64-1 installed")

    def step_3(self):
        self.assertEqual(self.install("x86-1"), 0, "x86-1 installed")

    def step_4(self):
        """Autorun switched off; folders planted where the packages once kept
        their backup, by a user who may write there; an upgrade with
        properties."""
        env = self.env
        env.prefix.wine("reg", "delete", RUN_KEY, "/v", "orlimo", "/f", "/reg:32")
        self.assertEqual(harness.run_values(env.prefix), {})
        for temp in (r"c:\windows\temp", r"c:\users\%s\Temp" % env.user(),
                     r"c:\users\%s\AppData\Local\Temp" % env.user()):
            for name in ("orlimo-config.properties.backup", "orlimo-config.properties.created"):
                env.prefix.host_path(temp + "\\" + name).mkdir(parents=True, exist_ok=True)
        self.assertEqual(self.install("x64-2", "SERVER=oa.example.com", "PORT=8080"), 0, "x64-2 installed")

    def scene(self, steps):
        """Brings the prefix to where the first `steps` steps leave it."""
        cls = type(self)
        if cls.steps_done == steps:
            return
        # A step that could not be made once is not waited for again.
        if cls.setup_failed and cls.setup_failed[0] <= steps:
            self.fail(cls.setup_failed[1])
        # A fresh prefix, and the steps again; a step that fails here fails
        # this test with its own reason ("setting up: ...").
        print("SCENE %s: the steps before it did not finish (%d of %d); making them in a fresh prefix"
              % (self.id(), cls.steps_done, steps), flush=True)
        old, cls.env = cls.env, None
        try:
            old.keep_logs(harness.LOGS / ("%s-before-%s" % (cls.__name__, self._testMethodName)))
        finally:
            old.stop()
        cls.env = harness.Environment(cls.__name__ + "-again")
        cls.env.start()
        cls.copy_packages()
        cls.steps_done = 0
        for n in range(1, steps + 1):
            try:
                getattr(self, "step_%d" % n)()
            except (AssertionError, harness.HarnessError) as e:
                cls.setup_failed = (n, "setting up (in %s): step %d: %s" % (self._testMethodName, n, e))
                self.fail(cls.setup_failed[1])
            cls.steps_done = n

    def done(self, steps):
        type(self).steps_done = steps

    def assertOneOrlimo(self, arch, run_view, previous=None):
        """previous: what config.properties.previous holds (None: there is none)."""
        env = self.env
        read = env.prefix.read_file
        self.assertEqual(len(harness.installed_products(env.prefix)), 1, "one product")
        self.assertEqual(read(INSTALL_DIR + r"\orlimo.exe"), self.exe[arch])
        self.assertEqual(read(INSTALL_DIR + r"\lock.file"), b"")
        self.assertEqual(sorted(harness.run_values(env.prefix)), [run_view] if run_view else [])
        self.assertEqual(sorted(env.prefix.listdir(INSTALL_DIR)),
                         ["config.properties"] + (["config.properties.previous"] if previous else [])
                         + ["lock.file", "orlimo.exe"])
        if previous:
            self.assertEqual(read(INSTALL_DIR + r"\config.properties.previous"), previous)

    def test_1_x64_upgrades_x86_and_keeps_everything(self):
        self.scene(0)
        self.step_1()
        self.assertOneOrlimo("i686", "32")
        settings = self.env.prefix.host_path(INSTALL_DIR + r"\config.properties")
        self.step_2()
        self.assertOneOrlimo("x86_64", "64", previous=self.found)
        self.assertEqual(settings.read_bytes(), self.found)
        self.done(2)

    def test_2_same_version_of_the_other_architecture_replaces_it(self):
        self.scene(2)
        before = self.env.prefix.read_file(INSTALL_DIR + r"\config.properties")
        self.step_3()
        self.assertOneOrlimo("i686", "32", previous=self.found)
        self.assertEqual(self.env.prefix.read_file(INSTALL_DIR + r"\config.properties"), before)
        self.done(3)

    def test_3_upgrade_keeps_autorun_off_and_ignores_planted_backups(self):
        self.scene(3)
        self.step_4()
        self.assertOneOrlimo("x86_64", None, previous=self.found)
        text = self.env.prefix.read_file(INSTALL_DIR + r"\config.properties")
        self.assertTrue(text.startswith(b"server=oa.example.com\r\nuser_id=42\r\ninterval_time=1\r\n"
                                        b"server_port=8080\r\n"), text)
        self.done(4)

    def test_4_uninstall_leaves_no_run_value_and_no_folder(self):
        # Autorun switched on again with the program, which the package did
        # not install: the value still goes with the program.
        self.scene(4)
        env = self.env
        rc, o, e = env.prefix.wine("reg", "add", RUN_KEY, "/v", "orlimo", "/t", "REG_SZ", "/d", RUN_VALUE_DATA,
                                   "/f", "/reg:64")
        self.assertEqual(sorted(harness.run_values(env.prefix)), ["64"])
        self.assertEqual(self.msiexec("/x", r"c:\packages\x64-2.msi", "/qn"), 0)
        self.assertEqual(harness.run_values(env.prefix), {})
        self.assertEqual(harness.installed_products(env.prefix), [])
        self.assertFalse(env.prefix.exists(INSTALL_DIR))
        self.done(5)


class RunValueViewsTest(GroupTestCase):
    """One Run value at most across the two registry views of a 64-bit
    Windows, whatever the order of a hand installation of one architecture
    and a package of the other; none after an uninstall. The other
    architecture's value is planted in its view (reg /reg:32 or /reg:64),
    as its program or package writes it. From the x64 package's side here,
    from the x86 package's in RunValueViewsX86Test."""

    ARCH = "x86_64"  # the package's, and its program's
    OWN, OTHER = "64", "32"

    @classmethod
    def setUpGroup(cls):
        if harness.ARCH != "x86_64":
            raise unittest.SkipTest("a 32-bit prefix has one registry view")
        if cls.ARCH == "i686":
            if "i686" not in harness.runnable_arches()[0]:
                raise unittest.SkipTest("this machine does not run 32-bit programs")
            why = cls.env.prefix.missing_32bit_parts()
            if why:
                raise harness.HarnessError("the x86 package cannot be installed here: " + why)
        packages = cls.env.prefix.drive_c / "packages"
        packages.mkdir()
        if cls.ARCH == harness.ARCH:
            shutil.copy(harness.package_path(), packages / "own.msi")
        else:
            version = harness.cmake_cache_value("CMAKE_PROJECT_VERSION")
            harness.make_package_of(cls.ARCH, version, packages / "own.msi")

    def plant_other_value(self):
        self.env.prefix.wine("reg", "add", RUN_KEY, "/v", "orlimo", "/t", "REG_SZ", "/d", RUN_VALUE_DATA,
                             "/f", "/reg:" + self.OTHER)

    def test_1_the_package_over_a_hand_installation_leaves_one(self):
        env = self.env
        self.plant_other_value()
        rc, o, e = env.prefix.wine("msiexec", "/i", r"c:\packages\own.msi", "/qn", "SERVER=127.0.0.1",
                                   "PORT=%d" % env.portal.port, timeout=240)
        self.assertEqual(rc, 0)
        self.assertEqual(sorted(harness.run_values(env.prefix)), [self.OWN])

    def test_2_the_program_turns_off_both_and_on_one(self):
        env = self.env
        self.plant_other_value()
        self.launch(env.prefix.host_path(INSTALL_DIR))
        for expected in ([], [self.OWN]):
            env.driver.call("post-command", 32776)  # "自动运行"
            self.assertTrue(wait_until(lambda: sorted(harness.run_values(env.prefix)) == expected, 15),
                            harness.run_values(env.prefix))

    def test_3_uninstall_leaves_none(self):
        env = self.env
        self.plant_other_value()
        rc, o, e = env.prefix.wine("msiexec", "/x", r"c:\packages\own.msi", "/qn", timeout=240)
        self.assertEqual(rc, 0)
        self.assertEqual(harness.run_values(env.prefix), {})


class RunValueViewsX86Test(RunValueViewsTest):
    ARCH = "i686"
    OWN, OTHER = "32", "64"


if __name__ == "__main__":
    unittest.main()
