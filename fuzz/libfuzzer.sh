#!/usr/bin/env bash
# Runs the engine's libFuzzer target (fuzz/fuzz_engine.cpp) for a bounded
# time, built with clang, AddressSanitizer and UndefinedBehaviorSanitizer.
#   fuzz/libfuzzer.sh [SECONDS]
# Default: 600 seconds.  It starts from fuzz/corpus/ and writes what it
# finds new to fuzz-work/corpus/; crashing inputs land in fuzz-work/ as
# crash-*.  Add new corpus files to fuzz/corpus/ with
#   build-libfuzzer/fuzz/fuzz_engine -merge=1 fuzz/corpus fuzz-work/corpus
# so that ctest replays them from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
build=build-libfuzzer
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DKEYBLEND_SANITIZE=ON -DKEYBLEND_LIBFUZZER=ON >/dev/null
cmake --build "$build" -j 2 --target fuzz_engine
mkdir -p fuzz-work/corpus
export ASAN_OPTIONS=abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
"$build/fuzz/fuzz_engine" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=512 -artifact_prefix=fuzz-work/ fuzz-work/corpus fuzz/corpus
