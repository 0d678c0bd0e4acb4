#!/usr/bin/env bash
# Builds the release packages into out/package/:
#   tools/package.sh deb   the Debian package (native build)
#   tools/package.sh zip   the Windows archive (MinGW cross build; needs the
#                          Debian package g++-mingw-w64-x86-64-posix)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
kind=${1:-deb}
case $kind in
deb) preset=default generator=DEB ;;
zip) preset=mingw generator=ZIP ;;
*) echo "usage: tools/package.sh deb|zip" >&2; exit 2 ;;
esac
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target dwarfsift
build_dir=$(cmake --preset "$preset" -N 2>/dev/null | sed -n 's/^ *binaryDir *= *//p' || true)
[[ -n $build_dir ]] || build_dir=build$([[ $preset == default ]] || echo "-$preset")
mkdir -p out/package
cpack --config "$build_dir/CPackConfig.cmake" -G "$generator" -B "$top/out/package"
rm -rf out/package/_CPack_Packages
ls -l out/package
