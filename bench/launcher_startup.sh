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

echo
echo "Sizes:"
stat -c '%n %s bytes' "$build/launcher/launcher"
if [ -f "$windows_build/launcher/launcher.exe" ]; then
  stat -c '%n %s bytes' "$windows_build/launcher/launcher.exe"
fi
