"""The Debian package: what it declares and holds, and the program as the
package installs it, run from the package's own files."""

import os
import shutil
import struct
import subprocess

import harness
from harness import ProgramTest, cmake_cache, desktop_entry, exec_argv


def dpkg_deb(*args):
    return subprocess.run(["dpkg-deb", *args], capture_output=True, check=True, timeout=60).stdout.decode()


class PackageTests(ProgramTest):
    @classmethod
    def setUpClass(cls):
        cls.version = cmake_cache("CMAKE_PROJECT_VERSION")
        cls.arch = cmake_cache("ORLIMO_DEB_ARCH")
        cls.deb = harness.BUILD / ("orlimo_%s_%s.deb" % (cls.version, cls.arch))
        if not cls.deb.exists():
            raise harness.HarnessError("%s is not built (cmake --build --preset linux --target package)" % cls.deb)

    def test_the_package_declares_and_holds_the_program_and_its_desktop_files(self):
        fields = {k: dpkg_deb("-f", str(self.deb), k).strip() for k in ("Package", "Version", "Architecture", "Depends")}
        self.assertEqual((fields["Package"], fields["Version"], fields["Architecture"]),
                         ("orlimo", self.version, self.arch))
        depends = [d.strip().split(" ")[0] for d in fields["Depends"].split(",")]
        if cmake_cache("ORLIMO_QT_MAJOR") == "5":
            wanted = ("libqt5widgets5", "libqt5network5", "libqt5x11extras5", "xdg-utils")
        else:
            wanted = ("libqt6widgets6", "libqt6network6", "libqt6gui6", "xdg-utils")
        for package in wanted:
            self.assertIn(package, depends)

        files = {line.split()[-1].lstrip(".") for line in dpkg_deb("-c", str(self.deb)).splitlines()}
        wanted = {"/usr/bin/orlimo", "/usr/share/applications/orlimo.desktop",
                  "/etc/xdg/autostart/orlimo.desktop", "/etc/xdg/orlimo/config.properties"}
        wanted |= {"/usr/share/icons/hicolor/%dx%d/apps/orlimo.png" % (s, s) for s in (16, 22, 24, 32, 48, 64, 128, 256)}
        wanted |= {"/usr/share/doc/orlimo/copyright", "/usr/share/doc/orlimo/changelog.gz",
                   "/usr/share/man/man1/orlimo.1.gz", "/usr/share/metainfo/com.dunlore.orlimo.metainfo.xml"}
        self.assertEqual(wanted - files, set())
        # The package manager keeps an administrator's edits of both on upgrade.
        self.assertEqual(sorted(dpkg_deb("-I", str(self.deb), "conffiles").split()),
                         ["/etc/xdg/autostart/orlimo.desktop", "/etc/xdg/orlimo/config.properties"])

    def test_an_upgrade_keeps_the_system_file_it_replaces_until_a_purge(self):
        scripts = harness.RUN.work / "package-scripts"
        shutil.rmtree(scripts, ignore_errors=True)
        subprocess.run(["dpkg-deb", "-e", str(self.deb), str(scripts)], check=True, timeout=60)
        root = harness.RUN.work / "package-upgrade-root"
        shutil.rmtree(root, ignore_errors=True)
        settings = root / "etc/xdg/orlimo/config.properties"
        previous = settings.with_name("config.properties.previous")

        def script(name, *args):
            # As dpkg runs them for another root (DPKG_ROOT).
            subprocess.run([str(scripts / name), *args], env=dict(os.environ, DPKG_ROOT=str(root)),
                           check=True, timeout=30)
        settings.parent.mkdir(parents=True)
        settings.write_bytes(b"server=a.example.com\r\n")
        script("preinst", "install")  # a first installation replaces nothing
        self.assertFalse(previous.exists())
        script("preinst", "upgrade", "1.0.0")
        self.assertEqual(previous.read_bytes(), b"server=a.example.com\r\n")
        # A later upgrade keeps the oldest: the one users' copies came from.
        settings.write_bytes(b"server=b.example.com\r\n")
        script("preinst", "upgrade", "1.0.1")
        self.assertEqual(previous.read_bytes(), b"server=a.example.com\r\n")
        script("postrm", "remove")
        self.assertTrue(previous.exists(), "kept while the package's settings are kept")
        settings.unlink()  # dpkg's part of the purge
        script("postrm", "purge")
        self.assertFalse(previous.exists())
        self.assertFalse(settings.parent.exists())

    def test_the_installed_files_work_together(self):
        root = harness.RUN.work / "package-root"
        shutil.rmtree(root, ignore_errors=True)
        subprocess.run(["dpkg-deb", "-x", str(self.deb), str(root)], check=True, timeout=60)

        # The program from the package, with the package's /etc/xdg.
        def installed(p):
            shutil.rmtree(p.system)
            shutil.copytree(root / "etc" / "xdg", p.system)
        p = self.start(program=root / "usr" / "bin" / "orlimo", setup=installed)
        shipped = (root / "etc/xdg/orlimo/config.properties").read_bytes()
        self.assertEqual(p.user_config.read_bytes(), shipped)
        self.assertIn(("server=%s\r\n" % cmake_cache("ORLIMO_DEFAULT_SERVER")).encode(), shipped)
        self.assertTrue(p.find_item("自动运行")["checked"], "the package's autostart entry counts")
        p.activate()
        self.assertEqual(p.wait_addresses(1), ["http://%s/velsa/login.jsp" % cmake_cache("ORLIMO_DEFAULT_SERVER")])

        # The menu entry and the autostart entry start the installed program
        # by the icon the package installs.
        for entry in (root / "usr/share/applications/orlimo.desktop", root / "etc/xdg/autostart/orlimo.desktop"):
            values = desktop_entry(entry)
            self.assertEqual((values["Type"], exec_argv(values["Exec"]), values["Icon"]),
                             ("Application", ["orlimo"], "orlimo"), entry)
        for size in (16, 48, 256):
            png = (root / ("usr/share/icons/hicolor/%dx%d/apps/orlimo.png" % (size, size))).read_bytes()
            self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
            self.assertEqual(struct.unpack(">II", png[16:24]), (size, size))
