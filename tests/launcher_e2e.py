#!/usr/bin/env python3
"""End-to-end tests of concrete launchers.

Each test makes a concrete launcher from the real stub with make_launcher,
starts it with arguments, and reads the report that the child (report_child)
writes: its raw command line, its split arguments, its working folder and
whether it has standard handles. With --wine the programs are Windows
programs run under Wine.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None
REPORT_WAIT = 30.0      # seconds to wait for a child's report
ABSENCE_WAIT = 2.0      # seconds to watch for a child that must not start


def windows(path):
    """The path as a Windows program under Wine sees it (drive Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def host_path(path):
    return windows(path) if ARGS.wine else path


def quote(path):
    return '"' + path + '"'


def run(program, args, cwd=None, env=None):
    """Runs a program to its end. Its output goes to files, not pipes: under
    Wine a child inherits the pipes and would hold them open after the
    launcher has ended."""
    command = ([ARGS.wine, program] if ARGS.wine else [program]) + list(args)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, timeout=120)
        out.seek(0)
        err.seek(0)
        result.stdout, result.stderr = out.read(), err.read()
    return result


def wait_for(path, seconds=REPORT_WAIT):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, encoding="utf-8") as report:
                return json.load(report)
        time.sleep(0.05)
    return None


class LauncherTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="morvex-launcher-")
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        self.child = os.path.join(self.folder, os.path.basename(ARGS.child))
        shutil.copy(ARGS.child, self.child)
        self.report = os.path.join(self.folder, "report.json")

    def make(self, command, folder=None, name="app"):
        """A concrete launcher whose trailer is command."""
        suffix = ".exe" if ARGS.wine else ""
        launcher = os.path.join(folder or self.folder, name + suffix)
        result = run(ARGS.make_launcher, [host_path(ARGS.launcher), host_path(launcher), command])
        self.assertEqual(result.returncode, 0, result.stderr)
        return launcher

    def child_command(self):
        return quote(host_path(self.child)) + " " + quote(host_path(self.report))

    def start(self, launcher, args, **kwargs):
        result = run(launcher, args, **kwargs)
        self.assertEqual(result.returncode, 0)
        report = wait_for(self.report)
        self.assertIsNotNone(report, "the child wrote no report")
        return report

    def assertReceived(self, report, expected_args):
        self.assertEqual(report["args"][1:], [host_path(self.report)] + expected_args)


class ArgumentsTest(LauncherTest):
    def test_no_arguments(self):
        report = self.start(self.make(self.child_command()), [])
        self.assertReceived(report, [])
        if ARGS.wine:  # a POSIX child only sees its split arguments
            self.assertEqual(report["commandline"], self.child_command())

    def test_arguments_arrive_intact(self):
        cases = {
            "spaced": ["a b", "  lead", "trail  "],
            "empty": ["", "x", ""],
            "quoted": ['say "hi"', '"', '\\"', 'a\\\\"b'],
            "backslashes": ["dir\\", "a b\\", "\\\\server\\share\\"],
            "blanks": ["tab\there", "line\nfeed", "v\vt"],
            "non-ascii": ["café", "日本語", "emoji \U0001F600", "ünï cödé"],
            "marker-like": ["#!", "'single'", "%PATH%", "$HOME", "*.txt"],
        }
        launcher = self.make(self.child_command())
        for name, args in cases.items():
            with self.subTest(name):
                if os.path.exists(self.report):
                    os.remove(self.report)
                report = self.start(launcher, args)
                self.assertReceived(report, args)
                if ARGS.wine:
                    self.assertTrue(report["commandline"].startswith(self.child_command() + " "))

    def test_non_utf8_argument_arrives_byte_for_byte(self):
        if ARGS.wine:
            self.skipTest("Windows arguments are UTF-16 text")
        argument = os.fsdecode(b"\xff\xfe raw \xe9 \xed\xa0\x80")
        report = self.start(self.make(self.child_command()), [argument])
        self.assertEqual(os.fsencode(report["args"][2]), os.fsencode(argument))

    def test_trailer_tokens_come_first(self):
        launcher = self.make(self.child_command() + ' fixed "two words"')
        self.assertReceived(self.start(launcher, ["x"]), ["fixed", "two words", "x"])

    def test_child_gets_the_launchers_folder_and_no_handles(self):
        workdir = os.path.join(self.folder, "work dir")
        os.mkdir(workdir)
        report = self.start(self.make(self.child_command()), [], cwd=workdir)
        self.assertEqual(report["cwd"].rstrip("\\/"), host_path(workdir))
        self.assertTrue(report["no_standard_handles"])


class TrailerTest(LauncherTest):
    def test_the_last_of_two_trailers_wins(self):
        first = self.make("does-not-exist", name="first")
        second = os.path.join(self.folder, "second" + (".exe" if ARGS.wine else ""))
        result = run(ARGS.make_launcher, [host_path(first), host_path(second),
                                          self.child_command() + " second"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertReceived(self.start(second, []), ["second"])

    def assertNoChild(self, launcher):
        result = run(launcher, ["arg"])
        self.assertEqual(result.returncode, 0)
        self.assertIsNone(wait_for(self.report, ABSENCE_WAIT), "a child was started")

    def test_stub_without_trailer_starts_no_child(self):
        stub = os.path.join(self.folder, os.path.basename(ARGS.launcher))
        shutil.copy(ARGS.launcher, stub)
        self.assertNoChild(stub)

    def test_cut_off_trailer_starts_no_child(self):
        launcher = os.path.join(self.folder, "cut" + (".exe" if ARGS.wine else ""))
        shutil.copy(ARGS.launcher, launcher)
        with open(launcher, "ab") as image:
            image.write(b"#!" + self.child_command().encode())
        self.assertNoChild(launcher)

    def test_missing_child_still_exits_0(self):
        launcher = self.make(quote(host_path(os.path.join(self.folder, "missing"))) + " x")
        self.assertEqual(run(launcher, ["a"]).returncode, 0)

    def test_non_utf8_trailer_is_read_in_the_ansi_code_page(self):
        folder = os.path.join(self.folder, "café")
        os.mkdir(folder)
        shutil.move(self.child, folder)
        self.child = os.path.join(folder, os.path.basename(self.child))
        launcher = os.path.join(self.folder, "latin1" + (".exe" if ARGS.wine else ""))
        shutil.copy(ARGS.launcher, launcher)
        with open(launcher, "ab") as image:
            image.write(b"#!" + self.child_command().encode("latin-1") + b"\0")
        self.assertReceived(self.start(launcher, []), [])

    def test_utf8_trailer_with_non_ascii_child_folder(self):
        folder = os.path.join(self.folder, "日本 ü")
        os.mkdir(folder)
        shutil.move(self.child, folder)
        self.child = os.path.join(folder, os.path.basename(self.child))
        self.assertReceived(self.start(self.make(self.child_command()), ["é"]), ["é"])

    def test_launcher_in_a_non_ansi_folder(self):
        folder = os.path.join(self.folder, "запуск 日本")
        os.mkdir(folder)
        self.assertReceived(self.start(self.make(self.child_command(), folder=folder), ["a"]),
                            ["a"])

    def test_launcher_under_a_long_path(self):
        if ARGS.wine:
            self.skipTest("paths beyond MAX_PATH need opt-in on Windows")
        folder = self.folder
        while len(folder) < 600:
            folder = os.path.join(folder, "a-rather-long-folder-name")
        os.makedirs(folder)
        self.assertReceived(self.start(self.make(self.child_command(), folder=folder), []), [])

    def test_child_outlives_the_launcher(self):
        env = dict(os.environ, MORVEX_CHILD_LINGER_MS="3000")
        launcher = self.make(self.child_command())
        result = run(launcher, ["late"], env=env)
        self.assertEqual(result.returncode, 0)
        self.assertFalse(os.path.exists(self.report), "the launcher waited for its child")
        report = wait_for(self.report)
        self.assertIsNotNone(report)
        self.assertReceived(report, ["late"])


class ToolTest(LauncherTest):
    def test_show_prints_the_launch_command(self):
        launcher = self.make(self.child_command() + " é")
        result = run(ARGS.make_launcher, ["--show", host_path(launcher)])
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout.decode("utf-8").rstrip("\r\n"), self.child_command() + " é")

    def test_show_refuses_a_file_without_trailer(self):
        plain = os.path.join(self.folder, "plain.bin")
        with open(plain, "wb") as image:
            image.write(b"MZ no marker here\0#\0!")
        result = run(ARGS.make_launcher, ["--show", host_path(plain)])
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(b"no launch trailer", result.stderr)

    def test_refuses_a_command_holding_the_marker(self):
        output = os.path.join(self.folder, "refused")
        result = run(ARGS.make_launcher, [host_path(ARGS.launcher), host_path(output), "a #! b"])
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(b"#!", result.stderr)
        self.assertFalse(os.path.exists(output))

    def test_appends_marker_command_and_terminator(self):
        launcher = self.make("run me")
        with open(ARGS.launcher, "rb") as stub, open(launcher, "rb") as made:
            self.assertEqual(made.read(), stub.read() + b"#!run me\0")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--make-launcher", required=True)
    parser.add_argument("--child", required=True)
    parser.add_argument("--wine", help="program that runs Windows programs")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
