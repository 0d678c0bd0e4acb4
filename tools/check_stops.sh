#!/usr/bin/env bash
# Runs cut short from outside (a signal, a closed console, too little memory)
# leave no temporary file and no output changed that they did not complete.
# Usage: tools/check_stops.sh BINARY INPUT [--no-memory-limit (a sanitized build)]
set -muo pipefail  # -m: background runs take SIGINT
bin=$(realpath "$1") input=$(realpath "$2") memory=${3:-}
dir=$(mktemp -d) && trap 'rm -rf "$dir"' EXIT && cd "$dir" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
old() { for s in SYM LIN MEB mot; do printf 'old\n' > p.$s; done; }
check() {  # $1: what ran, $2: "old" when no output may have changed
  [[ -z $(ls ./*.tmp 2>/dev/null) ]] || fail "$1: temporary files left"
  [[ $2 != old ]] || for s in SYM LIN MEB mot; do [[ $(cat p.$s) == old ]] || fail "$1: p.$s"; done
}
mkdir ref && (cd ref && "$bin" -d -a "$input" -o p > /dev/null)  # same header lines

# The console reader starts late: the run is still writing when the signal comes.
mkfifo console
for sig in INT TERM HUP; do
  [[ $(trap -p $sig) == "trap -- '' "* ]] && echo "SIG$sig ignored: unchecked" && continue
  for delay in 0 0.1 0.3; do
    old
    (exec 3< console; sleep 1; cat <&3 > shown) & reader=$!
    "$bin" -d -a "$input" -o p > console & run=$!
    for _ in {1..100}; do [[ -n $(ls ./*.tmp 2>/dev/null) ]] && break; sleep 0.01; done
    sleep $delay; kill -$sig $run; wait $run; status=$?; wait $reader
    [[ $status == $((128 + $(kill -l $sig))) && $(tail -1 shown) == "Stopped by a signal"* ]] ||
      fail "SIG$sig after ${delay}s: status $status, last line $(tail -1 shown)"
    check "SIG$sig after ${delay}s" old
  done
done

old  # a console closed after one line costs the console, not the files
"$bin" -d -a "$input" -o p | head -1 > /dev/null; status=${PIPESTATUS[0]}
[[ $status == 0 ]] || fail "closed console: status $status"
for s in SYM LIN MEB mot; do cmp -s p.$s ref/p.$s || fail "closed console: p.$s differs"; done
check "closed console" new

[[ $memory == --no-memory-limit ]] && exit $((failures > 0))
# Limits around what a conversion needs: each run completes, or ends with -5
# and its message, leaving the old files.
stopped=0
for limit in $(seq 20000 1000 60000); do
  old
  out=$(ulimit -v $limit; "$bin" -a "$input" -o p 2>&1); status=$?
  case $status in
    0) check "${limit} KB" new ;;
    251) [[ $out == *"Out of memory: the run stopped"* ]] && stopped=$((stopped + 1)) ||
         fail "${limit} KB: $out"; check "${limit} KB" old ;;
    *) [[ $out == *"error while loading shared libraries"* ]] || fail "${limit} KB: $status $out" ;;
  esac
done
((stopped > 0)) || fail "no memory limit stopped a conversion"
ln -s /dev/zero zero.elf  # while loading: an input that never ends
out=$(ulimit -v 200000; "$bin" zero.elf -o p); status=$?
[[ $status == 255 && $out == *"Out of memory"* ]] || fail "loading: $status $out"
exit $((failures > 0))
