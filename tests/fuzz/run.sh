#!/usr/bin/env bash
# Builds the fuzz preset when needed and runs every fuzz target for SECONDS
# (default 20) each, one after the other. Each target keeps its corpus in
# build/fuzz/corpus/<target> (seeded from tests/fuzz/seeds/<target>) and
# writes a failing input to build/fuzz/artifacts/. Prints a line per target;
# exits non-zero when a build or a target fails.
#
#   bash tests/fuzz/run.sh [SECONDS]
set -uo pipefail
seconds=${1:-20}
case $seconds in '' | *[!0-9]*)
  echo "usage: $0 [SECONDS]" >&2
  exit 2
  ;;
esac
cd "$(dirname "$0")/../.."
source=$PWD
build=$source/build/fuzz
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is missing (bash scripts/setup-machine.sh installs it)" >&2
  exit 1
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset fuzz -DMORVEX_WERROR=ON && cmake --build --preset fuzz; } >"$log" 2>&1; then
  cat "$log"; echo
  echo "fuzz: build FAILED" >&2
  exit 1
fi

# The interpreter's own memory is never freed (it is never finalised), so its
# allocations are not leaks.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$source/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
for target in fuzz_trailer_search fuzz_pe_image fuzz_command_line fuzz_search_path fuzz_string_literal; do
  program=$build/tests/fuzz/$target
  if [ ! -x "$program" ]; then
    echo "$target: not built (see the configure output), skipped"
    continue
  fi
  corpus=$build/corpus/$target
  mkdir -p "$corpus" "$build/artifacts"
  seeds=()
  [ -d "$source/tests/fuzz/seeds/$target" ] && seeds=("$source/tests/fuzz/seeds/$target")
  started=$(date +%s)
  "$program" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" "$corpus" "${seeds[@]}" >"$log" 2>&1
  result=$?
  elapsed=$(($(date +%s) - started))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  files=$(find "$corpus" -type f | wc -l)
  if [ $result -eq 0 ]; then
    echo "$target: passed, ${runs:-?} runs in ${elapsed} s (${rate:-?}/s), corpus $files inputs"
  else
    tail -60 "$log"
    artifact=$(ls -t "$build/artifacts/$target-"* 2>/dev/null | head -1)
    echo "$target: FAILED (exit $result) after ${runs:-?} runs in ${elapsed} s;" \
      "reproduce with: $program ${artifact:-<no input written>}"
    status=1
  fi
done
exit $status
