#!/usr/bin/env bash
# Builds the fuzz targets with clang in their own build directory and runs each one for a bounded time.
#   fuzz/run-fuzzers.sh [--merge] [SECONDS_PER_TARGET]   (default 30)
# Exits non-zero when a target crashes, leaks or hangs; the failing input is left in BUILD/fuzz-artifacts/.
# New inputs the fuzzers find go to a scratch directory: the corpus in the repository only seeds them,
# unless --merge adds those that reach new code to it.
set -euo pipefail

merge=0
[ "${1:-}" = "--merge" ] && { merge=1; shift; }
seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VORLIX_FUZZ_BUILD:-$root/build-fuzz}
targets=(fuzz_send_keys fuzz_key_code_of_text fuzz_key_watch)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVORLIX_FUZZ=ON -DVORLIX_BENCH=OFF >/dev/null
ninja -C "$build" -j2 "${targets[@]}"

scratch=$(mktemp -d /tmp/vorlix-fuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/fuzz-artifacts"
for target in "${targets[@]}"; do
    echo "== $target for ${seconds}s"
    mkdir -p "$scratch/$target"
    status=0
    "$build/fuzz/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" \
        "$scratch/$target" "$root/fuzz/corpus/$target" >"$scratch/$target.log" 2>&1 || status=$?
    grep -E '^(Done|stat::number_of_executed_units)' "$scratch/$target.log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$scratch/$target.log" >&2
        echo "$target failed (exit $status); the input is in $build/fuzz-artifacts/" >&2
        exit "$status"
    fi
    if [ $merge = 1 ]; then
        "$build/fuzz/$target" -merge=1 -max_len=65536 "$root/fuzz/corpus/$target" "$scratch/$target" \
            >"$scratch/$target.merge.log" 2>&1
    fi
done
echo "all fuzz targets ran ${seconds}s each without a failure"
