#!/usr/bin/env bash
# Runs cut short from outside: a signal, a closed console, too little memory.
# None may leave a temporary file or change an output it did not complete.
# Usage: tools/check_stops.sh BINARY INPUT [--no-memory-limit]
# (an AddressSanitizer build cannot run under a memory limit).
set -muo pipefail  # -m: background runs take SIGINT
bin=$(realpath "$1") input=$(realpath "$2") memory=${3:-}
dir=$(mktemp -d) && trap 'rm -rf "$dir"' EXIT && cd "$dir" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
old() { for s in SYM LIN MEB mot; do printf 'old\n' > p.$s; done; }
check() {  # $1: what ran, $2: "old" when no output may have changed
  [[ -z $(ls ./*.tmp 2>/dev/null) ]] || fail "$1: temporary files left"
  if [[ $2 == old ]]; then
    for s in SYM LIN MEB mot; do [[ $(cat p.$s) == old ]] || fail "$1: p.$s replaced"; done
  fi
}
mkdir ref && (cd ref && "$bin" -d -a "$input" -o p > /dev/null)  # same header lines

# The console reader starts late, so the run is still writing (its files
# are there) when the signal comes.
mkfifo console
for sig in INT TERM HUP; do
  # Ignored when this script started (a background job, nohup): the run must
  # keep ignoring it, so it cannot be sent here.
  [[ $(trap -p $sig) == "trap -- '' "* ]] && echo "SIG$sig ignored here, not checked" && continue
  for delay in 0 0.1 0.3; do
    old
    (exec 3< console; sleep 1; cat <&3 > shown) & reader=$!
    "$bin" -d -a "$input" -o p > console & run=$!
    for _ in {1..100}; do [[ -n $(ls ./*.tmp 2>/dev/null) ]] && break; sleep 0.01; done
    sleep $delay; kill -$sig $run; wait $run; status=$?; wait $reader
    [[ $status == $((128 + $(kill -l $sig))) ]] || fail "SIG$sig after ${delay}s: status $status"
    [[ $(tail -1 shown) == "Stopped by a signal"* ]] || fail "SIG$sig: no closing message"
    check "SIG$sig after ${delay}s" old
  done
done

# A console closed after one line costs the console, not the files.
old
"$bin" -d -a "$input" -o p | head -1 > /dev/null
status=${PIPESTATUS[0]}
[[ $status == 0 ]] || fail "closed console: status $status"
for s in SYM LIN MEB mot; do cmp -s p.$s ref/p.$s || fail "closed console: p.$s differs"; done
check "closed console" new

[[ $memory == --no-memory-limit ]] && exit $((failures > 0))
# Memory limits around what a conversion needs: each run completes, or ends
# with -5 and its message, leaving the old files.
stopped=0
for limit in $(seq 20000 1000 60000); do
  old
  out=$(ulimit -v $limit; "$bin" -a "$input" -o p 2>&1); status=$?
  case $status in
    0) check "${limit} KB" new ;;
    251) [[ $out == *"Out of memory: the run stopped"* ]] || fail "${limit} KB: $out"
         check "${limit} KB" old; stopped=$((stopped + 1)) ;;
    *) [[ $out == *"error while loading shared libraries"* ]] || fail "${limit} KB: $status $out" ;;
  esac
done
((stopped > 0)) || fail "no memory limit stopped a conversion"
# While loading: an input that never ends, under a limit far below the 1 GB
# read from such a file.
ln -s /dev/zero zero.elf
out=$(ulimit -v 200000; "$bin" zero.elf -o p); status=$?
[[ $status == 255 && $out == *"Out of memory"* ]] || fail "loading: $status $out"
exit $((failures > 0))
