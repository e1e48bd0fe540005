#!/usr/bin/env bash
# What MORVEX_STDLIB costs and saves: the application folder (without the
# Visual C++ runtime's copies, which depend on where they come from), its
# ZIP and its setup program, for the sample and for an application that
# imports only os and sys, with IMPORTED against ALL; and the installed
# sample's first start under Wine with each (a report file, no window).
#
#   bench/folder_sizes.sh [BUILD_DIR]     (default: build/windows, for its settings)
#   ROUNDS=N (default 5) fresh folders started once each.
# Builds in BUILD_DIR/../sizes. Figures: docs/benchmarks.md.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
first=$(cd "${1:-$source_dir/build/windows}" && pwd)
build=$(dirname "$first")/sizes
stage=$(mktemp -d)
setting() { sed -n "s/^$1:[A-Z]*=//p" "$first/CMakeCache.txt"; }
options=()
for name in PYTHON27_WINDOWS_DIR MORVEX_VC90_RUNTIME_DIR; do
  options+=("-D$name=$(setting "$name")")
done

mkdir -p "$stage/os-sys/morvex/desktop"
touch "$stage/os-sys/morvex/__init__.py" "$stage/os-sys/morvex/desktop/__init__.py"
printf 'import os\nimport sys\n\n\ndef main():\n    sys.stdout.write(os.name)\n' \
  >"$stage/os-sys/morvex/desktop/main.py"

export WINEPREFIX=$first/wine-prefix
(sleep 1800 | WINE_RUN_PREFIX=$WINEPREFIX "$first/wine-run" cmd /c pause) >/dev/null 2>&1 &
keeper=$!
trap 'pkill -P $keeper; rm -rf "$stage"' EXIT

printf '%-11s %-9s %12s %12s %12s\n' application stdlib folder zip setup
for application in sample os-sys; do
  folders=$source_dir/examples/app
  [ "$application" = sample ] || folders=$stage/os-sys
  for stdlib in IMPORTED ALL; do
    cmake --preset windows -B "$build" "${options[@]}" -DMORVEX_BOOTSTRAPPER=ON -DMORVEX_TESTS=OFF \
      -DMORVEX_APPLICATION_DIRS="$folders" -DMORVEX_STDLIB="$stdlib" >/dev/null
    cmake --build "$build" -j2 >/dev/null
    folder=$stage/$application-$stdlib
    cmake --install "$build" --prefix "$folder" --component runtime >/dev/null
    bytes=$(find "$folder" -path '*Microsoft.VC90.CRT*' -prune -o -type f -printf '%s\n' |
      awk '{ s += $1 } END { print s }')
    (cd "$build" && cpack -B "$stage/packages" >/dev/null && cpack -G NSIS -B "$stage/packages" >/dev/null)
    zip=$(stat -c %s "$stage"/packages/*.zip)
    setup=$(stat -c %s "$stage"/packages/*-setup.exe)
    rm -rf "$stage/packages"
    printf '%-11s %-9s %12d %12d %12d\n' "$application" "$stdlib" "$bytes" "$zip" "$setup"
  done
done

# Third-party packages: what modules/ holds (their sources for tracebacks
# aside) of an application of pywin32, psutil, PyYAML and six from the shared
# wheels, against those wheels unpacked.
wheels=$(cd "$source_dir/../shared/python-packages-win64/wheels" 2>/dev/null && pwd || true)
if [ -n "$wheels" ]; then
  mkdir -p "$stage/pkgs/morvex/desktop"
  touch "$stage/pkgs/morvex/__init__.py" "$stage/pkgs/morvex/desktop/__init__.py"
  printf 'import win32api, win32con, win32gui, pywintypes, win32com.client
import psutil, yaml, six


def main():
    pass
' \
    >"$stage/pkgs/morvex/desktop/main.py"
  printf 'pywin32==224\npsutil==5.6.2\nPyYAML==3.13\nsix==1.16.0\n' >"$stage/requirements.txt"
  cmake --preset windows -B "$build" "${options[@]}" -DMORVEX_BOOTSTRAPPER=ON -DMORVEX_TESTS=OFF \
    -DMORVEX_APPLICATION_DIRS="$stage/pkgs" -DMORVEX_STDLIB=IMPORTED \
    -DMORVEX_REQUIREMENTS="$stage/requirements.txt" -DMORVEX_WHEEL_DIRS="$wheels" >/dev/null
  cmake --build "$build" -j2 >/dev/null
  python3 - "$build/application-folder/modules" "$wheels" <<'PY'
import os, sys, zipfile
modules, wheels = sys.argv[1:]
laid = sum(os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk(modules)
           if not os.path.relpath(d, modules).startswith("python-source") for n in ns)
unpacked = sum(info.file_size for name in os.listdir(wheels) if name.endswith(".whl")
               for info in zipfile.ZipFile(os.path.join(wheels, name)).infolist())
print("packages: modules/ %d bytes (sources aside) against %d bytes of wheels unpacked (%.2f)"
      % (laid, unpacked, float(laid) / unpacked))
PY
  cmake -B "$build" -DMORVEX_REQUIREMENTS= -DMORVEX_WHEEL_DIRS= >/dev/null
fi

# The sample's first start from fresh copies, the two folders taking turns,
# so that whatever else the machine does falls on both alike.
python3 - "$first/wine-run" "$stage" "${ROUNDS:-5}" <<'PY'
import shutil, statistics, subprocess, sys, time
wine_run, stage, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
times = {"IMPORTED": [], "ALL": []}
for index in range(rounds):
    for stdlib in times:
        fresh = "%s/fresh-%s-%d" % (stage, stdlib, index)
        shutil.copytree("%s/sample-%s" % (stage, stdlib), fresh)
        began = time.monotonic()
        subprocess.run([wine_run, fresh + "/morvex_desktop.exe", "Z:" + stage.replace("/", "\\") + "\\r.txt"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times[stdlib].append(time.monotonic() - began)
        shutil.rmtree(fresh)
for stdlib, spans in times.items():
    print("sample %-9s first start: median %.0f ms (%s)" % (
        stdlib, statistics.median(spans) * 1e3, ", ".join("%.0f" % (t * 1e3) for t in spans)))
PY
