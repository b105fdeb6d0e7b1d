#!/usr/bin/env bash
# Runs the fuzz driver for a bounded time against the sanitizer build:
# model damage and argument files side by side, one process each.
#   fuzz/long.sh [SECONDS] [SEED]
# Defaults: 600 seconds, seed 1000.  The sanitizer build is made in
# build-sanitize/ when it is missing (or set BUILD to another build).
# Inputs that fail are copied to fuzz-findings/ with the command that
# replays them; the script ends non-zero when there is any.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
seed=${2:-1000}
build=${BUILD:-build-sanitize}
if [ ! -x "$build/fuzz/fuzz_keyblend" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DKEYBLEND_SANITIZE=ON >/dev/null
  cmake --build "$build" -j 2 --target keyblend fuzz_keyblend
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for mode in models args; do
  "$build/fuzz/fuzz_keyblend" --keyblend "$build/keyblend" --mode "$mode" --seed "$seed" \
    --seconds "$seconds" --dir "$scratch/$mode" --keep fuzz-findings &
done
for job in $(jobs -p); do
  wait "$job" || status=1
done
exit $status
