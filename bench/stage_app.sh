# Sourced by the start-up benchmarks: stages the application folder of the
# build in "$1" under a temporary folder (removed on exit) as $app, with a
# package morvex.desktop.main whose main() returns at once. $stage is the
# temporary folder, for the benchmark's own files.
stage=$(mktemp -d "${TMPDIR:-/tmp}/morvex-bench.XXXXXX")
trap 'rm -rf "$stage"' EXIT
app=$stage/app
cmake --install "$1" --prefix "$app" --component runtime >/dev/null
app_bytes=$(du -sb "$app" | cut -f1)
package=$app/modules/morvex/desktop
mkdir -p "$package"
: >"$app/modules/morvex/__init__.py"
: >"$package/__init__.py"
printf 'def main():\n    pass\n' >"$package/main.py"
