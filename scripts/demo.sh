#!/usr/bin/env bash
# Builds the programs and shows a concrete launcher at work: it starts the
# sample application through the bootstrapper and prints the application's
# report.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-machine.sh --host-only
cmake --preset default >/dev/null
cmake --build --preset default
if [ -f build/default/examples/morvex_launchers/Sample ]; then
  exec examples/run_sample.sh build/default
fi
# Without the bootstrapper: a concrete launcher starts the reporting child.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp build/default/tests/report_child "$work/child"
build/default/tools/make_launcher build/default/launcher/launcher "$work/demo" \
  "\"$work/child\" \"$work/report.json\" from-trailer"
echo "Launch command: $(build/default/tools/make_launcher --show "$work/demo")"
"$work/demo" "an argument with spaces" "" 'quote " inside'
for _ in $(seq 100); do [ -f "$work/report.json" ] && break; sleep 0.05; done
echo "The child received:"
python3 -m json.tool "$work/report.json"
