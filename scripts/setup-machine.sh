#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine of
# this kind: the host tools in case the image lacks one and, unless
# --host-only is given, the MinGW-w64 cross compiler and Wine for the Windows
# build. Only missing packages are installed, so a second run costs nothing.
set -euo pipefail
packages=(cmake g++ make python3 libgtest-dev libbenchmark-dev hyperfine valgrind clang libclang-rt-14-dev)
if [ "${1:-}" != --host-only ]; then
  packages+=(g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 wine wine64 icoutils osslsigncode openssl nsis
    wixl msitools xvfb xauth x11-apps xdotool imagemagick python3-pefile)
fi
missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) || status=""
  [[ $status == *"ok installed" ]] || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get -o DPkg::Lock::Timeout=900 install -y -q "${missing[@]}"
fi
if ! python27=$(bash "$(dirname "$0")/find-python27.sh"); then
  echo "Python 2.7 (shared build) not found under pyenv's versions or on PATH; set PYTHON27_ROOT." >&2
  exit 1
fi
if [ ! -f "$python27/include/python2.7/Python.h" ]; then
  echo "Python 2.7 (shared build) not found under $python27; set PYTHON27_ROOT." >&2
  exit 1
fi
