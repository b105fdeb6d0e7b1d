#!/usr/bin/env bash
# Runs the engine's fuzz target as a libFuzzer target (clang, both sanitizers)
# for SECONDS (default 600) from fuzz/corpus/; finds go to fuzz-work/.
#   fuzz/libfuzzer.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-libfuzzer -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DKEYBLEND_SANITIZE=ON -DKEYBLEND_LIBFUZZER=ON >/dev/null
cmake --build build-libfuzzer -j 2 --target fuzz_engine
mkdir -p fuzz-work/corpus
ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1 \
  build-libfuzzer/fuzz/fuzz_engine -max_total_time="${1:-600}" -max_len=4096 -timeout=10 \
  -rss_limit_mb=512 -artifact_prefix=fuzz-work/ fuzz-work/corpus fuzz/corpus
