#!/usr/bin/env python3
"""A signed Windows build of this project, end to end.

Makes throwaway keys (tests/signing_keys.py: a root CA, a code-signing
certificate in a password-protected PKCS#12 file, a time-stamping
certificate) and serves time stamps on 127.0.0.1, then configures a build of
this source tree of its own with MORVEX_SIGN_PKCS12, MORVEX_SIGN_PASSWORD_FILE
and MORVEX_SIGN_TIMESTAMP_URL, builds it, installs it, and packs the ZIP,
the setup program and the MSI. Every program this project ships, and the
MSI, must carry a verified, time-stamped signature there (the uninstaller as
the setup program writes it, under Wine), python.org's files and the Visual
C++ runtime the bytes they came as, and the password must appear neither in
any file of the builds nor in anything they printed. The installed package
signs a project of its own (tests/downstream) from the same variables, its
setup program and MSI too, and its signed launcher still starts its
program. A wrong password or a missing key file stops configure, naming
which; a signing step that fails leaves no file.

    signed_build_test.py --source SRC --cmake CMAKE --cpack CPACK --toolchain FILE
        --wine RUNNER --kit PYTHON27_WINDOWS_DIR [--vc90 DIR]
        [--host-make-launcher FILE --host-check-app-folder FILE]
"""
import glob
import os
import secrets
import shutil
import subprocess
import tempfile
import unittest
import zipfile

import signing_keys
import test_support
from test_support import ARGS, tree, windows

# What this project builds and ships, as installed: each must be signed.
OWN_PROGRAMS = {"morvex_desktop.exe", "launcher.exe", "tools/launcher.exe",
                "tools/make_launcher.exe", "tools/check_app_folder.exe"}
PRODUCT = "Morvex Desktop"


class SignedBuildTest(unittest.TestCase):
    outputs = []

    @classmethod
    def run_logged(cls, command, expect_failure=False, **kwargs):
        """Runs a command to its end; its output is kept for the password
        check. Returns (exit code, output)."""
        result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=900, **kwargs)
        output = result.stdout.decode(errors="replace")
        cls.outputs.append(output)
        if (result.returncode != 0) != expect_failure:
            raise AssertionError("%s exited with %d:\n%s" % (" ".join(command), result.returncode,
                                                              output[-6000:]))
        return result.returncode, output

    @classmethod
    def configure_command(cls, build, pkcs12, password_file):
        command = [ARGS.cmake, "-S", ARGS.source, "-B", build, "--toolchain", ARGS.toolchain,
                   "-DMORVEX_TESTS=OFF", "-DMORVEX_WERROR=ON", "-DMORVEX_BOOTSTRAPPER=ON",
                   "-DPYTHON27_WINDOWS_DIR=" + ARGS.kit,
                   "-DMORVEX_SIGN_PKCS12=" + pkcs12, "-DMORVEX_SIGN_PASSWORD_FILE=" + password_file,
                   "-DMORVEX_SIGN_TIMESTAMP_URL=" + cls.server.url,
                   "-DMORVEX_SIGN_TSA_CAFILE=" + cls.keys.ca]
        if ARGS.vc90:
            command.append("-DMORVEX_VC90_RUNTIME_DIR=" + ARGS.vc90)
        # The host tools of the build that runs this test, not a second copy.
        if ARGS.host_make_launcher:
            command += ["-DMORVEX_HOST_MAKE_LAUNCHER=" + ARGS.host_make_launcher,
                        "-DMORVEX_HOST_CHECK_APP_FOLDER=" + ARGS.host_check_app_folder]
        return command

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="morvex-signed-")
        cls.password = "Morvex-throwaway-" + secrets.token_hex(12)
        cls.keys = signing_keys.make_keys(os.path.join(cls.root, "keys"), cls.password)
        cls.server = signing_keys.TimestampServer(cls.keys).__enter__()
        cls.build = os.path.join(cls.root, "build")
        cls.app = os.path.join(cls.root, "app")
        cls.run_logged(cls.configure_command(cls.build, cls.keys.pkcs12, cls.keys.password_file))
        cls.run_logged([ARGS.cmake, "--build", cls.build, "-j2"])
        cls.run_logged([ARGS.cmake, "--install", cls.build, "--prefix", cls.app])
        cls.packages = os.path.join(cls.build, "packages")
        cls.run_logged([ARGS.cpack, "-G", "ZIP"], cwd=cls.build)
        cls.run_logged([ARGS.cpack, "-G", "NSIS"], cwd=cls.build)
        cls.run_logged([ARGS.cpack, "-G", "External"], cwd=cls.build)
        cls.prefix = os.path.join(cls.root, "wine-prefix")
        cls.env = dict(os.environ, WINE_RUN_PREFIX=cls.prefix)
        # Everything else that runs with the password file named, before the
        # tests, so that the password check sees all of it.
        cls.build_downstream()
        cls.refusals = cls.configure_refused()
        cls.failed_steps = cls.sign_with_a_dead_server()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)
        if os.path.exists(cls.prefix):
            test_support.end_wine_session(cls.prefix)
        shutil.rmtree(cls.root, ignore_errors=True)

    def verify(self, path, description=PRODUCT):
        """Checks that path carries a signature of the throwaway key that
        verifies, with description, and a time stamp that verifies."""
        result = subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", self.keys.ca,
                                 "-TSA-CAfile", self.keys.ca], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        report = result.stdout.decode(errors="replace")
        self.assertEqual(result.returncode, 0, "%s: %s" % (path, report))
        for line in ("\nSignature verification: ok\n",
                     "\nTimestamp Server Signature verification: ok\n",
                     "Subject: /CN=Morvex Throwaway Code Signing\n",
                     "Text description: %s\n" % description):
            self.assertIn(line, report, path)
        # Aligned differently for a program and an MSI.
        self.assertRegex(report, r"\nMessage digest algorithm +: SHA256\n", path)
        self.assertNotIn(": failed", report, path)

    def test_installed_programs_are_signed(self):
        installed = {entry for entry in tree(self.app) if entry.lower().endswith(".exe")}
        self.assertEqual(installed, OWN_PROGRAMS)
        for program in sorted(installed):
            with self.subTest(program):
                self.verify(os.path.join(self.app, program))

    def test_zip_carries_the_signed_programs(self):
        folder = os.path.join(self.root, "unzipped")
        with zipfile.ZipFile(os.path.join(self.packages, "morvex-desktop-%s-win64.zip" %
                                          ARGS.version)) as archive:
            archive.extractall(folder)
        top = os.path.join(folder, "morvex-desktop-%s-win64" % ARGS.version)
        for program in ("morvex_desktop.exe", "launcher.exe"):
            with self.subTest(program):
                self.verify(os.path.join(top, program))

    def test_python_and_runtime_files_ship_as_given(self):
        # python.org's files, and the Visual C++ runtime's DLLs (each
        # assembly's copy), byte for byte as their makers gave them.
        originals = {"python27.dll": os.path.join(ARGS.kit, "python27.dll")}
        for entry in tree(self.app):
            name = os.path.basename(entry)
            if "Microsoft.VC90.CRT/" in entry and name.lower().endswith(".dll"):
                originals[entry] = os.path.join(ARGS.vc90, name)
            elif entry.startswith("DLLs/") and "/" not in entry[len("DLLs/"):] and \
                    os.path.isfile(os.path.join(self.app, entry)):
                originals[entry] = os.path.join(ARGS.kit, entry)
        self.assertGreater(len([entry for entry in originals if entry.startswith("DLLs/")]), 5)
        if ARGS.vc90:
            self.assertTrue([entry for entry in originals if "VC90" in entry])
        for shipped, original in sorted(originals.items()):
            with self.subTest(shipped):
                with open(os.path.join(self.app, shipped), "rb") as a, open(original, "rb") as b:
                    self.assertTrue(a.read() == b.read(), shipped + " differs from " + original)

    def test_setup_program_and_its_uninstaller_are_signed(self):
        setup = os.path.join(self.packages, "morvex-desktop-%s-win64-setup.exe" % ARGS.version)
        self.verify(setup)
        self.run_logged([ARGS.wine, setup, "/S", "/CurrentUser"], env=self.env)
        folders = glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "AppData", "Local",
                                         "Programs", PRODUCT))
        self.assertEqual(len(folders), 1, "the setup program installed nothing")
        folder = folders[0]
        self.verify(os.path.join(folder, "Uninstall.exe"))
        self.verify(os.path.join(folder, "morvex_desktop.exe"))

    def test_msi_is_signed(self):
        self.verify(os.path.join(self.packages, "morvex-desktop-%s-win64.msi" % ARGS.version))

    @classmethod
    def build_downstream(cls):
        """tests/downstream built against the signed build's installed
        package, with the same signing variables, installed and packed."""
        sdk = os.path.join(cls.root, "sdk")
        cls.run_logged([ARGS.cmake, "--install", cls.build, "--prefix", sdk])
        cls.downstream = os.path.join(cls.root, "downstream")
        cls.downstream_report = os.path.join(cls.root, "notes.txt")
        cls.run_logged([ARGS.cmake, "-S", os.path.join(ARGS.source, "tests", "downstream"),
                        "-B", cls.downstream, "--toolchain", ARGS.toolchain,
                        "-DMorvexStartup_DIR=" + os.path.join(sdk, "lib/cmake/MorvexStartup"),
                        "-DREPORT=" + windows(cls.downstream_report),
                        "-DMORVEX_PRODUCT_NAME=Downstream Notes",
                        "-DMORVEX_SIGN_PKCS12=" + cls.keys.pkcs12,
                        "-DMORVEX_SIGN_PASSWORD_FILE=" + cls.keys.password_file,
                        "-DMORVEX_SIGN_TIMESTAMP_URL=" + cls.server.url,
                        "-DMORVEX_SIGN_TSA_CAFILE=" + cls.keys.ca])
        cls.run_logged([ARGS.cmake, "--build", cls.downstream])
        cls.downstream_app = os.path.join(cls.root, "downstream-app")
        cls.run_logged([ARGS.cmake, "--install", cls.downstream, "--prefix", cls.downstream_app])
        cls.run_logged([ARGS.cpack, "-G", "NSIS"], cwd=cls.downstream)
        cls.run_logged([ARGS.cpack, "-G", "External"], cwd=cls.downstream)

    def test_downstream_project_signs_from_the_same_variables(self):
        app = self.downstream_app
        self.assertEqual(tree(app), {"Notes.exe", "note_arguments.exe"})
        for program in ("Notes.exe", "note_arguments.exe"):
            with self.subTest(program):
                self.verify(os.path.join(app, program), "Downstream Notes")
        for package in ("morvex-downstream-0.1-win64-setup.exe", "morvex-downstream-0.1-win64.msi"):
            with self.subTest(package):
                self.verify(os.path.join(self.downstream, package), "Downstream Notes")

        # The signed launcher still finds its trailer and starts its program.
        self.run_logged([ARGS.wine, os.path.join(app, "Notes.exe"), "own argument"], env=self.env)
        written = test_support.wait_for_file(self.downstream_report)
        self.assertIsNotNone(written, "the signed launcher's program wrote nothing")
        self.assertEqual(written.decode().splitlines(), ["from-trailer", "two words", "own argument"])

    def test_password_appears_nowhere(self):
        needle = self.password.encode()
        found = []
        # Every folder of the run but the keys' own and the Wine prefix.
        skipped = {os.path.join(self.root, "keys"), self.prefix}
        for folder, dirs, files in os.walk(self.root):
            dirs[:] = [name for name in dirs if os.path.join(folder, name) not in skipped]
            for name in files:
                path = os.path.join(folder, name)
                if os.path.islink(path):
                    continue
                with open(path, "rb") as f:
                    if needle in f.read():
                        found.append(path)
        self.assertEqual(found, [])
        self.assertTrue(any("Signing morvex_desktop.exe" in output for output in self.outputs))
        self.assertFalse([output for output in self.outputs if self.password in output])

    @classmethod
    def configure_refused(cls):
        """Configures fresh build folders with a wrong password, a key file
        that is not there and a password file that is not there: {case:
        (the message expected, configure's output)}."""
        wrong = os.path.join(cls.root, "wrong-password.txt")
        with open(wrong, "w") as f:
            f.write("not-the-password\n")
        missing = os.path.join(cls.root, "keys", "no-such-key.p12")
        refusals = {}
        for name, pkcs12, password_file, expected in (
                ("wrong password", cls.keys.pkcs12, wrong,
                 "MORVEX_SIGN_PASSWORD_FILE: the password in %s is wrong for %s" % (
                     wrong, cls.keys.pkcs12)),
                ("missing key file", missing, cls.keys.password_file,
                 "MORVEX_SIGN_PKCS12: the key file %s does not exist" % missing),
                ("missing password file", cls.keys.pkcs12, missing + ".txt",
                 "MORVEX_SIGN_PASSWORD_FILE: the password file %s.txt does not exist" % missing)):
            build = os.path.join(cls.root, "refused-" + name.replace(" ", "-"))
            _, output = cls.run_logged(cls.configure_command(build, pkcs12, password_file),
                                       expect_failure=True)
            refusals[name] = (expected, output)
        return refusals

    def test_refusals_name_what_is_wrong(self):
        for name, (expected, output) in self.refusals.items():
            with self.subTest(name):
                self.assertIn(expected, " ".join(output.split()))
                self.assertNotIn("Generating done", output)

    @classmethod
    def sign_with_a_dead_server(cls):
        """One signing step as the build runs it, against a time-stamp server
        that is not there: beside the file, and in place (as the setup
        program is). {case: (the output file, the step's output)}."""
        settings = os.path.join(cls.root, "dead-server-settings.cmake")
        with open(os.path.join(cls.build, "morvex_signing", "settings.cmake")) as f:
            text = f.read().replace(cls.server.url, "http://127.0.0.1:9/")
        with open(settings, "w") as f:
            f.write(text)
        script = os.path.join(ARGS.source, "cmake", "morvex_sign_program.cmake")
        stub = os.path.join(cls.build, "launcher", "launcher.exe")
        in_place = os.path.join(cls.root, "in-place.exe")
        shutil.copy(stub, in_place)
        steps = {}
        for name, source, output in (("beside", stub, os.path.join(cls.root, "beside.exe")),
                                     ("in place", in_place, in_place)):
            _, text = cls.run_logged([ARGS.cmake, "-DMORVEX_SIGN_SETTINGS=" + settings,
                                      "-DIN=" + source, "-DOUT=" + output, "-P", script],
                                     expect_failure=True)
            steps[name] = (output, text)
        return steps

    def test_failed_signing_leaves_no_file(self):
        for name, (output, text) in self.failed_steps.items():
            with self.subTest(name):
                self.assertIn("Signing %s failed: osslsigncode sign" % os.path.basename(output),
                              " ".join(text.split()))
                self.assertFalse(os.path.exists(output))
                self.assertFalse(os.path.exists(output + ".unverified"))


def add_arguments(parser):
    parser.add_argument("--source", required=True)
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--toolchain", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--kit", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--vc90", default="")
    parser.add_argument("--host-make-launcher", default="")
    parser.add_argument("--host-check-app-folder", default="")


if __name__ == "__main__":
    test_support.main(add_arguments)
