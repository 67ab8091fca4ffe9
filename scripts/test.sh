#!/usr/bin/env bash
# Sets up, builds and runs every test inside a private virtual desktop (Xvfb, PulseAudio).
#   test.sh [--sanitize | --no-x11]   (the suite on the AddressSanitizer + UBSan build, or on the
#                                      build without the X11 keyboard back-end)
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
--sanitize) build_dir=build-asan ;;
--no-x11) build_dir=build-nox11 ;;
*) build_dir=build ;;
esac
bash scripts/build.sh "$@"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The tests share one display and one keyboard: run them one at a time.
scripts/with-desktop.sh ctest --test-dir "$build_dir" --output-on-failure --timeout 900
