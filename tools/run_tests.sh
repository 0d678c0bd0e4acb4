#!/usr/bin/env bash
# Builds and runs the whole test suite twice: in the normal build and in the
# AddressSanitizer + UndefinedBehaviorSanitizer build; after the normal one,
# the Windows build runs under wine64 on every committed input and must
# write what the Linux build writes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
tools/install_build_deps.sh --tests
for preset in default asan; do
    echo "=== $preset build ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j "$(nproc)"
    if [[ $preset == default ]]; then
        echo "=== Windows build under wine64 ==="
        tools/check_windows.sh
    fi
done
