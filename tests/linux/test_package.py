"""The Debian package: what it declares and holds, and the program as the
package installs it, run from the package's own files."""

import gzip
import os
import re
import shutil
import struct
import subprocess
from datetime import timezone
from email.utils import parsedate_to_datetime
from pathlib import Path
from xml.etree import ElementTree

import harness
from harness import ProgramTest, cmake_cache, desktop_entry, exec_argv


def dpkg_deb(*args):
    return subprocess.run(["dpkg-deb", *args], capture_output=True, check=True, timeout=60).stdout.decode()


def relation_names(field):
    """The package names of a control field: the first of each alternative."""
    return {entry.split("|")[0].split()[0] for entry in field.split(",") if entry.strip()}


def elf_dynamic(path):
    """An ELF file's NEEDED libraries, and the dynamic symbols it imports and
    defines (readelf reads any architecture's)."""
    out = subprocess.run(["readelf", "-dW", "--dyn-syms", str(path)], capture_output=True, check=True,
                         timeout=60).stdout.decode()
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", out)
    imported, defined = set(), set()
    for m in re.finditer(r"^\s*\d+: [0-9a-f]+\s+\S+ \S+\s+\S+\s+\S+\s+(\S+) ([^@\s]+)", out, re.M):
        (imported if m.group(1) == "UND" else defined).add(m.group(2))
    return needed, imported, defined


def owner(*paths):
    """The package that installed the first of these files that one did, and that file."""
    for path in paths:
        done = subprocess.run(["dpkg-query", "-S", str(path)], capture_output=True, timeout=60)
        if done.returncode == 0:
            return done.stdout.decode().split(":")[0], Path(os.path.realpath(path))
    raise AssertionError("no package holds %s" % " or ".join(map(str, paths)))


class PackageTests(ProgramTest):
    @classmethod
    def setUpClass(cls):
        cls.version = cmake_cache("CMAKE_PROJECT_VERSION")
        cls.arch = cmake_cache("ORLIMO_DEB_ARCH")
        cls.deb = harness.BUILD / ("orlimo_%s_%s.deb" % (cls.version, cls.arch))
        if not cls.deb.exists():
            raise harness.HarnessError("%s is not built (cmake --build --preset linux --target package)" % cls.deb)

    def test_the_package_declares_and_holds_the_program_and_its_desktop_files(self):
        fields = {k: dpkg_deb("-f", str(self.deb), k).strip() for k in ("Package", "Version", "Architecture")}
        self.assertEqual((fields["Package"], fields["Version"], fields["Architecture"]),
                         ("orlimo", self.version, self.arch))

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

    def test_the_package_depends_on_what_the_program_uses_suggests_a_tray_and_proxies_and_has_one_version(self):
        root = harness.RUN.work / "package-relations-root"
        shutil.rmtree(root, ignore_errors=True)
        subprocess.run(["dpkg-deb", "-x", str(self.deb), str(root)], check=True, timeout=60)
        fields = {k: dpkg_deb("-f", str(self.deb), k).strip() for k in ("Version", "Depends", "Suggests")}
        triplet = subprocess.run(["dpkg-architecture", "-a", self.arch, "-qDEB_HOST_MULTIARCH"], capture_output=True,
                                 check=True, timeout=60).stdout.decode().strip()
        major = cmake_cache("ORLIMO_QT_MAJOR")

        # Depends: the package of each library the program links and calls
        # into, of Qt's X11 platform plugin (which Qt loads), and xdg-utils
        # (xdg-open opens the addresses); nothing else.
        needed, imported, _ = elf_dynamic(root / "usr/bin/orlimo")
        used = {"xdg-utils"}
        libraries = {}
        for name in needed:
            package, library = owner("/usr/lib/%s/%s" % (triplet, name), "/lib/%s/%s" % (triplet, name))
            self.assertTrue(imported & elf_dynamic(library)[2], "the program calls nothing in %s" % name)
            used.add(package)
            libraries[name] = library
        used.add(owner("/usr/lib/%s/qt%s/plugins/platforms/libqxcb.so" % (triplet, major))[0])
        self.assertEqual(relation_names(fields["Depends"]), used)

        # Suggests: GNOME Shell's tray, and where Qt's network library asks
        # libproxy for the proxy, the plugins that read GNOME's and KDE's
        # settings and that run a proxy auto-configuration script.
        suggests = relation_names(fields["Suggests"])
        self.assertIn("gnome-shell-extension-appindicator", suggests)
        network = elf_dynamic(libraries["libQt%sNetwork.so.%s" % (major, major)])[0]
        proxies = {s for s in suggests if s.startswith("libproxy")}
        if "libproxy.so.1" in network:
            self.assertEqual(proxies, {"libproxy1-plugin-gsettings", "libproxy1-plugin-kconfig",
                                       "libproxy1-plugin-webkit"})
        else:
            self.assertEqual(proxies, set(), "this Qt does not use libproxy")

        # The changelog's top entry and the AppStream release: the package's
        # version, on the same day.
        changelog = gzip.decompress((root / "usr/share/doc/orlimo/changelog.gz").read_bytes()).decode()
        top = re.match(r"orlimo \(([^)]+)\) [^\n]*\n.*?\n -- [^\n]*>  ([^\n]+)\n", changelog, re.S)
        self.assertIsNotNone(top, changelog)
        day = parsedate_to_datetime(top.group(2)).astimezone(timezone.utc).date().isoformat()
        release = ElementTree.parse(root / "usr/share/metainfo/com.dunlore.orlimo.metainfo.xml").find("releases/release")
        self.assertEqual((top.group(1), release.get("version"), release.get("date")),
                         (fields["Version"], fields["Version"], day))

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
