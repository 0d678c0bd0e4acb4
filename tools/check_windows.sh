#!/usr/bin/env bash
# Builds the Windows executable with MinGW-w64 and runs it under wine64 on
# the bundled example and every committed test input (with -a), the zlib
# and GNU .zdebug compressed twins included; every file
# it writes, its console output and its exit status must equal the Linux
# build's, apart from the echoed command line. Needs the Debian packages
# g++-mingw-w64-x86-64-posix, libz-mingw-w64-dev and wine64
# (tools/install_build_deps.sh --tests installs them) and a Linux build in
# build/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
# Debian's wine64 package keeps the loader out of PATH.
wine=$(command -v wine64 || true)
[[ -n $wine ]] || wine=/usr/lib/wine/wine64
[[ -x $wine ]] || { echo "wine64 not found (Debian package wine64)" >&2; exit 1; }
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target dwarfsift
linux=$top/build/dwarfsift
windows=$top/build-mingw/dwarfsift.exe
[[ -x $linux ]] || { echo "no Linux build at $linux" >&2; exit 1; }

export WINEPREFIX=$top/build-mingw/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The first start of a new prefix sets it up and says so on the console.
"$wine" "$windows" --version >/dev/null 2>&1 || true
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Both runs work in their own copy of the input's folder, so that the echo
# lines differ only in the program's name.
run() {
    local tool=$1 elf=$2 dir=$3 status=0
    mkdir -p "$dir"
    cp "$elf" "$dir/in.elf"
    (cd "$dir" && $tool in.elf -a >console.txt 2>&1) || status=$?
    echo "status $status" >>"$dir/console.txt"
    rm -f "$dir/in.elf"
}

# The files without their echo line; the console text also without CRs,
# which a Windows console stream may add, and without the milliseconds each
# unit took.
masked() {
    if [[ $(basename "$1") == console.txt ]]; then
        grep -av '^/usage: ' "$1" | tr -d '\r' | sed -E 's/time\[ *[0-9]+ms\]/time[]/'
    else
        grep -av '^/usage: ' "$1"
    fi
}

failed=0 count=0
# The compressed twins too, but not the zstd ones: Debian has no zstd for
# MinGW, so the Windows build says it cannot read them.
for elf in examples/*.elf tests/data/*.elf tests/data/compressed/*.zlib*.elf; do
    stem=$(basename "$elf" .elf)
    run "$linux" "$elf" "$scratch/linux/$stem"
    run "$wine $windows" "$elf" "$scratch/windows/$stem"
    if [[ $(ls "$scratch/linux/$stem") != $(ls "$scratch/windows/$stem") ]]; then
        echo "different files written for $stem" >&2
        failed=1
        continue
    fi
    for file in "$scratch/linux/$stem"/*; do
        other=$scratch/windows/$stem/$(basename "$file")
        if ! cmp -s <(masked "$file") <(masked "$other"); then
            echo "differs: $stem/$(basename "$file")" >&2
            failed=1
        fi
    done
    count=$((count + 1))
done
((failed == 0)) || exit 1
echo "windows build under wine64: $count inputs, every output equal to the Linux build's"
