"""The application folder's layout, as the build runs it under Python 2.7:

    python2.7 scripts/application_folder plan --platform windows|posix --runtime FILE
        [--kit KIT | --stdlib-dir DIR] --stdlib IMPORTED|ALL --tk AUTO|ON|OFF
        --base DIR --application FOLDER... [--include NAME...] [--exclude NAME...]
        [--vc90-dir DIR] [--requirements FILE...] [--wheel-dir DIR...]
        [--package-dir DIR...] --epoch SECONDS --output FOLDER --report FILE
        --plan PLAN.json --cmake-file PLAN.cmake
    python2.7 scripts/application_folder stage PLAN.json
    python2.7 scripts/application_folder lay PLAN.json [CHECK_APP_FOLDER]
    python2.7 scripts/application_folder compile FOLDER APPLICATION_FOLDER...

plan (at configure) checks the settings and writes the plan and the CMake
file that configure includes; a refusal goes to standard error, exit 1.
stage (at build) installs the requirements for Windows x86-64 Python 2.7 with
pip into the plan's staging folder. lay (at build) lays out the folder that the plan names, writes the report
and warns of what the folder lacks (CHECK_APP_FOLDER reads its PE files).
compile runs the layout's first step alone: the application's folders
compiled into FOLDER/modules, as the build lays them.
"""
import argparse
import json
import os
import sys

# Run as a folder, this file's folder comes first on sys.path: the package's
# modules import each other as top-level modules.
import byte_code  # noqa: E402
import layout  # noqa: E402
import packages  # noqa: E402
import plan  # noqa: E402


def arguments(argv):
    parser = argparse.ArgumentParser(prog="application_folder plan")
    parser.add_argument("--platform", choices=("windows", "posix"), required=True)
    parser.add_argument("--runtime", required=True)
    parser.add_argument("--kit", default="")
    parser.add_argument("--stdlib-dir", default="")
    parser.add_argument("--stdlib", required=True)
    parser.add_argument("--tk", default="OFF")
    parser.add_argument("--base", default=".")
    parser.add_argument("--application", action="append", default=[])
    parser.add_argument("--include", action="append", default=[])
    parser.add_argument("--exclude", action="append", default=[])
    parser.add_argument("--vc90-dir", default="")
    parser.add_argument("--requirements", action="append", default=[])
    parser.add_argument("--wheel-dir", action="append", default=[])
    parser.add_argument("--package-dir", action="append", default=[])
    parser.add_argument("--epoch", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--report", required=True)
    parser.add_argument("--plan", required=True)
    parser.add_argument("--cmake-file", required=True)
    return parser.parse_args(argv)


def main(argv):
    command = argv[0] if argv else ""
    try:
        if command == "plan":
            plan.write_plan(arguments(argv[1:]))
        elif command == "lay" and len(argv) in (2, 3):
            with open(argv[1]) as f:
                laid = json.load(f)
            layout.lay(laid, argv[2] if len(argv) == 3 else None)
        elif command == "stage" and len(argv) == 2:
            with open(argv[1]) as f:
                staged = json.load(f)
            packages.stage(staged["requirements"], staged["wheel_dirs"], staged["staging"],
                           sys.executable)
        elif command == "compile" and len(argv) >= 3:
            layout.compile_application({"application": argv[2:]}, argv[1], [])
        else:
            sys.stderr.write(__doc__)
            return 2
    except (byte_code.Refused, EnvironmentError) as error:
        sys.stderr.write("%s\n" % error)
        return 1
    return 0


if __name__ == "__main__":
    if sys.version_info[:2] != (2, 7):
        sys.stderr.write("application_folder runs under Python 2.7\n")
        sys.exit(2)
    sys.exit(main(sys.argv[1:]))
