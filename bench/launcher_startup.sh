#!/usr/bin/env bash
# Whole-process start: a concrete launcher whose child is a trivial program,
# against starting that program directly; and the sizes of the stubs.
#   bench/launcher_startup.sh [BUILD_DIR] [WINDOWS_BUILD_DIR]
set -euo pipefail
build=${1:-build/default}
windows_build=${2:-build/windows}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_launcher" "$build/launcher/launcher" "$work/true-launcher" /bin/true
hyperfine -N --warmup 20 --runs 300 --export-markdown "$work/linux.md" \
  -n direct /bin/true -n launcher "$work/true-launcher"
cat "$work/linux.md"

# Under Wine, when the Windows build is there: report_child without arguments
# ends at once, which makes it the trivial child. Every Windows process start
# under Wine starts a Wine process, so this shows Wine's cost, not Windows'.
if [ -x "$windows_build/tests/report_child.exe" ] && command -v hyperfine >/dev/null; then
  wine_run=$(dirname "$0")/../scripts/wine-run
  child=$(cd "$windows_build/tests" && pwd)/report_child.exe
  "$wine_run" "$windows_build/tools/make_launcher.exe" "$windows_build/launcher/launcher.exe" \
    "$work/child-launcher.exe" "Z:${child//\//\\}"
  hyperfine -N -i --warmup 5 --runs 40 --export-markdown "$work/wine.md" \
    -n "direct (Wine)" "$wine_run $child" -n "launcher (Wine)" "$wine_run $work/child-launcher.exe"
  cat "$work/wine.md"
fi

echo
echo "Sizes:"
stat -c '%n %s bytes' "$build/launcher/launcher"
if [ -f "$windows_build/launcher/launcher.exe" ]; then
  stat -c '%n %s bytes' "$windows_build/launcher/launcher.exe"
fi
