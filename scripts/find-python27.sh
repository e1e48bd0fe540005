#!/usr/bin/env bash
# Prints the prefix of the build host's Python 2.7, the one morvex_desktop
# embeds on POSIX and the build compiles a Windows kit's Lib/ with, or exits
# 1 when there is none. PYTHON27_ROOT, when set, is that prefix. Otherwise
# the first prefix holding include/python2.7/Python.h among pyenv's 2.7
# versions (newest first) under $PYENV_ROOT, ~/.pyenv and `pyenv root`, and
# the prefix of python2.7 on PATH.
set -uo pipefail
if [ -n "${PYTHON27_ROOT:-}" ]; then
  echo "$PYTHON27_ROOT"
  exit 0
fi
candidates=()
for root in "${PYENV_ROOT:-}" "${HOME:+$HOME/.pyenv}" "$(pyenv root 2>/dev/null)"; do
  [ -n "$root" ] || continue
  while IFS= read -r version; do
    candidates+=("$version")
  done < <(compgen -G "$root/versions/2.7*" | sort -rV)
done
# A pyenv shim fails here unless a 2.7 version is selected.
if prefix=$(python2.7 -c 'import sys; print(sys.prefix)' 2>/dev/null); then
  candidates+=("$prefix")
fi
for prefix in "${candidates[@]}"; do
  if [ -f "$prefix/include/python2.7/Python.h" ]; then
    echo "$prefix"
    exit 0
  fi
done
exit 1
