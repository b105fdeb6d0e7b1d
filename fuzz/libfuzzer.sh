#!/usr/bin/env bash
# Runs an in-process fuzz target as a libFuzzer target (clang, both
# sanitizers) for SECONDS (default 600) from its corpus: fuzz/corpus/ for
# engine (the default), fuzz/corpus_import/ for import.  New inputs and
# finds go to fuzz-work/TARGET/.
#   fuzz/libfuzzer.sh [SECONDS] [engine|import]
set -euo pipefail
cd "$(dirname "$0")/.."
target=${2:-engine}
corpus=fuzz/corpus
[ "$target" = engine ] || corpus=fuzz/corpus_$target
cmake -S . -B build-libfuzzer -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DKEYBLEND_SANITIZE=ON -DKEYBLEND_LIBFUZZER=ON >/dev/null
cmake --build build-libfuzzer -j 2 --target "fuzz_$target"
mkdir -p "fuzz-work/$target/corpus"
ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1 \
  "build-libfuzzer/fuzz/fuzz_$target" -max_total_time="${1:-600}" -max_len=8192 -timeout=10 \
  -rss_limit_mb=1024 -artifact_prefix="fuzz-work/$target/" "fuzz-work/$target/corpus" "$corpus"
