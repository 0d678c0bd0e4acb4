#!/usr/bin/env bash
# Builds dwarfsift and converts the bundled example, examples/blinky.elf,
# into out/example/blinky.* (with -a, so the S-record file blinky.mot is
# written too); then lists the files it wrote.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
tools/install_build_deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target dwarfsift
mkdir -p out/example
rm -f out/example/blinky.*
status=0
build/dwarfsift examples/blinky.elf -o out/example/blinky -a || status=$?
echo
echo "exit status: $status"
echo "files written:"
ls -l out/example/
