#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test: the Linux build, the
# sanitizer build (ASan + UBSan), the Windows build under Wine and a short
# run of the fuzz targets. Warnings are errors. Ends with a summary of each
# part built and tested or skipped, and exits non-zero on any failure.
#
# The Windows bootstrapper is built against PYTHON27_WINDOWS_DIR, by default
# the shared kit beside the project (../shared/python27-win64). Given a kit,
# a bootstrapper that is not built or not tested is a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-machine.sh

if [ -z "${PYTHON27_WINDOWS_DIR:-}" ] && [ -f ../shared/python27-win64/include/Python.h ]; then
  PYTHON27_WINDOWS_DIR=$(cd ../shared/python27-win64 && pwd)
fi
kit=${PYTHON27_WINDOWS_DIR:-}

status=0
summary=()
note() { summary+=("$1"); }
fail() { summary+=("FAILED: $1"); status=1; }

# Whether a preset's build holds a program and ctest knows a test of it.
built() { [ -f "build/$1/$2" ]; }
# The list is read whole first: under pipefail, grep -q leaving at the first
# match could end ctest with SIGPIPE and fail the check at random.
has_test() {
  local tests
  tests=$(ctest --test-dir "build/$1" -N 2>/dev/null) || return 1
  grep -q ": $2\$" <<<"$tests"
}

for preset in default sanitize windows; do
  echo "=== $preset"
  options=(-DMORVEX_WERROR=ON)
  if [ "$preset" = windows ] && [ -n "$kit" ]; then
    options+=(-DPYTHON27_WINDOWS_DIR="$kit" -DMORVEX_BOOTSTRAPPER=ON)
    # Wine's own build of the Visual C++ 2008 runtime stands in for
    # Microsoft's: the folder is tested as it ships, with the runtime in it.
    vc90=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
    if [ -f "$vc90/msvcr90.dll" ]; then
      options+=(-DMORVEX_VC90_RUNTIME_DIR="$vc90")
    fi
  fi
  passed=0
  if cmake --preset "$preset" "${options[@]}" && cmake --build --preset "$preset"; then
    if ctest --preset "$preset"; then
      passed=1
      echo "=== $preset: passed"
    elif [ "$preset" = windows ] && ctest --preset windows --rerun-failed; then
      # Wine now and then fails to start a program at all (exit 1, nothing on
      # standard error); a test that passes when run again is named here.
      passed=1
      note "windows: a test failed once and passed when run again (see the log above)"
      echo "=== $preset: passed on the second run of the failed tests"
    fi
  fi
  [ $passed = 1 ] || echo "=== $preset: FAILED"
  suffix=""
  [ "$preset" = windows ] && suffix=.exe
  for part in launcher/launcher:launcher_end_to_end tools/make_launcher:make_launcher_tool \
    bootstrapper/morvex_desktop:bootstrapper_e2e; do
    program=${part%%:*}$suffix test=${part#*:} name=$(basename "${part%%:*}")
    if ! built "$preset" "$program"; then
      if [ "$name" = morvex_desktop ] && [ "$preset" = windows ] && [ -z "$kit" ]; then
        note "$preset: $name SKIPPED (no Windows Python 2.7 kit; set PYTHON27_WINDOWS_DIR)"
      else
        fail "$preset: $name not built"
      fi
    elif ! has_test "$preset" "$test"; then
      fail "$preset: $name built but its test $test is missing"
    elif [ $passed = 1 ]; then
      note "$preset: $name built and tested ($test)"
    else
      fail "$preset: $name built; tests failed"
    fi
  done
  [ $passed = 1 ] || status=1
done

# The Windows build again, elsewhere and later: the same bytes.
echo "=== reproducible"
if [ -f build/windows/CMakeCache.txt ]; then
  if bash scripts/check-reproducible.sh build/windows; then
    note "windows: a second build gives the same bytes (scripts/check-reproducible.sh)"
  else
    fail "windows: a second build gives other bytes (scripts/check-reproducible.sh)"
  fi
else
  fail "windows: not configured, so not built again for the same bytes"
fi

echo "=== fuzz"
if bash tests/fuzz/run.sh "${FUZZ_SECONDS:-15}"; then
  note "fuzz: every target ran ${FUZZ_SECONDS:-15} s without a finding"
else
  fail "fuzz: a target failed"
fi

echo
echo "=== Summary"
[ -n "$kit" ] && echo "Windows Python 2.7 kit: $kit"
printf '  %s\n' "${summary[@]}"
[ $status = 0 ] && echo "=== all passed" || echo "=== FAILED"
exit $status
