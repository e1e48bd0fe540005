#!/usr/bin/env bash
# Checks a Windows program as built: GUI subsystem, only system DLLs imported,
# an "asInvoker" manifest as resource 1 (with an icon group when asked), and
# its version information (read by Debian's python3-pefile).
#   check_windows_binary.sh PROGRAM.exe NAME [--icon] VERSION PRODUCT PUBLISHER DESCRIPTION
set -u
exe=$1 name=$2
shift 2
icon=""
if [ "${1:-}" = --icon ]; then icon=--icon; shift; fi
version=$1 product=$2 publisher=$3 description=$4
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi; }
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
dlls=$(grep 'DLL Name' <<<"$headers" | awk '{print toupper($3)}' | sort -u | tr '\n' ' ')
check "$name is a GUI program" 'grep -q "Subsystem.*(Windows GUI)" <<<"$headers"'
check "$name imports only system DLLs ($dlls)" \
  '! grep -qvE "^(KERNEL32|MSVCRT|SHELL32|USER32|PYTHON27)\.DLL$" <<<"$(tr " " "\n" <<<"$dlls" | grep .)"'
resources=$(wrestool -l "$exe")
check "$name has the manifest as resource 1" 'grep -q -- "--type=24 --name=1 " <<<"$resources"'
manifest=$(wrestool -x --raw --type=24 --name=1 "$exe")
check "$name asks for asInvoker without UI access" \
  'grep -q "level=\"asInvoker\" uiAccess=\"false\"" <<<"$manifest"'
check "$name manifest holds nothing but the execution level" \
  '! grep -qiE "compatibility|dpiAware|dependentAssembly" <<<"$manifest"'
# The fixed part holds the version as four numbers, the strings as given.
file=$(basename "$exe")
numbers=$version
while [ "$(tr -cd . <<<"$numbers")" != ... ]; do numbers=$numbers.0; done
info=$(/usr/bin/python3 "$(dirname "$0")/version_info.py" "$exe")
for field in "FixedFileVersion=$numbers" "FixedProductVersion=$numbers" "FileVersion=$version" \
  "ProductVersion=$version" "ProductName=$product" "CompanyName=$publisher" \
  "FileDescription=$description" "OriginalFilename=$file" "InternalName=${file%.exe}"; do
  check "$name version information: $field" 'grep -qFx -- "$field" <<<"$info"'
done
copyright=$(grep '^LegalCopyright=' <<<"$info")
check "$name version information: a copyright of $publisher ($copyright)" \
  '[[ "$copyright" == "LegalCopyright=Copyright (C) "[0-9][0-9][0-9][0-9]" $publisher" ]]'
types=$(sed -n 's/^--type=\([0-9]*\) .*/\1/p' <<<"$resources" | sort -un | tr '\n' ' ')
if [ "$icon" = --icon ]; then
  check "$name imports python27.dll" 'grep -q "PYTHON27.DLL" <<<"$dlls"'
  check "$name has the icon group IDI_ICON1" 'grep -q -- "--type=14 --name=.IDI_ICON1." <<<"$resources"'
  group=$(mktemp --suffix=.ico)
  wrestool -x --type=14 --name=IDI_ICON1 "$exe" -o "$group" 2>/dev/null
  images=$(icotool -l "$group" 2>/dev/null | sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=\([0-9]*\).*/\1x\2x\3/p' | sort | tr '\n' ' ')
  rm -f "$group"
  check "$name icon group holds 16 and 32 px images of 32 bpp ($images)" '[ "$images" = "16x16x32 32x32x32 " ]'
  check "$name holds icons, the manifest and the version, nothing else (types $types)" \
    '[ "$types" = "3 14 16 24 " ]'
else
  check "$name has no icon" '! grep -q -- "--type=14" <<<"$resources"'
  check "$name holds the manifest and the version, nothing else (types $types)" \
    '[ "$types" = "16 24 " ]'
fi
[ $fail = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
