#!/usr/bin/env bash
# Checks that two builds of the same sources give the same bytes: builds the
# windows preset again, from a copy of the sources in another folder and
# with the options of the first build (FIRST, default build/windows, as
# scripts/test-all.sh configures it), makes the ZIP, the installer and the
# MSI of both, and compares morvex_desktop.exe, launcher.exe, a concrete
# launcher, python27.zip, the ZIP, the installer and the MSI byte for byte.
# Prints the SHA-256 of each; exits 1 on any difference.
#
#   bash scripts/check-reproducible.sh [FIRST [AGAIN]]
#
# AGAIN (default build/reproducible) is made anew for the second build.
# The second build takes the first build's time (BUILD/source_date_epoch,
# written by cmake/morvex_source_date_epoch.cmake) as SOURCE_DATE_EPOCH; the
# wall-clock times of the two builds differ anyway. Unsigned builds only: a
# signature differs each time.
set -euo pipefail
cd "$(dirname "$0")/.."
first=${1:-build/windows}
again=${2:-build/reproducible}
if [ ! -f "$first/CMakeCache.txt" ]; then
  echo "check-reproducible: no build in $first: configure and build the windows preset first" >&2
  exit 2
fi
first=$(cd "$first" && pwd)

# The copy: the sources as they are (committed or not), no build folder.
rm -rf "$again"
mkdir -p "$again/source"
git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' file; do
  [ -f "$file" ] && printf '%s\0' "$file"
done | xargs -0 cp --parents -t "$again/source"
# The copy holds no repository: it is given the first build's time. The
# first is brought up to date before (configured again after a commit, it
# takes that commit's time).
cmake --build "$first" --target rebuild_cache >/dev/null
SOURCE_DATE_EPOCH=$(cat "$first/source_date_epoch")
export SOURCE_DATE_EPOCH
echo "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH"))"

# The first build's options, read from its cache.
options=()
for name in CMAKE_BUILD_TYPE MORVEX_WERROR PYTHON27_WINDOWS_DIR MORVEX_BOOTSTRAPPER \
  MORVEX_VC90_RUNTIME_DIR MORVEX_ICON MORVEX_PRODUCT_NAME MORVEX_PUBLISHER MORVEX_APPLICATION_DIRS \
  MORVEX_TK MORVEX_MSI_UPGRADE_CODE; do
  value=$(sed -n "s/^$name:[A-Z]*=//p" "$first/CMakeCache.txt")
  # The sample application stays the copy's own, so a path of the sources
  # that leaked into the byte code would show.
  [ "$value" != "$(sed -n 's/^CMAKE_HOME_DIRECTORY:[A-Z]*=//p' "$first/CMakeCache.txt")/examples/app" ] ||
    value=""
  [ -z "$value" ] || options+=("-D$name=$value")
done
(cd "$again/source" && cmake --preset windows "${options[@]}" >/dev/null)
second=$(cd "$again/source/build/windows" && pwd)

# What ships, and the folder launcher (tests/CMakeLists.txt).
outputs=(launcher/launcher.exe tests/morvex_launchers/folder_launcher.exe)
targets=(launcher folder_launcher)
if [ -f "$first/bootstrapper/morvex_desktop.exe" ]; then
  outputs+=(bootstrapper/morvex_desktop.exe application-folder/python27.zip)
  targets+=(morvex_desktop morvex_application_folder)
fi
# The first build brought up to date too: configured again after a commit,
# it packs with that commit's time.
for build in "$first" "$second"; do
  cmake --build "$build" --parallel 2 --target "${targets[@]}" >/dev/null
done

# The ZIP, the installer and the MSI of each build, made now: at another time.
packages=()
for build in "$first" "$second"; do
  (cd "$build" && cpack -B "$build/reproducible-packages" >/dev/null &&
   cpack -G NSIS -B "$build/reproducible-packages" >/dev/null &&
   cpack -G External -B "$build/reproducible-packages" >/dev/null)
  rm -rf "$build/reproducible-packages/_CPack_Packages"
done
for package in "$first"/reproducible-packages/*.zip "$first"/reproducible-packages/*-setup.exe \
  "$first"/reproducible-packages/*.msi; do
  packages+=("reproducible-packages/$(basename "$package")")
done

status=0
for output in "${outputs[@]}" "${packages[@]}"; do
  if [ ! -f "$first/$output" ] || [ ! -f "$second/$output" ]; then
    echo "MISSING: $output"
    status=1
    continue
  fi
  hash=$(sha256sum <"$first/$output" | cut -d' ' -f1)
  if cmp -s "$first/$output" "$second/$output"; then
    echo "$hash  $output"
  else
    echo "DIFFERS: $output ($(cmp -l "$first/$output" "$second/$output" 2>/dev/null | wc -l) bytes;" \
      "$hash, again $(sha256sum <"$second/$output" | cut -d' ' -f1))"
    status=1
  fi
done
[ "${#packages[@]}" = 3 ] || { echo "FAILED: cpack made ${packages[*]}"; status=1; }
[ $status = 0 ] && echo "=== the same bytes from both builds" || echo "=== the builds differ"
exit $status
