#!/usr/bin/env python3
"""Runs a launcher that the build made with morvex_add_launcher and checks
that report_child, the program of its trailer, received the trailer's fixed
tokens followed by the launcher's own arguments, each exactly.

    built_launcher_test.py LAUNCHER REPORT TOKENS_FILE [--wine RUNNER]

REPORT is where the child writes (the trailer's first token names it);
TOKENS_FILE holds the trailer's other tokens, one a line, as the build gave
them to morvex_add_launcher.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

from test_support import wait_for

OWN_ARGUMENTS = ["own", "with blank", "", 'quote " inside']


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("launcher")
    parser.add_argument("report")
    parser.add_argument("tokens")
    parser.add_argument("--wine")
    args = parser.parse_args()
    with open(args.tokens, encoding="utf-8") as f:
        tokens = f.read().split("\n")[:-1]
    if os.path.exists(args.report):
        os.remove(args.report)

    command = ([args.wine] if args.wine else []) + [args.launcher] + OWN_ARGUMENTS
    # Output to a file: under Wine the child would inherit a pipe and hold it.
    with tempfile.TemporaryFile() as out:
        status = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                timeout=120).returncode
        out.seek(0)
        output = out.read().decode(errors="replace")
    if status != 0:
        sys.exit("the launcher exited with %d: %s" % (status, output))
    report = wait_for(args.report)
    if report is None:
        sys.exit("the child wrote no report to " + args.report)
    expected = tokens + OWN_ARGUMENTS
    received = report["args"][2:]
    if received != expected:
        sys.exit("the child received %r\nexpected            %r" % (received, expected))
    print("the child received %d tokens as given: %r" % (len(received), received))


if __name__ == "__main__":
    main()
