#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz and runs each for a given time.
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]      (default 30 seconds, every fuzz/fuzz_*.cpp)
# New inputs go to build-fuzz/corpus/<target>/, crashes to build-fuzz/artifacts/; the seeds in
# fuzz/corpus/<target>/ are read, never written. Exits non-zero when a target finds a fault.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
[ $# -gt 0 ] && shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for src in fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTERO_FUZZ=ON \
    ${CMAKE_ARGS:-} >/dev/null
cmake --build build-fuzz --target "${targets[@]}"

mkdir -p build-fuzz/artifacts
status=0
for t in "${targets[@]}"; do
    mkdir -p "build-fuzz/corpus/$t"
    log="build-fuzz/$t.log"
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "build-fuzz/fuzz/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$t-" \
        "build-fuzz/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
        result=ok
    else
        result="FAILED (see $log)"
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "$t: ${seconds}s, ${runs:-?} executions, $result"
done
exit $status
