#!/usr/bin/env bash
# Installs the application folder, which carries the sample application
# (examples/app, compiled by the build), adds the concrete launcher "Sample"
# that the build made (examples/CMakeLists.txt), starts the application
# through the launcher, and prints the report the application writes.
#
#   examples/run_sample.sh [BUILD_DIR]
#
# Without BUILD_DIR the default preset is configured and built first. The
# launcher's trailer names the folder BUILD_DIR/sample/Sample App, so that is
# where the application goes (the space shows the trailer's quoting at work).
# It is removed afterwards unless MORVEX_KEEP_SAMPLE=1.
set -euo pipefail

examples=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$examples")
if [ $# -ge 1 ]; then
  build=$(cd "$1" && pwd)
else
  build=$source_dir/build/default
  (cd "$source_dir" && cmake --preset default >/dev/null && cmake --build --preset default >/dev/null)
fi

launcher="$build/examples/morvex_launchers/Sample"
if [ ! -f "$launcher" ]; then
  echo "run_sample.sh: $build has no Sample launcher (no morvex_desktop in this build?)" >&2
  exit 1
fi
app="$build/sample/Sample App"
rm -rf "$app"
if [ "${MORVEX_KEEP_SAMPLE:-0}" != 1 ]; then trap 'rm -rf "$app"' EXIT; fi

cmake --install "$build" --prefix "$app" --component runtime >/dev/null
cp "$launcher" "$app/Sample"
report="$app/report.txt"
echo "launch command: $("$build/tools/make_launcher" --show "$app/Sample")"

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
