#!/usr/bin/env python3
"""End-to-end tests of the Windows installer that `cpack -G NSIS` makes of a
Windows build: its version information, a silent install, the installed
program started from its shortcut and through a launcher, its windows and
an exception box seen on an X display of the test's own (pictures in
--artefacts), the uninstall and an upgrade; and of the MSI that `cpack -G
External` makes: msiexec's silent install, upgrade, refused downgrade and
removal. Each test runs in a fresh copy of the runs' Wine prefix.

    installer_test.py --build BUILD --cmake CMAKE --cpack CPACK --wine RUNNER
        --wine-prefix PREFIX --artefacts FOLDER
"""
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import textwrap
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import screen  # noqa: E402
import test_support  # noqa: E402
from test_support import ARGS, tree, windows, write_launcher, write_package  # noqa: E402

RUNTIME = "Microsoft.VC90.CRT"
UNINSTALL = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"


def shortcut_target(link):
    """The file a shell link (.lnk) starts: the local path and suffix of its
    LinkInfo (MS-SHLLINK 2.3), in the ANSI code page, the one form Wine writes."""
    with open(link, "rb") as f:
        data = f.read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if not flags & 0x2:  # HasLinkInfo
        return None
    base, _, suffix = struct.unpack_from("<3I", data, at + 0x10)
    return "".join(data[at + start:data.index(b"\0", at + start)].decode("cp1252")
                   for start in (base, suffix))


def registration(values):
    """The values of a .reg export of one key: strings, and numbers for dwords."""
    found = {}
    for line in values.splitlines():
        if not line.startswith('"'):
            continue
        name, value = line.split('"=', 1)
        if value.startswith("dword:"):
            found[name[1:]] = int(value[6:], 16)
        else:
            found[name[1:]] = value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
    return found


def msi_table(package, table):
    """The rows of a table of an MSI, as msiinfo (msitools) exports them."""
    text = subprocess.run(["msiinfo", "export", package, table], check=True,
                          stdout=subprocess.PIPE, universal_newlines=True).stdout
    return [line.split("\t") for line in text.splitlines()[3:]]


class WineMachineTest(unittest.TestCase):
    """What the installers' tests share: a fresh copy of the runs' Wine
    prefix for each test, one without Wine's own Visual C++ 2008 runtime
    when the build carries one in the folder (cls.files), the programs run
    in it, its installed-programs entries and its windows on an X display of
    the tests' own. Each class makes cls.root in setUpClass."""

    # Imported as morvex.desktop.main: says that it ran, and with what; given
    # "--until FILE", it runs until that file is there.
    STARTED = textwrap.dedent("""\
        import os, sys, time

        def main():
            with open(os.path.join(os.path.dirname(sys.executable), 'started.txt'), 'w') as f:
                f.write(' '.join(sys.argv[1:]) or '-')
            while sys.argv[1:2] == ['--until'] and not os.path.exists(sys.argv[2]):
                time.sleep(0.1)
        """)

    @classmethod
    def tearDownClass(cls):
        if hasattr(cls, "server"):
            cls.server.terminate()
            cls.server.wait(30)
        shutil.rmtree(cls.root, ignore_errors=True)

    def machine(self):
        """A fresh Wine prefix for this test, removed after it; the
        environment of runs in it."""
        # Wine's own runtime stays where it stands in for the one the folder lacks.
        self.prefix = test_support.copy_prefix(
            os.environ.get("WINE_RUN_PREFIX") or ARGS.wine_prefix, tempfile.mkdtemp(dir=self.root),
            ARGS.wine, clean=RUNTIME in self.files)
        self.addCleanup(test_support.end_wine_session, self.prefix)
        self.env = test_support.controlled_environment({"WINE_RUN_PREFIX": self.prefix})

    def on_drive_c(self, path):
        """Where a path of drive C: of the prefix is on this host."""
        return os.path.join(self.prefix, "drive_c", path[3:].replace("\\", "/"))

    def wine(self, *command, **env):
        """Runs a program in the test's prefix, with env added to its
        environment; its exit code."""
        return subprocess.run(ARGS.wine.split() + list(command), env=dict(self.env, **env),
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=300).returncode

    def command_line(self, line):
        """Runs a command line as written: NSIS takes /D= and _?= only last and
        unquoted, and Wine would quote an argument holding a blank."""
        return self.wine("cmd", "/c", "%MORVEX_COMMAND%", MORVEX_COMMAND=line)

    def settled(self):
        """Waits until every program of the prefix has ended: an uninstaller
        started without _?= runs on from a copy of itself."""
        test_support.wineserver(self.prefix, "-w", timeout=300)

    def registered(self, hive, key=None):
        """The values of the installed-programs entry in HKLM or HKCU (the
        class's KEY, or key), or None."""
        exported = os.path.join(self.prefix, "drive_c", "entry.reg")
        if self.wine("reg", "export", hive + "\\" + (key or self.KEY), "C:\\entry.reg", "/y") != 0:
            return None
        with open(exported, encoding="utf-16") as f:
            values = registration(f.read())
        os.remove(exported)
        return values

    def started(self, *command):
        """The program started in the test's prefix, not waited for."""
        process = subprocess.Popen(ARGS.wine.split() + list(command), env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def on_screen(self):
        """Shows the prefix's windows on an X display of the tests' own; the
        display. Pictures go to the build's test artefacts."""
        cls = type(self)
        if not hasattr(cls, "display"):
            missing = [tool for tool in ("Xvfb", "xdotool", "xwd", "convert") if not shutil.which(tool)]
            if missing:
                self.skipTest("windows are seen with %s (scripts/setup-machine.sh)" % missing)
            cls.server, cls.display = screen.start_display()
        screen.draw_on_x(self.prefix, ARGS.wine, self.env)
        self.env = dict(self.env, WINE_RUN_DISPLAY=cls.display)
        os.makedirs(ARGS.artefacts, exist_ok=True)
        return cls.display

    def seen(self, display, title, picture):
        """The window titled title, found as a person finds it and kept as a
        picture; its X id."""
        found = screen.find_window(display, title)
        self.assertIsNotNone(found, "no window titled %r" % title)
        window, place = found
        path = os.path.join(ARGS.artefacts, picture)
        self.assertGreater(screen.picture(display, place, path), 8, "%s is blank" % path)
        return window


class InstallerTest(WineMachineTest):
    """The installer that `cpack -G NSIS` makes of this build, run silently
    in a fresh copy of the runs' Wine prefix."""

    KEY = UNINSTALL + "\\morvex-desktop"
    FOLDER = "C:\\Program Files\\M\u00f8rvex Desktop"
    SHORTCUT = "ProgramData/Microsoft/Windows/Start Menu/Programs/Morvex Desktop.lnk"

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="morvex-installer-")
        installed = os.path.join(cls.root, "folder")
        subprocess.run([ARGS.cmake, "--install", ARGS.build, "--prefix",
                        installed, "--component", "runtime"], check=True, stdout=subprocess.DEVNULL)
        cls.files = tree(installed) | {"Uninstall.exe"}
        cls.setup, cls.version = cls.make_installer("new")
        # The version before, which shipped one module more.
        extra = os.path.join(cls.root, "extra")
        os.makedirs(os.path.join(extra, "modules"))
        with open(os.path.join(extra, "modules", "stale_module.py"), "w") as f:
            f.write("# shipped by 1.0.0 alone\n")
        cls.old_setup, _ = cls.make_installer("old", "-D", "CPACK_PACKAGE_VERSION=1.0.0",
                                              "-D", "CPACK_INSTALLED_DIRECTORIES=%s;/" % extra)

    @classmethod
    def make_installer(cls, name, *definitions):
        packages = os.path.join(cls.root, name)
        subprocess.run([ARGS.cpack, "-G", "NSIS", "-B", packages] + list(definitions),
                       cwd=ARGS.build, check=True, stdout=subprocess.DEVNULL)
        setup, = [n for n in os.listdir(packages) if n.endswith("-win64-setup.exe")]
        version = setup[len("morvex-desktop-"):-len("-win64-setup.exe")]
        return os.path.join(packages, setup), version

    def install(self):
        """Installs silently into FOLDER; the folder."""
        self.machine()
        folder = self.on_drive_c(self.FOLDER)
        self.assertEqual(self.command_line('"%s" /S /D=%s' % (windows(self.setup),
                                                             self.FOLDER)), 0)
        self.assertEqual(tree(folder), self.files)
        return folder

    def install_and_use(self):
        """Installs silently into FOLDER; the folder, with the package that
        says it started in place of the installed one."""
        folder = self.install()
        self.installed_bytes = sum(os.path.getsize(os.path.join(folder, name)) for name in self.files
                                   if os.path.isfile(os.path.join(folder, name)))
        write_package(folder, self.STARTED)
        return folder

    def test_the_installed_sample_opens_its_window(self):
        folder = self.install()
        display = self.on_screen()
        # As its Start-menu shortcut starts it: the window, closed with Escape.
        target = shortcut_target(os.path.join(self.prefix, "drive_c", self.SHORTCUT))
        started = self.started(target)
        window = self.seen(display, "Morvex Desktop", "sample-window.png")
        screen.press(display, window, "Escape")
        self.assertEqual(started.wait(60), 0)
        # Through a concrete launcher beside it, which returns at once: the
        # window, closed with its button (the space bar presses the focused
        # Close).
        write_launcher(os.path.join(folder, "launcher.exe"),
                       os.path.join(folder, "Morvex Desktop Sample.exe"), "morvex_desktop.exe")
        self.assertEqual(self.wine(self.FOLDER + "\\Morvex Desktop Sample.exe"), 0)
        window = self.seen(display, "Morvex Desktop", "sample-window-from-launcher.png")
        screen.press(display, window, "space")
        self.assertTrue(screen.wait_until_gone(display, "Morvex Desktop"))
        # An application that fails: one "Python Exception" box, dismissed
        # with Enter, and exit code 1.
        with open(os.path.join(folder, "morvex_desktop.pth"), "w") as f:
            f.write("failing\n")
        write_package(folder, "def main():\n    raise RuntimeError('shown in a box')\n",
                      where="failing")
        failing = self.started(target)
        box = self.seen(display, "Python Exception", "python-exception-box.png")
        screen.press(display, box, "Return")
        self.assertEqual(failing.wait(60), 1)

    def test_silent_install_registers_and_starts_from_its_shortcut_and_a_launcher(self):
        folder = self.install_and_use()
        entry = self.registered("HKLM")
        self.assertEqual(entry.pop("EstimatedSize"), self.installed_bytes // 1024)
        self.assertEqual(entry, {
            "DisplayName": "Morvex Desktop", "DisplayVersion": self.version, "Publisher": "Morvex",
            "InstallLocation": self.FOLDER, "DisplayIcon": self.FOLDER + "\\morvex_desktop.exe",
            "UninstallString": '"%s\\Uninstall.exe"' % self.FOLDER,
            "QuietUninstallString": '"%s\\Uninstall.exe" /S' % self.FOLDER,
            "NoModify": 1, "NoRepair": 1})

        target = shortcut_target(os.path.join(self.prefix, "drive_c", self.SHORTCUT))
        self.assertEqual(target, self.FOLDER + "\\morvex_desktop.exe")
        started = os.path.join(folder, "started.txt")
        self.assertEqual(self.wine(target), 0)
        self.assertEqual(test_support.wait_for_file(started), b"-")
        os.remove(started)
        # A launcher made beside the program names it without a folder.
        write_launcher(os.path.join(folder, "launcher.exe"),
                       os.path.join(folder, "Morvex Notes.exe"), "morvex_desktop.exe --open notes")
        self.assertEqual(self.wine(self.FOLDER + "\\Morvex Notes.exe"), 0)
        self.assertEqual(test_support.wait_for_file(started), b"--open notes")

    def test_uninstall_removes_what_it_installed_and_nothing_else(self):
        folder = self.install_and_use()
        # Refused while a program of the folder runs: exit 4, nothing removed.
        stop = os.path.join(folder, "stop")
        running = self.started(self.FOLDER + "\\morvex_desktop.exe", "--until", self.FOLDER + "\\stop")
        self.addCleanup(running.wait, 120)
        self.addCleanup(lambda: open(stop, "w").close())
        self.assertIsNotNone(test_support.wait_for_file(os.path.join(folder, "started.txt")))
        uninstaller = self.FOLDER + "\\Uninstall.exe"
        self.assertEqual(self.command_line('"%s" /S _?=%s' % (uninstaller, self.FOLDER)), 4)
        open(stop, "w").close()
        self.assertEqual(running.wait(120), 0)
        self.assertLessEqual(self.files, tree(folder))
        users = tree(folder) - self.files
        self.assertIn("started.txt", users)

        stale = os.path.join(self.root, "stale-uninstall.exe")
        shutil.copy(os.path.join(folder, "Uninstall.exe"), stale)
        self.assertEqual(self.wine(uninstaller, "/S"), 0)
        self.settled()
        # Left: what the user made, and the folders that hold it.
        kept = users | {name.rsplit("/", i)[0] for name in users for i in range(1, name.count("/") + 1)}
        self.assertEqual(tree(folder), kept)
        self.assertIsNone(self.registered("HKLM"))
        self.assertFalse(os.path.exists(os.path.join(self.prefix, "drive_c", self.SHORTCUT)))
        # An uninstaller of the removed installation finds nothing to do.
        self.assertEqual(self.command_line('"%s" /S _?=%s' % (windows(stale),
                                                             self.FOLDER)), 3)
        self.assertEqual(tree(folder), kept)

    def test_version_information_names_the_product_and_its_version(self):
        """What Windows shows in the setup program's properties, read by
        Debian's python3-pefile (tests/version_info.py)."""
        def version_info(setup):
            reader = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "version_info.py")
            lines = subprocess.run(["/usr/bin/python3", reader, setup], check=True,
                                   stdout=subprocess.PIPE, universal_newlines=True).stdout
            return dict(line.split("=", 1) for line in lines.splitlines())
        info = version_info(self.setup)
        self.assertRegex(info.pop("LegalCopyright"), r"^Copyright \(C\) \d{4} Morvex$")
        self.assertEqual(info, {
            "ProductName": "Morvex Desktop", "CompanyName": "Morvex",
            "FileDescription": "Morvex Desktop Setup", "FileVersion": self.version,
            "ProductVersion": self.version, "OriginalFilename": os.path.basename(self.setup),
            "FixedFileVersion": self.version + ".0", "FixedProductVersion": self.version + ".0"})
        self.assertEqual(version_info(self.old_setup)["FixedProductVersion"], "1.0.0.0")

    def test_upgrade_leaves_the_new_versions_files_and_the_users(self):
        self.machine()
        self.assertEqual(self.wine(self.old_setup, "/S", "/CurrentUser"), 0)
        old = self.registered("HKCU")
        self.assertEqual(old["DisplayVersion"], "1.0.0")
        folder = self.on_drive_c(old["InstallLocation"])
        self.assertEqual(tree(folder), self.files | {"modules/stale_module.py"})
        with open(os.path.join(folder, "modules", "mine.py"), "w") as f:
            f.write("# the user's\n")
        # The new version, without a word of where or for whom: as before.
        self.assertEqual(self.wine(self.setup, "/S"), 0)
        self.assertEqual(tree(folder), self.files | {"modules/mine.py"})
        new = self.registered("HKCU")
        self.assertEqual([new["DisplayVersion"], new["InstallLocation"]],
                         [self.version, old["InstallLocation"]])
        self.assertIsNone(self.registered("HKLM"))


class MsiTest(WineMachineTest):
    """The MSI that `cpack -G External` makes of this build, installed,
    upgraded and removed silently with msiexec. Wine 8's msiexec differs
    from Windows, and the tests allow for it: a per-machine shortcut lands
    in the user's Start menu, a refused downgrade exits with 1603's low 8
    bits (67), emptied folders may stay after a removal, and the entry gets
    no DisplayIcon."""

    FOLDER = "C:\\Program Files\\Morvex Desktop"
    # Where Windows lays the shortcut of a per-machine package, and where Wine does.
    SHORTCUTS = ("ProgramData/Microsoft/Windows/Start Menu/Programs/Morvex Desktop.lnk",
                 "users/*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Morvex Desktop.lnk")

    @classmethod
    def setUpClass(cls):
        with open(os.path.join(ARGS.build, "CPackConfig.cmake")) as f:
            if 'set(CPACK_MORVEX_WIXL "")' in f.read():
                raise unittest.SkipTest("the MSI is made with wixl (scripts/setup-machine.sh)")
        cls.root = tempfile.mkdtemp(prefix="morvex-msi-")
        # The ZIP's folder, which the MSI must lay out byte for byte.
        archive, = cls.pack("zip", "ZIP")
        with zipfile.ZipFile(archive) as z:
            z.extractall(os.path.join(cls.root, "zip"))
        cls.zip_folder = os.path.join(cls.root, "zip", os.path.basename(archive)[:-len(".zip")])
        cls.files = tree(cls.zip_folder)
        cls.msi, = cls.pack("new", "External")
        cls.version = os.path.basename(cls.msi)[len("morvex-desktop-"):-len("-win64.msi")]
        # The version before, which shipped one module more.
        extra = os.path.join(cls.root, "extra")
        os.makedirs(os.path.join(extra, "modules"))
        with open(os.path.join(extra, "modules", "stale_module.py"), "w") as f:
            f.write("# shipped by 1.0.0 alone\n")
        cls.old_msi, = cls.pack("old", "External", "-D", "CPACK_PACKAGE_VERSION=1.0.0",
                                "-D", "CPACK_INSTALLED_DIRECTORIES=%s;/" % extra)

    @classmethod
    def pack(cls, name, generator, *definitions):
        """The packages `cpack -G generator` writes (CPack's .json aside)."""
        packages = os.path.join(cls.root, name)
        subprocess.run([ARGS.cpack, "-G", generator, "-B", packages] + list(definitions),
                       cwd=ARGS.build, check=True, stdout=subprocess.DEVNULL)
        return [os.path.join(packages, n) for n in sorted(os.listdir(packages))
                if n.endswith((".zip", ".msi"))]

    def msiexec(self, action, package, *properties, log=None):
        """msiexec /i (install) or /x (remove) of a package, silently, with
        a verbose log at C:\\log when given; its exit code."""
        logging = ["/l*v", "C:\\" + log] if log else []
        return self.wine("msiexec", action, package, "/qn", *logging, *properties)

    def entry(self, package):
        """The installed-programs entry of the package's product, or None."""
        code = dict(row[:2] for row in msi_table(package, "Property"))["ProductCode"]
        return self.registered("HKLM", UNINSTALL + "\\" + code)

    def shortcuts(self):
        return [path for pattern in self.SHORTCUTS
                for path in glob.glob(os.path.join(self.prefix, "drive_c", pattern))]

    def test_silent_install_lays_the_zips_files_and_starts_from_its_shortcut(self):
        self.machine()
        self.assertEqual(self.msiexec("/i", windows(self.msi), log="install.log"), 0)
        with open(os.path.join(self.prefix, "drive_c", "install.log"), "rb") as f:
            self.assertRegex(f.read().decode("latin-1"), r"Action ended [0-9:]+: INSTALL\. Return value 1\.")
        folder = self.on_drive_c(self.FOLDER)
        self.assertEqual(tree(folder), self.files)
        for name in sorted(self.files):
            if os.path.isfile(os.path.join(folder, name)):
                with open(os.path.join(folder, name), "rb") as a, \
                        open(os.path.join(self.zip_folder, name), "rb") as b:
                    self.assertTrue(a.read() == b.read(), name + " differs from the ZIP's")
        entry = self.entry(self.msi)
        self.assertEqual({name: entry.get(name) for name in ("DisplayName", "DisplayVersion", "Publisher",
                                                            "InstallLocation")},
                         {"DisplayName": "Morvex Desktop", "DisplayVersion": self.version,
                          "Publisher": "Morvex", "InstallLocation": self.FOLDER + "\\"})

        # As its Start-menu shortcut starts it: the window, closed with Escape.
        shortcut, = self.shortcuts()
        target = shortcut_target(shortcut)
        self.assertEqual(target, self.FOLDER + "\\morvex_desktop.exe")
        display = self.on_screen()
        started = self.started(target)
        window = self.seen(display, "Morvex Desktop", "msi-sample-window.png")
        screen.press(display, window, "Escape")
        self.assertEqual(started.wait(60), 0)

    def test_upgrade_replaces_the_older_version_and_a_downgrade_is_refused(self):
        self.machine()
        self.assertEqual(self.msiexec("/i", windows(self.old_msi)), 0)
        folder = self.on_drive_c(self.FOLDER)
        self.assertEqual(tree(folder), self.files | {"modules/stale_module.py"})
        self.assertEqual(self.entry(self.old_msi)["DisplayVersion"], "1.0.0")
        with open(os.path.join(folder, "modules", "mine.py"), "w") as f:
            f.write("# the user's\n")
        # The newer version: one entry, its own files and the user's.
        self.assertEqual(self.msiexec("/i", windows(self.msi)), 0)
        self.assertEqual(tree(folder), self.files | {"modules/mine.py"})
        self.assertIsNone(self.entry(self.old_msi))
        self.assertEqual(self.entry(self.msi)["DisplayVersion"], self.version)
        # The older again: refused (1603) with the package's message, the newer kept.
        self.assertIn(self.msiexec("/i", windows(self.old_msi), log="downgrade.log"), (1603, 1603 & 0xFF))
        self.assertEqual(msi_table(self.old_msi, "LaunchCondition"), [[
            "NOT WIX_DOWNGRADE_DETECTED",
            "A newer version of [ProductName] is already installed: remove it to install this one."]])
        with open(os.path.join(self.prefix, "drive_c", "downgrade.log"), "rb") as f:
            self.assertRegex(f.read().decode("latin-1"), r"WIX_DOWNGRADE_DETECTED = \{[0-9A-F-]+\}")
        self.assertEqual(tree(folder), self.files | {"modules/mine.py"})
        self.assertIsNone(self.entry(self.old_msi))
        self.assertEqual(self.entry(self.msi)["DisplayVersion"], self.version)

    def machine_state(self):
        """Every file and folder of drive C:, and HKLM's and HKCU's software
        keys, but for Wine's own (its menu files, under Software\\Wine)."""
        drive = os.path.join(self.prefix, "drive_c")
        exported = os.path.join(drive, "software.reg")
        keys = {}
        for hive in ("HKLM", "HKCU"):
            self.assertEqual(self.wine("reg", "export", hive + "\\Software", "C:\\software.reg", "/y"), 0)
            with open(exported, encoding="utf-16") as f:
                for section in f.read().split("\n\n")[1:]:
                    key, _, values = section.partition("\n")
                    if not key.startswith("[HKEY_CURRENT_USER\\Software\\Wine"):
                        keys[key] = values
            os.remove(exported)
        return tree(drive), keys

    def test_removal_takes_away_what_it_added_and_nothing_else(self):
        self.machine()
        files, keys = self.machine_state()
        self.assertEqual(self.msiexec("/i", windows(self.msi)), 0)
        self.assertTrue(self.shortcuts())
        # What the application wrote outside its folder.
        written = self.on_drive_c("C:\\ProgramData\\Morvex Desktop\\settings.ini")
        os.makedirs(os.path.dirname(written))
        with open(written, "w") as f:
            f.write("[window]\n")
        code = dict(row[:2] for row in msi_table(self.msi, "Property"))["ProductCode"]
        self.assertEqual(self.msiexec("/x", code), 0)
        test_support.wineserver(self.prefix, "-w", timeout=300)
        files_now, keys_now = self.machine_state()
        # Keys that hold no value stay new: Windows Installer's own, which
        # Windows has from the start.
        self.assertEqual({key: values for key, values in keys_now.items() if values or key in keys}, keys)
        self.assertEqual(files - files_now, set())
        # Left: the application's file, and folders alone (Windows Installer's
        # own, and those Wine empties without removing them).
        drive = os.path.join(self.prefix, "drive_c")
        self.assertEqual({name for name in files_now - files if not os.path.isdir(os.path.join(drive, name))},
                         {"ProgramData/Morvex Desktop/settings.ini"})
        self.assertEqual(self.shortcuts(), [])

    def test_installs_into_a_folder_outside_the_ansi_code_page(self):
        self.machine()
        snow = "C:\\Snow \u2603 App"
        self.assertEqual(self.msiexec("/i", windows(self.msi), "INSTALLDIR=" + snow), 0)
        folder = self.on_drive_c(snow)
        self.assertEqual(tree(folder), self.files)
        self.assertEqual(self.entry(self.msi)["InstallLocation"], snow + "\\")
        write_package(folder, self.STARTED)
        self.assertEqual(self.wine(snow + "\\morvex_desktop.exe"), 0)
        self.assertEqual(test_support.wait_for_file(os.path.join(folder, "started.txt")), b"-")


def add_arguments(parser):
    parser.add_argument("--build", required=True, help="the build folder to pack")
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--wine", required=True, help="program that runs Windows programs")
    parser.add_argument("--wine-prefix", required=True,
                        help="the runner's Wine prefix, copied for each test's machine")
    parser.add_argument("--artefacts", required=True, help="where the pictures of windows are kept")


if __name__ == "__main__":
    test_support.main(add_arguments)
