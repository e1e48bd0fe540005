#!/usr/bin/env python3
"""End-to-end tests of make_launcher, the tool that makes concrete launchers.

Each test runs the real tool on the real launcher stub (or on crafted images
where only the tool reads them), and, where a launcher is made, starts it and
reads the report of the child (report_child): its split arguments. Every
refusal must leave the output as it was and no temporary file behind. With
--wine the programs are Windows programs run under Wine.
"""
import os
import shutil
import struct
import tempfile
import unittest

import signing_keys
import test_support
from test_support import (ABSENCE_WAIT, ARGS, certificate_table, exe, host_path, run,
                          security_entry, wait_for, windows)
PREVIOUS = b"previous output, to be left alone\n"


def tool(*args, **kwargs):
    return run(ARGS.make_launcher, list(args), **kwargs)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


# Just enough of the PE format to craft images that only the tool reads.

def crafted_pe(machine=0x8664, characteristics=0x0022):
    """A PE32+ header with no sections: MZ, PE\\0\\0, 16 data directories."""
    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)
    coff = struct.pack("<4sHHIIIHH", b"PE\0\0", machine, 0, 0, 0, 0, 240, characteristics)
    optional = bytearray(240)
    struct.pack_into("<H", optional, 0, 0x20B)
    struct.pack_into("<I", optional, 108, 16)
    return bytes(dos) + coff + bytes(optional)


def crafted_elf(file_type, big_endian=False):
    header = bytearray(64)
    header[0:4] = b"\x7fELF"
    header[4], header[5], header[6] = 2, 2 if big_endian else 1, 1
    struct.pack_into(">H" if big_endian else "<H", header, 16, file_type)
    return bytes(header)


def with_certificate(image, extra=b""):
    """image with a certificate table appended and named by its security
    directory; the table holds a marker and a 0x00 byte of its own."""
    body = b"not a real signature #!evil\0 #!" + b"\x30" * 21
    table = struct.pack("<IHH", 8 + len(body), 0x0200, 0x0002) + body
    signed = bytearray(image + table + extra)
    struct.pack_into("<II", signed, security_entry(image), len(image), len(table))
    return bytes(signed)


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.folder, self.child, self.report = test_support.stage_child(
            self, ARGS.child, "morvex-make-launcher-")

    def path(self, name):
        return os.path.join(self.folder, name)

    def child_tokens(self):
        return [host_path(self.child), host_path(self.report)]

    def make(self, *command, stub=None, output=None):
        """A concrete launcher made with the given command arguments."""
        output = output or self.path(exe("app"))
        result = tool(host_path(stub or ARGS.launcher), host_path(output), *command)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, b"")
        return output

    def start(self, launcher, args, env=None, cwd=None):
        if os.path.exists(self.report):
            os.remove(self.report)
        run(launcher, args, cwd=cwd or self.folder, env=env)
        report = wait_for(self.report)
        self.assertIsNotNone(report, "the child wrote no report")
        return report["args"][1:]

    def assertNoChild(self, launcher, env=None):
        run(launcher, [], cwd=self.folder, env=env)
        self.assertIsNone(wait_for(self.report, ABSENCE_WAIT), "a child was started")

    def sign(self, image_path, signed_path):
        """Signs a PE file with a fresh self-signed certificate."""
        if not ARGS.wine:
            self.skipTest("signing real launchers needs the Windows build")
        for program in ("openssl", "osslsigncode"):
            if not shutil.which(program):
                self.fail(program + " is missing (scripts/setup-machine.sh installs it)")
        keys = signing_keys.make_keys(self.path("keys"), self_signed=True)
        signing_keys.sign(keys, image_path, signed_path)
        self.assertIsNotNone(certificate_table(read(signed_path)))
        return signed_path


class HelpTest(ToolTest):
    def test_help_gives_usage_trailer_format_and_quoting_rules(self):
        result = tool("--help")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, b"")
        text = result.stdout.decode("utf-8").replace("\r\n", "\n")
        for part in ["usage: make_launcher STUB OUTPUT -- PROGRAM [ARGUMENT...]",
                     "make_launcher STUB OUTPUT COMMAND", "--show LAUNCHER", "--check LAUNCHER",
                     '"#!", the command line as UTF-8, a 0x00 byte',
                     'The last "#!" in the file wins', "certificate table",
                     "program token:", "written in double quotes when it holds a blank",
                     "exact inverse of the split", "seems to go on past a", "Program search"]:
            self.assertIn(part, text)

    def test_version_is_the_projects(self):
        result = tool("--version")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout.decode().strip(), "make_launcher " + ARGS.version)

    def test_wrong_usage_exits_2_with_the_usage(self):
        for args in [[], ["one"], ["a", "b", "c", "d"], ["--show"], ["--check", "a", "b"],
                     ["--help", "x"], ["--version", "x"]]:
            with self.subTest(args=args):
                result = tool(*args)
                self.assertEqual(result.returncode, 2)
                self.assertIn(b"usage: make_launcher", result.stderr)
                self.assertEqual(result.stdout, b"")


class RefusalTest(ToolTest):
    def assertRefused(self, stub, output, command, message, previous=PREVIOUS):
        """Runs the tool and checks that it refused with the message and
        changed nothing: the output keeps its bytes (or stays absent), the stub
        too, and the folder holds no new file."""
        if previous is not None and not os.path.exists(output):
            write(output, previous)
        before = {name: read(self.path(name)) for name in os.listdir(self.folder)
                  if os.path.isfile(self.path(name))}
        stub_bytes = read(stub) if os.path.isfile(stub) else None
        result = tool(host_path(stub), host_path(output), *command)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(message, result.stderr.decode("utf-8", "replace"))
        after = {name: read(self.path(name)) for name in os.listdir(self.folder)
                 if os.path.isfile(self.path(name))}
        self.assertEqual(after, before, "the folder changed")
        if stub_bytes is not None:
            self.assertEqual(read(stub), stub_bytes)

    def test_output_that_is_the_stub(self):
        stub = self.path(exe("stub"))
        shutil.copy(ARGS.launcher, stub)
        os.mkdir(self.path("sub"))
        os.link(stub, self.path(exe("hard")))
        os.symlink(stub, self.path(exe("soft")))
        outputs = {"same path": stub,
                   "another spelling": os.path.join(self.folder, "sub", "..", exe("stub")),
                   "hard link": self.path(exe("hard")),
                   "symbolic link": self.path(exe("soft"))}
        for name, output in outputs.items():
            with self.subTest(name):
                self.assertRefused(stub, output, ["x"], "is the stub itself", previous=None)

    def test_stub_that_is_not_an_executable_image(self):
        real = read(ARGS.launcher)
        stubs = {
            "text": b"#!/bin/sh\necho not a stub\n",
            "empty": b"",
            "MZ without PE header": b"MZ" + b"\0" * 200,
            "PE header pointer past the end": b"MZ" + b"\0" * 58 + b"\xff\xff\0\0" + b"\0" * 64,
            "PE for x86": crafted_pe(machine=0x014C),
            "PE for ARM64": crafted_pe(machine=0xAA64),
            "PE library": crafted_pe(characteristics=0x2022),
            "PE object, not an image": crafted_pe(characteristics=0x0020),
            "ELF relocatable": crafted_elf(1),
            "ELF core": crafted_elf(4),
            "truncated real stub": real[:0x3C],
        }
        for name, image in stubs.items():
            with self.subTest(name):
                stub = self.path("stub.bin")
                write(stub, image)
                self.assertRefused(stub, self.path(exe("out")), ["x"],
                                   "is not an executable image")

    def test_stub_that_is_already_a_launcher(self):
        made = self.make("first command")
        self.assertRefused(made, self.path(exe("second")), ["x"], "already holds a launch trailer")

    def test_marker_inside_the_stubs_own_image_is_no_trailer(self):
        # Code or data of the stub may hold "#!" and a 0x00 byte by chance;
        # the trailer appended behind the image still wins.
        image = bytearray(read(ARGS.launcher))
        middle = len(image) // 2
        image[middle:middle + 6] = b"#!own\0"
        stub = self.path(exe("stub"))
        write(stub, bytes(image))
        made = self.path(exe("made"))
        result = run(ARGS.make_launcher, [host_path(stub), host_path(made), "--", "prog", "a b"])
        self.assertEqual(result.returncode, 0, result.stderr)
        shown = run(ARGS.make_launcher, ["--show", host_path(made)])
        self.assertEqual(shown.stdout.decode("utf-8").rstrip("\r\n"), 'prog "a b"')

    def test_stub_that_cannot_be_read(self):
        self.assertRefused(self.path("missing"), self.path(exe("out")), ["x"],
                           "cannot read the stub")

    def test_signed_stub_whose_table_is_not_at_the_end(self):
        stub = self.path("signed.bin")
        write(stub, with_certificate(crafted_pe(), extra=b"after the table"))
        self.assertRefused(stub, self.path(exe("out")), ["x"],
                           "certificate table is not at the end")

    def test_command_that_names_no_program(self):
        commands = [[""], [" "], ["\t \t"], ['""'], ['"" x'], [" leading x"], ["--"],
                    ["--", ""], ["--", "", "x"]]
        for command in commands:
            with self.subTest(command=command):
                self.assertRefused(ARGS.launcher, self.path(exe("out")), command,
                                   "names no program")

    def test_command_holding_the_marker(self):
        for command in [["a #! b"], ["#!"], ["--", "prog", "x#!y"], ["--", "p#!", "x"]]:
            with self.subTest(command=command):
                self.assertRefused(ARGS.launcher, self.path(exe("out")), command, '"#!"')

    def test_command_that_is_not_unicode_text(self):
        if ARGS.wine:
            self.skipTest("Windows arguments are UTF-16 text")
        for command in [["prog " + os.fsdecode(b"\xff")], ["--", "prog", os.fsdecode(b"a\xe9")]]:
            with self.subTest(command=command):
                self.assertRefused(ARGS.launcher, self.path(exe("out")), command,
                                   "not valid Unicode text")

    def test_program_holding_a_double_quote(self):
        self.assertRefused(ARGS.launcher, self.path(exe("out")), ["--", 'pro"g', "x"],
                           "holds a double quote")

    def test_unquoted_program_path_with_a_blank(self):
        cases = {
            "C:\\Program Files\\App\\app.exe --flag": '"C:\\Program Files\\App\\app.exe" --flag',
            "C:\\Program Files (x86)\\App\\app.exe": '"C:\\Program Files (x86)\\App\\app.exe"',
            "/opt/Wine App/run x": '"/opt/Wine App/run" x',
        }
        for command, advice in cases.items():
            with self.subTest(command):
                self.assertRefused(ARGS.launcher, self.path(exe("out")), [command],
                                   "seems to go on past a blank")
                result = tool(host_path(ARGS.launcher), host_path(self.path("o")), command)
                self.assertIn(("quote it: " + advice).encode(), result.stderr)

    def test_output_that_cannot_be_written(self):
        self.assertRefused(ARGS.launcher, self.path(os.path.join("no such folder", "out")), ["x"],
                           "cannot make a temporary file", previous=None)
        os.mkdir(self.path("folder"))
        write(self.path(os.path.join("folder", "inside")), b"kept")
        self.assertRefused(ARGS.launcher, self.path("folder"), ["x"], "cannot write",
                           previous=None)
        self.assertEqual(os.listdir(self.path("folder")), ["inside"])


class MakeTest(ToolTest):
    def assertNoTemporaries(self, *expected):
        self.assertEqual(sorted(os.listdir(self.folder)),
                         sorted([os.path.basename(self.child)] + list(expected)))

    def test_raw_form_appends_marker_command_and_terminator(self):
        launcher = self.make("run me")
        self.assertEqual(read(launcher), read(ARGS.launcher) + b"#!run me\0")
        self.assertNoTemporaries(exe("app"))
        if not ARGS.wine:
            self.assertTrue(os.access(launcher, os.X_OK))

    def test_replaces_an_existing_output_whole(self):
        output = self.path(exe("app"))
        write(output, PREVIOUS * 100000)
        self.make("quoted \"program path\" x", output=output)
        self.assertEqual(read(output), read(ARGS.launcher) + b'#!quoted "program path" x\0')
        self.assertNoTemporaries(exe("app"))

    def test_quoted_raw_program_path_with_a_blank_is_kept(self):
        launcher = self.make('"C:\\Program Files\\App\\app.exe" --flag')
        self.assertTrue(read(launcher).endswith(b'#!"C:\\Program Files\\App\\app.exe" --flag\0'))

    def test_argument_form_writes_the_command_line(self):
        cases = [
            (["prog"], b"prog"),
            (["C:\\Program Files\\App\\app.exe", "--flag"], b'"C:\\Program Files\\App\\app.exe" --flag'),
            (["/opt/app/run", "a b", "", 'say "hi"', "dir\\", "a b\\"],
             b'/opt/app/run "a b" "" "say \\"hi\\"" dir\\ "a b\\\\"'),
            (["p", "café"], "p café".encode()),
        ]
        for tokens, command in cases:
            with self.subTest(tokens=tokens):
                launcher = self.make("--", *tokens)
                self.assertEqual(read(launcher), read(ARGS.launcher) + b"#!" + command + b"\0")

    def test_argument_form_tokens_reach_the_child_ahead_of_the_callers(self):
        cases = {
            "blanks": ["a b", "  lead", "trail  ", "tab\there"],
            "empty": ["", "x", ""],
            "quotes": ['say "hi"', '"', '\\"', 'a\\\\"b', "'single'"],
            "backslashes": ["dir\\", "a b\\", "\\\\server\\share\\", "\\"],
            "non-ascii": ["café", "日本語", "emoji \U0001F600"],
            "look-alikes": ["--", "-x", "%PATH%", "$HOME", "*.txt", "#", "!"],
        }
        caller = ["caller arg", "", 'q"uote', "end\\"]
        for name, tokens in cases.items():
            with self.subTest(name):
                launcher = self.make("--", *(self.child_tokens() + tokens))
                self.assertEqual(self.start(launcher, caller),
                                 [host_path(self.report)] + tokens + caller)

    def test_argument_form_program_in_a_folder_with_blanks(self):
        folder = self.path("my programs ü")
        os.mkdir(folder)
        shutil.move(self.child, folder)
        self.child = os.path.join(folder, os.path.basename(self.child))
        launcher = self.make("--", *(self.child_tokens() + ["a b"]))
        self.assertEqual(self.start(launcher, ["c"]), [host_path(self.report), "a b", "c"])

    def test_accepts_each_kind_of_executable_image(self):
        images = {"PE program for x86-64": crafted_pe(),
                  "ELF program": crafted_elf(2),
                  "ELF position-independent program": crafted_elf(3),
                  "big-endian ELF program": crafted_elf(2, big_endian=True)}
        for name, image in images.items():
            with self.subTest(name):
                stub = self.path("stub.bin")
                write(stub, image)
                launcher = self.make("x y", stub=stub)
                self.assertEqual(read(launcher), image + b"#!x y\0")

    def test_signed_stub_loses_its_signature_in_the_copy(self):
        image = crafted_pe() + b"code" * 4
        stub = self.path("signed.bin")
        write(stub, with_certificate(image))
        output = self.path(exe("app"))
        result = tool(host_path(stub), host_path(output), "x y")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"sign the launcher after it is made", result.stderr)
        self.assertEqual(read(output), image + b"#!x y\0")

    def test_really_signed_stub_makes_a_working_launcher(self):
        stub = self.sign(ARGS.launcher, self.path("signed-stub.exe"))
        output = self.path(exe("app"))
        result = tool(host_path(stub), host_path(output), "--", *self.child_tokens())
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"sign the launcher after it is made", result.stderr)
        made = read(output)
        self.assertIsNone(certificate_table(made))
        offset, _ = certificate_table(read(stub))
        self.assertEqual(made[offset:], b"#!" + " ".join(self.child_tokens()).encode() + b"\0")
        self.assertEqual(self.start(output, ["a"]), [host_path(self.report), "a"])


class ShowTest(ToolTest):
    def test_show_prints_the_launch_command(self):
        command = '"' + host_path(self.child) + '" é'
        launcher = self.make(command)
        result = tool("--show", host_path(launcher))
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout.decode("utf-8").rstrip("\r\n"), command)

    def test_show_refuses_a_file_without_trailer(self):
        plain = self.path("plain.bin")
        write(plain, b"MZ no marker here\0#\0!")
        result = tool("--show", host_path(plain))
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(b"no launch trailer", result.stderr)


class CheckTest(ToolTest):
    def check(self, launcher, env=None):
        result = tool("--check", host_path(launcher), env=env)
        return result.returncode, result.stdout.decode("utf-8").splitlines(), result.stderr

    def test_good_launcher(self):
        launcher = self.make("--", *(self.child_tokens() + ["two words", ""]))
        code, lines, _ = self.check(launcher)
        self.assertEqual(code, 0)
        self.assertEqual(lines[1:], ["tokens:",
                                     '  [0] "%s"' % host_path(self.child),
                                     '  [1] "%s"' % host_path(self.report),
                                     '  [2] "two words"', '  [3] ""',
                                     "program: " + host_path(self.child)])
        self.assertTrue(lines[0].startswith("command: "))

    def test_missing_program(self):
        missing = host_path(self.path(exe("missing")))
        code, lines, stderr = self.check(self.make("--", missing, "x"))
        self.assertEqual(code, 1)
        self.assertEqual(lines[-2:], ["program: not found; looked for:", "  " + missing])
        self.assertIn(b"will not be found", stderr)

    def test_no_usable_trailer(self):
        cases = {"no trailer": b"", "cut-off trailer": b"#!prog x",
                 "no program": b"#! prog\0", "empty program": b'#!"" x\0'}
        for name, trailer in cases.items():
            with self.subTest(name):
                launcher = self.path(exe("bad"))
                write(launcher, read(ARGS.launcher) + trailer)
                code, _, stderr = self.check(launcher)
                self.assertEqual(code, 1)
                self.assertRegex(stderr, b"no launch trailer|names no program")

    def test_program_beside_the_launcher(self):
        """Windows looks in the launcher's folder (and adds .exe); the POSIX
        start does not. The launcher's own behaviour agrees with the check."""
        name = os.path.splitext(os.path.basename(self.child))[0]
        launcher = self.make("--", name, host_path(self.report))
        elsewhere = tempfile.mkdtemp(prefix="morvex-elsewhere-")
        self.addCleanup(shutil.rmtree, elsewhere, ignore_errors=True)
        # Wine's own runner needs the host's PATH; the Windows PATH is Wine's.
        env = None if ARGS.wine else dict(os.environ, PATH=elsewhere)
        result = tool("--check", host_path(launcher), env=env, cwd=elsewhere)
        lines = result.stdout.decode("utf-8").splitlines()
        if ARGS.wine:
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(lines[-1], "program: " + host_path(self.child))
            self.assertEqual(self.start(launcher, ["x"], cwd=elsewhere),
                             [host_path(self.report), "x"])
        else:
            self.assertEqual(result.returncode, 1)
            self.assertEqual(lines[-2:], ["program: not found; looked for:",
                                          "  " + os.path.join(elsewhere, name)])
            run(launcher, [], cwd=elsewhere, env=env)
            self.assertIsNone(wait_for(self.report, ABSENCE_WAIT), "a child was started")

    def test_program_on_path(self):
        folder = self.path("bin dir")
        os.mkdir(folder)
        shutil.move(self.child, folder)
        self.child = os.path.join(folder, os.path.basename(self.child))
        name = os.path.splitext(os.path.basename(self.child))[0]
        launcher = self.make("--", name, host_path(self.report))
        if ARGS.wine:  # Wine puts WINEPATH in front of the Windows PATH
            env = dict(os.environ, WINEPATH=windows(folder))
        else:
            env = dict(os.environ, PATH=folder + os.pathsep + os.environ.get("PATH", ""))
        code, lines, stderr = self.check(launcher, env=env)
        self.assertEqual(code, 0, stderr)
        self.assertEqual(lines[-1], "program: " + host_path(self.child))
        self.assertEqual(self.start(launcher, ["y"], env=env), [host_path(self.report), "y"])
        code, lines, _ = self.check(launcher)
        self.assertEqual(code, 1)

    def test_crafted_signed_launcher(self):
        command = " ".join('"%s"' % token for token in self.child_tokens())
        launcher = self.path("signed.bin")
        write(launcher, with_certificate(crafted_pe() + b"#!" + command.encode() + b"\0"))
        code, lines, stderr = self.check(launcher)
        self.assertEqual(code, 0, stderr)
        self.assertEqual(lines[0], "command: " + command)
        self.assertEqual(lines[-1], "program: " + host_path(self.child))

    def test_really_signed_launcher(self):
        launcher = self.make("--", *self.child_tokens())
        signed = self.sign(launcher, self.path(exe("signed")))
        code, lines, stderr = self.check(signed)
        self.assertEqual(code, 0, stderr)
        self.assertEqual(lines[-1], "program: " + host_path(self.child))
        self.assertEqual(self.start(signed, ["z"]), [host_path(self.report), "z"])


def add_arguments(parser):
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--make-launcher", required=True)
    parser.add_argument("--child", required=True)
    parser.add_argument("--version", required=True, help="the version the tool must report")
    parser.add_argument("--wine", help="program that runs Windows programs")


if __name__ == "__main__":
    test_support.main(add_arguments)
