#!/usr/bin/env bash
# Stages an application folder with the sample application and a concrete
# launcher whose trailer starts morvex_desktop, starts the application
# through the launcher, and prints the report the application writes.
#
#   examples/run_sample.sh [BUILD_DIR]
#
# Without BUILD_DIR the default preset is configured and built first. The
# folder is removed afterwards unless MORVEX_KEEP_SAMPLE=1.
set -euo pipefail

examples=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$examples")
if [ $# -ge 1 ]; then
  build=$(cd "$1" && pwd)
else
  build=$source_dir/build/default
  (cd "$source_dir" && cmake --preset default >/dev/null && cmake --build --preset default >/dev/null)
fi

# A space in the folder shows the trailer's quoting at work.
stage=$(mktemp -d "${TMPDIR:-/tmp}/morvex-sample.XXXXXX")
app="$stage/Sample App"
if [ "${MORVEX_KEEP_SAMPLE:-0}" != 1 ]; then trap 'rm -rf "$stage"' EXIT; fi

cmake --install "$build" --prefix "$app" >/dev/null
cp -R "$examples/morvex" "$app/modules/"

# The launcher splits its trailer by Windows command-line rules, so paths
# go in double quotes.
report="$app/report.txt"
"$build/tools/make_launcher" "$build/launcher/launcher" "$app/Sample" \
  "\"$app/morvex_desktop\" \"$report\""

echo "started: \"$app/Sample\" first \"second argument\""
"$app/Sample" first "second argument"

# The launcher does not wait for the application.
for _ in $(seq 100); do
  [ -f "$report" ] && break
  sleep 0.1
done
if [ ! -f "$report" ]; then
  echo "run_sample.sh: no report from the application after 10 s" >&2
  exit 1
fi
cat "$report"
