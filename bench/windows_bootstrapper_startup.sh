#!/usr/bin/env bash
# Start-up cost under Wine of the installed Windows morvex_desktop.exe whose
# main() returns at once, against the kit's own python.exe running -S with
# the same import and call; the application folder's sizes; and the time a
# build spends laying the kit's library into the folder.
#
#   bench/windows_bootstrapper_startup.sh [BUILD_DIR]     (default: build/windows)
#   RUNS=N (default 30) timed runs of each program; ZIP_RUNS=N (default 3).
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source_dir/build/windows}
if [ ! -f "$build/bootstrapper/morvex_desktop.exe" ]; then
  echo "no $build/bootstrapper/morvex_desktop.exe: configure with" >&2
  echo "  cmake -S $source_dir -B $build --toolchain $source_dir/cmake/mingw-w64.cmake" \
    "-DPYTHON27_WINDOWS_DIR=<Windows Python 2.7 kit>" >&2
  echo "and build it with: cmake --build $build -j2" >&2
  exit 1
fi
build=$(cd "$build" && pwd)
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
kit=$(cache PYTHON27_WINDOWS_DIR)
host_python=$(cache PYTHON27_HOST_INTERPRETER)

# shellcheck source=stage_app.sh
. "$source_dir/bench/stage_app.sh" "$build"

# Both run without the machine's PYTHON* variables, from modules/, where the
# reference's -c finds the package through the current folder. The kit's
# Lib/ holds sources only and must stay as it is, hence -B for its python.exe
# (the package's .pyc files come from the bootstrapper's first run).
entry='import morvex.desktop.main; morvex.desktop.main.main()'
clean_env="env -i PATH=$PATH HOME=$HOME LANG=C.UTF-8"
wine_run=$build/wine-run
bootstrapper="$clean_env $wine_run $app/morvex_desktop.exe"
reference="$clean_env $wine_run $kit/python.exe -S -B"
run() { (cd "$app/modules" && "$@"); }

# The first run makes the prefix if need be; once its session has ended
# (Wine's own lingers under 2 s), a wineserver that outlives each run, and
# ends by itself a minute after the last, makes the figures compare the
# programs, not Wine's session start (1.5 to 2 s). It exits 2 when a server
# holds the prefix still, which serves as well.
run $bootstrapper
export WINEPREFIX=$build/wine-prefix
timeout 5 wineserver -w || true
timeout 10 wineserver -p60 || [ $? -eq 2 ]
run $reference -c 'import os' ||
  { echo "the kit's python.exe does not find its standard library" >&2; exit 1; }

run hyperfine -N --warmup 3 --runs "${RUNS:-30}" --export-json "$stage/wine.json" \
  -n morvex_desktop.exe "$bootstrapper" \
  -n "python.exe -S" "$reference -c '$entry'" >/dev/null

# Exactly what the build runs to lay the folder, into a folder of the
# benchmark's own.
python3 -c 'import json, sys; plan = json.load(open(sys.argv[1]))
plan.update(output=sys.argv[2] + "/folder", report=sys.argv[2] + "/report.txt")
json.dump(plan, open(sys.argv[2] + "/plan.json", "w"))' "$build/application-folder.json" "$stage"
tool=$(sed -n "s/^MORVEX_HOST_CHECK_APP_FOLDER:[A-Z]*=//p" "$build/CMakeCache.txt")
[ -n "$tool" ] || tool=$build/host-tools/tools/check_app_folder
hyperfine -N --runs "${ZIP_RUNS:-3}" --export-json "$stage/zip.json" \
  -n make_python_zip \
  "$host_python -S -E $source_dir/scripts/application_folder lay $stage/plan.json $tool" >/dev/null

python3 - "$stage" "$app_bytes" "$app/python27.zip" \
  "$app/morvex_desktop.exe" <<'PY'
import json, os, sys
stage, app_bytes, zip_path, exe_path = sys.argv[1:]
def results(name):
    return {r["command"]: r for r in json.load(open(os.path.join(stage, name)))["results"]}
wine = results("wine.json")
boot, ref = wine["morvex_desktop.exe"], wine["python.exe -S"]
print("start-up under Wine (hyperfine, %d runs, median; mean +- stddev):" % len(boot["times"]))
for name, r in (("morvex_desktop.exe", boot), ("python.exe -S", ref)):
    print("  %-20s %8.1f ms   (%.1f +- %.1f ms)"
          % (name, r["median"] * 1e3, r["mean"] * 1e3, r["stddev"] * 1e3))
print("  %-20s %8.3f" % ("ratio of medians", boot["median"] / ref["median"]))
zip_run = results("zip.json")["make_python_zip"]
print("laying the application folder (%d runs):  median %.2f s" % (len(zip_run["times"]), zip_run["median"]))
print("sizes:")
for name, size in (("application folder", int(app_bytes)),
                   ("python27.zip", os.path.getsize(zip_path)),
                   ("morvex_desktop.exe", os.path.getsize(exe_path))):
    print("  %-20s %10d bytes  (%.2f MiB)" % (name, size, size / 2.0 ** 20))
PY
