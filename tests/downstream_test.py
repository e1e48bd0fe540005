#!/usr/bin/env python3
"""The installed MorvexStartup package, used as a project of our own would.

Installs this build (every component) into a temporary prefix, configures
tests/downstream against it (with the same toolchain file for a cross
build), builds it, installs its runtime component as an application folder
and runs the launcher that morvex_add_launcher made there (under Wine for a
Windows build): the program of its trailer must get the trailer's tokens and
the launcher's own argument. A Windows build also makes the downstream
project's installer (`cpack -G NSIS`) and installs it silently on a copy of
the runs' Wine prefix, and its MSI (`cpack -G External`), with its own
name, publisher and upgrade code. Then checks that `cpack` packs exactly
the runtime component of this build, the application folder, into a ZIP
named with the version.

    downstream_test.py --build BUILD --source tests/downstream --cmake CMAKE
                       --cpack CPACK --version X.Y.Z
                       [--toolchain FILE --wine RUNNER --wine-prefix PREFIX]
"""
import os
import shutil
import struct
import subprocess
import tempfile
import unittest
import zipfile

import test_support
from test_support import ARGS, exe, host_path, tree


def run(command, **kwargs):
    result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=600, **kwargs)
    if result.returncode != 0:
        raise AssertionError("%s exited with %d:\n%s" % (
            " ".join(command), result.returncode, result.stdout.decode(errors="replace")))
    return result


def cache_entry(build, name):
    """The value of a build's cache entry, empty when it has none."""
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return ""


class DownstreamTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="morvex-downstream-")
        cls.prefix = os.path.join(cls.root, "prefix")
        cls.app = os.path.join(cls.root, "Down App")
        cls.report = os.path.join(cls.root, "notes.txt")
        run([ARGS.cmake, "--install", ARGS.build, "--prefix", cls.prefix])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def install_component(self, component):
        folder = tempfile.mkdtemp(dir=self.root, prefix=component + "-")
        run([ARGS.cmake, "--install", ARGS.build, "--prefix", folder, "--component", component])
        return tree(folder)

    def test_components_split_the_install(self):
        suffix = ".exe" if ARGS.wine else ""
        package = "lib/cmake/MorvexStartup/"
        tools = {"tools", "tools/launcher" + suffix, "tools/make_launcher" + suffix,
                 "tools/check_app_folder" + suffix}
        if ARGS.toolchain:
            tools |= {"tools/host", "tools/host/make_launcher", "tools/host/check_app_folder"}
        development = {"lib", "lib/cmake", "lib/cmake/MorvexStartup", package + "morvex_add_launcher.cmake",
                       package + "MorvexStartupConfig.cmake", package + "MorvexStartupConfigVersion.cmake",
                       package + "morvex_add_installer.cmake", package + "morvex_installer_cpack.cmake",
                       package + "NSIS.template.in", package + "morvex_signing.cmake",
                       package + "morvex_msi_package.cmake", package + "msi_package.py",
                       package + "morvex_sign_program.cmake",
                       package + "morvex_windows_version.cmake",
                       package + "morvex_source_date_epoch.cmake"}
        self.assertEqual(self.install_component("tools"), tools)
        self.assertEqual(self.install_component("development"), development)
        runtime = self.install_component("runtime")
        program = "morvex_desktop" + suffix
        top = {entry for entry in runtime if "/" not in entry}
        if ARGS.wine and program in runtime:
            expected = {program, "launcher.exe", "python27.dll", "python27.zip", "DLLs", "modules"}
            if cache_entry(ARGS.build, "MORVEX_VC90_RUNTIME_DIR"):
                expected.add("Microsoft.VC90.CRT")
                assembly = {entry.lower() for entry in runtime
                            if entry.startswith("Microsoft.VC90.CRT/")}
                self.assertLessEqual({"microsoft.vc90.crt/microsoft.vc90.crt.manifest",
                                      "microsoft.vc90.crt/msvcr90.dll"}, assembly)
            if "DLLs/tk85.dll" in runtime:
                # Tk's script libraries and lib-tk, for an application that uses Tk.
                expected.add("lib")
            self.assertEqual(top, expected)
        self.assertIn("launcher" + suffix, runtime)
        # A build without the bootstrapper has no application packages.
        self.assertEqual("modules" in runtime, program in runtime)
        self.assertFalse({entry for entry in runtime if entry.startswith("tools")})
        self.assertFalse({entry for entry in runtime if entry.startswith("lib/cmake")})
        self.assertEqual(tree(self.prefix), runtime | tools | development)

    @classmethod
    def downstream_build(cls):
        """The downstream project configured against the installed package
        and built, once: its build folder."""
        build = os.path.join(cls.root, "build")
        if os.path.exists(build):
            return build
        source = os.path.join(cls.root, "source")
        shutil.copytree(ARGS.source, source)
        configure = [ARGS.cmake, "-S", source, "-B", build, "-DREPORT=" + host_path(cls.report)]
        if ARGS.toolchain:
            # The toolchain searches packages under its own root only; the
            # package's folder is named directly.
            configure += ["--toolchain", ARGS.toolchain,
                          "-DMorvexStartup_DIR=" + os.path.join(cls.prefix, "lib/cmake/MorvexStartup")]
        else:
            configure += ["-DCMAKE_PREFIX_PATH=" + cls.prefix, "-DAPP_DIR=" + cls.app]
        run(configure)
        run([ARGS.cmake, "--build", build])
        return build

    def test_downstream_launcher_starts_its_program(self):
        app, report = self.app, self.report
        build = self.downstream_build()
        run([ARGS.cmake, "--install", build, "--prefix", app, "--component", "runtime"])
        self.assertEqual(tree(app), {exe("Notes"), exe("note_arguments")})

        launcher = os.path.join(app, exe("Notes"))
        run(([ARGS.wine] if ARGS.wine else []) + [launcher, "own argument"])
        written = test_support.wait_for_file(report)
        self.assertIsNotNone(written, "the launcher's program wrote nothing")
        self.assertEqual(written.decode().splitlines(), ["from-trailer", "two words", "own argument"])

    def test_downstream_installer_installs_its_application(self):
        if not ARGS.wine or not ARGS.wine_prefix:
            self.skipTest("the installer of a Windows build, under Wine (--wine-prefix)")
        build = self.downstream_build()
        packages = os.path.join(self.root, "installer")
        run([ARGS.cpack, "-G", "NSIS", "-B", packages], cwd=build)
        setup = os.path.join(packages, "morvex-downstream-0.1-win64-setup.exe")
        with open(setup, "rb") as f:
            image = f.read(4096)
        header = struct.unpack_from("<I", image, 0x3C)[0]
        self.assertEqual(image[header:header + 4], b"PE\0\0")
        self.assertEqual(struct.unpack_from("<H", image, header + 24)[0], 0x20B, "not PE32+")
        # Its own version information, read by Debian's python3-pefile.
        info = run(["/usr/bin/python3", os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                     "version_info.py"), setup]).stdout.decode()
        for field in ("ProductName=Downstream Notes", "CompanyName=Downstream Ltd",
                      "ProductVersion=0.1", "FixedProductVersion=0.1.0.0"):
            self.assertIn(field, info.splitlines())

        # A machine that has nothing but Windows.
        machine = test_support.copy_prefix(
            os.environ.get("WINE_RUN_PREFIX") or ARGS.wine_prefix, self.root, ARGS.wine)
        self.addCleanup(test_support.end_wine_session, machine)
        env = dict(os.environ, WINE_RUN_PREFIX=machine)
        run([ARGS.wine, setup, "/S"], env=env)
        folder = os.path.join(machine, "drive_c", "Program Files", "Downstream Notes")
        self.assertEqual(tree(folder), {"Notes.exe", "note_arguments.exe", "Uninstall.exe"})
        self.assertTrue(os.path.exists(os.path.join(
            machine, "drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
            "Downstream Notes.lnk")))
        entry = run([ARGS.wine, "reg", "query", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion"
                     "\\Uninstall\\morvex-downstream"], env=env).stdout
        for name, value in (("DisplayName", "Downstream Notes"), ("DisplayVersion", "0.1"),
                            ("Publisher", "Downstream Ltd")):
            self.assertRegex(entry.decode(), r"\b%s\s+REG_SZ\s+%s\r?\n" % (name, value))

        # Its MSI, of the same folder, under its own name and upgrade code.
        run([ARGS.cpack, "-G", "External", "-B", packages], cwd=build)
        msi = os.path.join(packages, "morvex-downstream-0.1-win64.msi")
        table = lambda name: [row.split("\t") for row in run(  # noqa: E731
            ["msiinfo", "export", msi, name]).stdout.decode().splitlines()[3:]]
        properties = dict(row[:2] for row in table("Property"))
        self.assertEqual([properties[name] for name in ("ProductName", "Manufacturer", "ProductVersion",
                                                        "UpgradeCode")],
                         ["Downstream Notes", "Downstream Ltd", "0.1",
                          "{5A8E2C41-7B3D-4F60-9C1E-2D4B6F8A0C13}"])
        self.assertEqual(sorted(row[2] for row in table("File")), ["Notes.exe", "note_arguments.exe"])

        # A makensis or a wixl that is not there is named, with the package to install.
        configured = run([ARGS.cmake, "-DMORVEX_MAKENSIS=/nonexistent/makensis",
                          "-DMORVEX_WIXL=/nonexistent/wixl", build]).stdout.replace(b"\n  ", b" ")
        self.assertIn(b"Install NSIS (Debian: the nsis package", configured)
        self.assertIn(b"Install wixl (Debian: the wixl package", configured)

    def test_zip_holds_exactly_the_application_folder(self):
        packages = os.path.join(self.root, "packages")
        # cpack builds the project first, in the folder where it runs.
        run([ARGS.cpack, "--config", os.path.join(ARGS.build, "CPackConfig.cmake"), "-B", packages],
            cwd=ARGS.build)
        zips = [name for name in os.listdir(packages) if name.endswith(".zip")]
        self.assertEqual(len(zips), 1, zips)
        top = zips[0][:-len(".zip")]
        self.assertTrue(top.startswith("morvex-desktop-" + ARGS.version + "-"), zips[0])
        with zipfile.ZipFile(os.path.join(packages, zips[0])) as archive:
            names = archive.namelist()
        self.assertTrue(all(name.startswith(top + "/") for name in names), names[:5])
        packed = set()
        for name in names:
            parts = name[len(top) + 1:].rstrip("/").split("/")
            packed |= {"/".join(parts[:i]) for i in range(1, len(parts) + 1) if parts[0]}
        self.assertEqual(packed, self.install_component("runtime"))


def add_arguments(parser):
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--toolchain")
    parser.add_argument("--wine")
    parser.add_argument("--wine-prefix", help="the runner's Wine prefix, copied for the installer")


if __name__ == "__main__":
    test_support.main(add_arguments)
