#!/usr/bin/env bash
# Start-up cost of the installed morvex_desktop whose main() returns at
# once, against the same interpreter's own executable running -S with the
# same import and call: wall time with hyperfine, instruction counts with
# callgrind (the steadier figure on a shared machine).
#
#   bench/bootstrapper_startup.sh [BUILD_DIR]     (default: build/default)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build/default}" && pwd)
python_root=$(sed -n 's/^PYTHON27_ROOT:PATH=//p' "$build/CMakeCache.txt")
python=$python_root/bin/python2.7

# shellcheck source=stage_app.sh
. "$source_dir/bench/stage_app.sh" "$build"

# Both run without the machine's PYTHON* variables, from modules/, where the
# reference's -c finds the package through the current folder.
entry='import morvex.desktop.main; morvex.desktop.main.main()'
bootstrapper=(env -i PATH="$PATH" "$app/morvex_desktop")
reference=(env -i PATH="$PATH" "$python" -S -c "$entry")
run() { (cd "$app/modules" && "$@"); }

# The first runs compile the package's .pyc files; measure after them.
run "${bootstrapper[@]}"
run "${reference[@]}"

run hyperfine -N --warmup 10 --runs "${RUNS:-100}" --export-json "$stage/hyperfine.json" \
  -n morvex_desktop "${bootstrapper[*]}" \
  -n "python2.7 -S" "env -i PATH=$PATH $python -S -c '$entry'" >/dev/null

instructions() {
  local command=("$@")
  # valgrind goes between env and the program, so it sees the clean environment.
  run "${command[@]:0:3}" valgrind --tool=callgrind --callgrind-out-file="$stage/callgrind.out" \
    "${command[@]:3}" >/dev/null 2>&1
  sed -n -E '/^(summary|totals): /{s///p;q}' "$stage/callgrind.out"
}
boot_ir=$(instructions "${bootstrapper[@]}")
ref_ir=$(instructions "${reference[@]}")

python3 - "$stage/hyperfine.json" "$boot_ir" "$ref_ir" <<'PY'
import json, sys
path, boot_ir, ref_ir = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
results = {r["command"]: r for r in json.load(open(path))["results"]}
boot, ref = results["morvex_desktop"], results["python2.7 -S"]
print("wall time (hyperfine, mean +- stddev, %d runs):" % len(boot["times"]))
for name, r in (("morvex_desktop", boot), ("python2.7 -S", ref)):
    print("  %-16s %7.2f ms +- %.2f ms (median %.2f ms)"
          % (name, r["mean"] * 1e3, r["stddev"] * 1e3, r["median"] * 1e3))
print("  ratio            %7.3f (medians %.3f)" % (boot["mean"] / ref["mean"],
                                                  boot["median"] / ref["median"]))
print("instructions (callgrind):")
print("  %-16s %12d" % ("morvex_desktop", boot_ir))
print("  %-16s %12d" % ("python2.7 -S", ref_ir))
print("  ratio            %12.3f" % (boot_ir / ref_ir))
PY
