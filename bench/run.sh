#!/usr/bin/env bash
# Measures the tool against a DWARF dump of the same files, in one run on
# one machine: user CPU time of a whole conversion and of
# `llvm-dwarfdump --debug-info` plus `--debug-line` (median of N runs, files
# cached), their ratio, peak memory, the slowest unit's time and the units
# passed over whole. Inputs: the shared benchmark firmware beside the
# checkout (GCC -O2 DWARF 4 and -O0 DWARF 3, clang -O2 DWARF 5) and images
# generated from bench/gen_units.c with 100, 400 and 1,600 units at -O0 and
# -O2 (built once with the cross compiler into build/bench-gen and reused).
# Usage:
#   bench/run.sh [runs] [image...]
# With images named, only those are measured. DWARFSIFT=path measures
# another build of the tool (an older one, say) instead of build/dwarfsift.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
shift || true
gen=$top/build/bench-gen

tool=${DWARFSIFT:-$top/build/dwarfsift}
if [[ -z ${DWARFSIFT:-} ]]; then
  cmake --preset default -S "$top" >/dev/null
  cmake --build "$top/build" --target dwarfsift >/dev/null
fi
command -v llvm-dwarfdump >/dev/null || { echo "llvm-dwarfdump is needed" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is needed" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Builds the generated image of $1 units at optimisation $2 (and DWARF
# version $3) unless it is there already; prints its path.
generated_image() {
  local units=$1 opt=$2 dwarf=$3
  local dir=$gen/u${units}$opt elf=$gen/u${units}$opt.elf
  if [[ ! -f $elf ]]; then
    command -v arm-none-eabi-gcc >/dev/null ||
      { echo "arm-none-eabi-gcc is needed (tools/install_cross_compilers.sh)" >&2; exit 1; }
    mkdir -p "$dir"
    cc -O2 -o "$gen/gen_units" "$top/bench/gen_units.c"
    "$gen/gen_units" "$units" "$dir"
    (cd "$dir" && ls ./*.c | xargs -P "$(nproc)" -n 16 \
      arm-none-eabi-gcc -mcpu=cortex-m4 -mthumb "$opt" "-gdwarf-$dwarf" -c)
    arm-none-eabi-gcc -mcpu=cortex-m4 -mthumb -nostdlib -nostartfiles -Wl,-e,_start \
      -o "$elf" "$dir"/*.o -lgcc
    rm -rf "$dir"
  fi
  echo "$elf"
}

# Median user seconds of `$@` over $runs runs, to the millisecond: bash's
# own timer, as /usr/bin/time prints hundredths only, too coarse for the
# small images and the linearity figure.
median_user() {
  local times=()
  for ((i = 0; i < runs; i++)); do
    times+=("$({ TIMEFORMAT=%3U; time "$@" >/dev/null 2>&1; } 2>&1 || true)")
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$(( (runs + 1) / 2 ))p"
}
peak_mb() {
  /usr/bin/time -o "$out/time" -f %M "$@" >/dev/null 2>&1 || true
  tail -1 "$out/time" | awk '{printf "%.1f", $1 / 1024}'
}

measure() {
  local elf=$1 label=$2
  cat "$elf" >/dev/null
  local t d_info d_line peak slow
  t=$(median_user "$tool" "$elf" -o "$out/run")
  d_info=$(median_user llvm-dwarfdump --debug-info "$elf")
  d_line=$(median_user llvm-dwarfdump --debug-line "$elf")
  peak=$(peak_mb "$tool" "$elf" -o "$out/run")
  # The progress line of each unit carries its time; a unit passed over
  # whole (too many entries, its work budget spent, a looping type chain, a
  # header it cannot read) says so instead.
  "$tool" "$elf" -o "$out/run" >"$out/console" || true
  slow=$(sed -n 's/.*time\[ *\([0-9]*\)ms\].*/\1/p' "$out/console" | sort -n | tail -1)
  passed=$(grep -cE 'Tag Size\[[0-9]*\] limit over|time over\[|self-destruct|skipped!!|are passed over' \
           "$out/console" || true)
  awk -v l="$label" -v t="$t" -v i="$d_info" -v n="$d_line" -v p="$peak" \
      -v s="${slow:-?}" -v mb="$(( $(stat -c %s "$elf") / 1048576 ))" -v u="$passed" \
      'BEGIN { printf "%-22s %5d MB %8.3f s %8.3f s %8.3f %9.1f MB %8s ms %7d\n",
               l, mb, t, i + n, t / (i + n), p, s, u }'
  echo "$t" >"$out/t_$label"
}

printf '%-22s %8s %10s %10s %8s %12s %11s %9s\n' image size dwarfsift dwarfdump ratio "peak mem" \
  "slowest unit" "units passed over"
if (($# > 0)); then
  for elf in "$@"; do measure "$elf" "$(basename "$elf" .elf)"; done
  exit 0
fi
for f in fw_o2_dw4 fw_o0_dw3 sqlite_clang19_o2_dw5; do
  elf=$top/../shared/bench/$f.elf
  [[ -f $elf ]] && measure "$elf" "$f"
done
# What a run costs before it converts anything (loading, start-up, a tiny
# input): sixteen separate conversions pay it sixteen times.
startup=$(median_user "$tool" "$top/tests/data/arm_le_dw2_types.elf" -o "$out/run")
for opt in -O0 -O2; do
  dwarf=$([[ $opt == -O0 ]] && echo 3 || echo 4)
  for units in 100 400 1600; do
    measure "$(generated_image "$units" "$opt" "$dwarf")" "gen${units}$opt"
  done
  # Sixteen 100-unit conversions are timed together; the figure is given
  # as measured and net of the fifteen start-ups the single run does not pay.
  small=$(generated_image 100 "$opt" "$dwarf")
  sixteen=$(median_user sh -c 'for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16; do
      "$0" "$1" -o "$2"; done' "$tool" "$small" "$out/run")
  awk -v a="$sixteen" -v b="$(cat "$out/t_gen1600$opt")" -v s="$startup" -v o="$opt" \
      'BEGIN { if (a > 15 * s) printf "linearity %s: 1600 units / (16 x 100 units) = %.2f (%.2f net of start-up)\n",
               o, b / a, b / (a - 15 * s) }'
done
