#!/bin/sh
# Usage: check_release.sh BUILD_DIR OBJDUMP [play]
# Checks the zips that cpack wrote in BUILD_DIR. The release: one top folder
# holding a stripped ring2osc.exe that carries its version, ring2osc-tap.exe,
# README.md, the docs and the examples as the source tree has them, and no
# VantrelDll.dll. The simulated SDK: a zip of its own. With "play", the
# simulated DLL then goes beside the exe and the per-kind table plays through
# it under Wine.
set -eu
release=$(basename "$(ls "$1"/ring2osc-*-win??.zip)" .zip)
version=$(echo "$release" | cut -d- -f2)
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT

source=$(cd "$(dirname "$0")/.." && pwd)
expected=$(
  cd "$source"
  printf '%s\n' README.md ring2osc.exe ring2osc-tap.exe
  find docs examples -type d -printf '%p/\n' -o -type f -print
)
test "$(unzip -Z1 "$1/$release.zip" | sort)" = "$(echo "$expected" | sed "s|^|$release/|" | sort)"
test "$(unzip -Z1 "$1/$release-simulator.zip")" = "$release/VantrelDll.dll"
unzip -q "$1/$release.zip" -d "$unpacked"
exe=$unpacked/$release/ring2osc.exe
for program in "$exe" "$unpacked/$release/ring2osc-tap.exe"; do
  if "$2" -h "$program" | grep -q debug; then
    echo "$program is not stripped" >&2
    exit 1
  fi
done
strings -el "$exe" | grep -qx "$version"
if [ $# -ge 3 ]; then
  unzip -q "$1/$release-simulator.zip" -d "$unpacked"
  python3 "$source/tests/process_test.py" "wine $exe" unused every_kind
fi
echo "$release: as released"
