#!/usr/bin/env python3
"""Runs a launcher that the build made with morvex_add_launcher and checks
that report_child, the program of its trailer, received the trailer's fixed
tokens followed by the launcher's own arguments, each exactly.

    built_launcher_test.py --launcher LAUNCHER --report REPORT --tokens TOKENS_FILE
                           [--wine RUNNER]

REPORT is where the child writes (the trailer's first token names it);
TOKENS_FILE holds the trailer's other tokens, one a line, as the build gave
them to morvex_add_launcher.
"""
import os
import unittest

import test_support
from test_support import ARGS, wait_for

OWN_ARGUMENTS = ["own", "with blank", "", 'quote " inside']


class BuiltLauncherTest(unittest.TestCase):
    def test_child_receives_the_trailer_tokens_then_the_own_arguments(self):
        with open(ARGS.tokens, encoding="utf-8") as f:
            tokens = f.read().split("\n")[:-1]
        if os.path.exists(ARGS.report):
            os.remove(ARGS.report)
        result = test_support.run(ARGS.launcher, OWN_ARGUMENTS)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        report = wait_for(ARGS.report)
        self.assertIsNotNone(report, "the child wrote no report to " + ARGS.report)
        self.assertEqual(report["args"][2:], tokens + OWN_ARGUMENTS)


def add_arguments(parser):
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--report", required=True)
    parser.add_argument("--tokens", required=True)
    parser.add_argument("--wine")


if __name__ == "__main__":
    test_support.main(add_arguments)
