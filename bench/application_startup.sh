#!/usr/bin/env bash
# Start of an installed application of about 250 generated modules (3 MB of
# source) under Wine: the first start of a fresh folder against its third,
# with the byte code the build makes (scripts/application_folder) and
# with the sources alone (what copying the package in by hand gave: the
# first start compiles and writes .pyc files into the folder).
#
#   bench/application_startup.sh [BUILD_DIR]     (default: build/windows)
#   ROUNDS=N (default 5) fresh folders of each kind, each started 3 times.
# Figures: docs/benchmarks.md.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build/windows}" && pwd)
if [ ! -f "$build/bootstrapper/morvex_desktop.exe" ]; then
  echo "no $build/bootstrapper/morvex_desktop.exe: build the windows preset first" >&2
  exit 1
fi
host_python=$(sed -n 's/^PYTHON27_HOST_INTERPRETER:[A-Z]*=//p' "$build/CMakeCache.txt")

# shellcheck source=stage_app.sh
. "$source_dir/bench/stage_app.sh" "$build"
rm -rf "$app/modules"

# Wine's session (its wineserver and services) ends a moment after the last
# Windows program, and the next start pays for a new one: a program kept
# waiting meanwhile makes every start, first or third, a start of the
# application alone.
export WINEPREFIX=$build/wine-prefix
(sleep 900 | WINE_RUN_PREFIX=$WINEPREFIX "$build/wine-run" cmd /c pause) >/dev/null 2>&1 &
keeper=$!
trap 'pkill -P $keeper; rm -rf "$stage"' EXIT
sleep 3

python3 - "$stage" "$app" "$build/wine-run" "$host_python" "$source_dir" "${ROUNDS:-5}" <<'PY'
import os, shutil, statistics, subprocess, sys, time
stage, app, wine_run, python2, source_dir, rounds = sys.argv[1:]
rounds = int(rounds)

# The application: 250 modules of some 12 KB each, imported by main().
source = os.path.join(stage, "source")
package = os.path.join(source, "morvex", "desktop")
os.makedirs(os.path.join(package, "parts"))
for name in ("morvex/__init__.py", "morvex/desktop/__init__.py", "morvex/desktop/parts/__init__.py"):
    open(os.path.join(source, name), "w").close()
body = "".join(
    "class Part%d(object):\n    '''Part %d of the module.'''\n\n"
    "    def __init__(self, value=%d):\n        self.value = value * 2 + len('%s')\n\n"
    "    def total(self, items):\n        result = 0\n        for item in items:\n"
    "            if item %% 3 == %d:\n                result += item * self.value\n"
    "            else:\n                result -= item\n        return result\n\n\n"
    % (i, i, i, "x" * 40, i % 3) for i in range(30))
modules = 250
for i in range(modules):
    with open(os.path.join(package, "parts", "part%03d.py" % i), "w") as f:
        f.write(body)
with open(os.path.join(package, "main.py"), "w") as f:
    f.write("".join("import morvex.desktop.parts.part%03d\n" % i for i in range(modules)))
    f.write("\ndef main():\n    pass\n")
source_bytes = sum(os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk(source) for n in ns)

# The application's step of the build's layout, alone.
layout = os.path.join(source_dir, "scripts", "application_folder")
subprocess.run([python2, "-S", "-E", "-B", layout, "compile", os.path.join(stage, "laid"), source],
               check=True)
compiled = os.path.join(stage, "laid", "modules")

def start(folder):
    begin = time.perf_counter()
    code = subprocess.run([wine_run, os.path.join(folder, "morvex_desktop.exe")],
                          env={"PATH": os.environ["PATH"], "HOME": os.environ.get("HOME", "/"),
                               "WINE_RUN_PREFIX": os.environ["WINEPREFIX"]},
                          stdin=subprocess.DEVNULL).returncode
    if code != 0:
        sys.exit("the application ended with %d" % code)
    return time.perf_counter() - begin

times = {}
for kind, modules_from in (("byte code from the build", compiled), ("source only", source)):
    for round_ in range(rounds):
        folder = os.path.join(stage, "run")
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(app, folder)
        shutil.copytree(modules_from, os.path.join(folder, "modules"))
        for n, seconds in enumerate(start(folder) for _ in range(3)):
            times.setdefault((kind, n), []).append(seconds)

print("application of %d modules, %.1f MB of source; %d fresh folders each, median wall time:"
      % (modules + 3, source_bytes / 1e6, rounds))
for kind in ("byte code from the build", "source only"):
    first, third = (statistics.median(times[(kind, n)]) for n in (0, 2))
    print("  %-26s first %6.0f ms   third %6.0f ms   first/third %.3f"
          % (kind, first * 1e3, third * 1e3, first / third))
PY
