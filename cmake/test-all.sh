#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test: the Linux build, the
# sanitizer build (ASan + UBSan) and the Windows build under Wine. Warnings
# are errors. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash cmake/setup-machine.sh
status=0
for preset in default sanitize windows; do
  echo "=== $preset"
  if cmake --preset "$preset" -DMORVEX_WERROR=ON && cmake --build --preset "$preset" &&
    ctest --preset "$preset"; then
    echo "=== $preset: passed"
  else
    echo "=== $preset: FAILED"
    status=1
  fi
done
exit $status
