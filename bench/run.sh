#!/usr/bin/env bash
# Times a whole conversion of a large firmware image against peers on the
# same file (median of N runs, files cached). The line figures set the line
# phase and the LIN finishing, which the whole run includes, against a
# decoder of the same line programs. Usage:
#   bench/run.sh [elf] [runs]
# The default image is the shared benchmark firmware beside the checkout.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
elf=${1:-$top/../shared/bench/fw_o2_dw4.elf}
runs=${2:-5}
[[ -f $elf ]] || { echo "no benchmark image at $elf" >&2; exit 1; }

cmake --preset default -S "$top" >/dev/null
cmake --build "$top/build" --target dwarfsift >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

median_ms() {
    local times=() start end
    for ((i = 0; i < runs; i++)); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        end=$(date +%s%N)
        times+=($(( (end - start) / 1000000 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}

cat "$elf" >/dev/null  # warm the cache
tool=$(median_ms "$top/build/dwarfsift" "$elf" -o "$out/bench")
cat_ms=$(median_ms cat "$elf")
echo "image: $elf ($(stat -c %s "$elf") bytes), median of $runs runs"
echo "dwarfsift: ${tool} ms"
echo "cat:       ${cat_ms} ms"
if command -v readelf >/dev/null; then
    echo "readelf --debug-dump=info: $(median_ms readelf --debug-dump=info "$elf") ms"
fi
if command -v llvm-dwarfdump >/dev/null; then
    echo "llvm-dwarfdump --debug-info: $(median_ms llvm-dwarfdump --debug-info "$elf") ms"
    echo "llvm-dwarfdump --debug-line: $(median_ms llvm-dwarfdump --debug-line "$elf") ms"
fi
if [[ -x /usr/bin/time ]]; then
    peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
    echo "peak memory: dwarfsift $(peak_kb "$top/build/dwarfsift" "$elf" -o "$out/peak") KB," \
         "llvm-dwarfdump --debug-info $(peak_kb llvm-dwarfdump --debug-info "$elf") KB"
fi
if [[ -f $out/bench.SYM ]]; then
    echo "SYM file: $(stat -c %s "$out/bench.SYM") bytes, $(grep -c '^: index\[' "$out/bench.SYM") records"
fi
if [[ -f $out/bench.LIN ]]; then
    echo "LIN file: $(stat -c %s "$out/bench.LIN") bytes, $(grep -c '^[+>]0x' "$out/bench.LIN") rows"
fi
