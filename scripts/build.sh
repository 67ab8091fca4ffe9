#!/usr/bin/env bash
# Installs what is missing, then configures and builds Vorlix.
#   build.sh [--sanitize]   (the sanitizer build goes to build-asan/)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
    build_dir=build-asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DVORLIX_SANITIZE=ON -DVORLIX_BENCH=OFF)
fi

bash scripts/setup.sh
cmake -S . -B "$build_dir" -G Ninja "${flags[@]}" >/dev/null
ninja -C "$build_dir" -j"$(nproc)"
