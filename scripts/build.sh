#!/usr/bin/env bash
# Installs what is missing, then configures and builds Vorlix.
#   build.sh [--sanitize | --no-x11]
#     --sanitize  AddressSanitizer and UBSan, in build-asan/
#     --no-x11    without the X11 keyboard back-end (the null keyboard only), in build-nox11/
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "${1:-}" in
--sanitize)
    build_dir=build-asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DVORLIX_SANITIZE=ON -DVORLIX_BENCH=OFF)
    ;;
--no-x11)
    build_dir=build-nox11
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLIX_X11=OFF -DVORLIX_BENCH=OFF)
    ;;
esac

bash scripts/setup.sh
# Several work trees of one machine share their compiled objects through ccache.
if command -v ccache >/dev/null; then
    flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$PWD")}" CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$build_dir" -G Ninja "${flags[@]}" >/dev/null
ninja -C "$build_dir" -j"$(nproc)"
