#!/usr/bin/env python3
"""The Windows version rule (cmake/morvex_windows_version.cmake) as configure
and cpack apply it: the versions the programs, the setup program and a
Windows Installer package can all carry, and the refusals, which name where
the version came from.

    windows_version_test.py CMAKE MORVEX_WINDOWS_VERSION.cmake
"""
import os
import subprocess
import sys
import tempfile
import unittest

CMAKE, MODULE = sys.argv[1:3]

ACCEPTED = [
    ("1", "1;0;0;0"),
    ("1.1.0", "1;1;0;0"),
    ("0.9", "0;9;0;0"),
    ("255.255.65535.65535", "255;255;65535;65535"),
    ("2.0.1234", "2;0;1234;0"),
]
REFUSED = [
    "",
    "1.2.0-rc1",        # text after the numbers fits none of the three
    "v1.2",
    "1..2",
    "1.2.3.4.5",
    "256.0.0",          # a package's ProductVersion holds at most 255 here
    "1.256",
    "1.0.65536",
    "1.0.0.65536",
    "70000.1.0",        # once taken by the setup program as 4464.1.0.0
    "99999999999999999999999.0",
]


def apply(version):
    with tempfile.TemporaryDirectory() as folder:
        script = os.path.join(folder, "apply.cmake")
        with open(script, "w") as f:
            f.write('include("%s")\n'
                    'morvex_windows_version(numbers "${VERSION}" SOME_VARIABLE)\n'
                    'message(STATUS "numbers=${numbers}")\n' % MODULE)
        return subprocess.run([CMAKE, "-DVERSION=" + version, "-P", script],
                              capture_output=True, text=True)


class WindowsVersionTest(unittest.TestCase):
    def test_versions_every_output_carries(self):
        for version, numbers in ACCEPTED:
            with self.subTest(version=version):
                result = apply(version)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn("numbers=" + numbers, result.stdout)

    def test_versions_refused_with_the_variable_named(self):
        for version in REFUSED:
            with self.subTest(version=version):
                result = apply(version)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn("SOME_VARIABLE=" + version + ":", result.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
