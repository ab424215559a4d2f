#!/usr/bin/env bash
# The hardening checks of the test command: the whole suite under the sanitizers, then each
# fuzz target for 60 seconds (both at once, one per core). Any sanitizer report, crash or
# broken check fails it. Takes about SECONDS_TOTAL on 2 cores; see docs/hardening.md.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh cmake make clang llvm libclang-rt-14-dev libgtest-dev libgmock-dev

status=0
scripts/test-sanitizers.sh || status=1

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
FUZZ_SKIP_BUILD=1 scripts/fuzz.sh reader 60 >build-fuzz/reader.summary 2>&1 &
reader=$!
FUZZ_SKIP_BUILD=1 scripts/fuzz.sh job 60 >build-fuzz/job.summary 2>&1 &
job=$!
wait "$reader" || status=1
wait "$job" || status=1
cat build-fuzz/reader.summary build-fuzz/job.summary

if [ "$status" -eq 0 ]; then
    echo "hardening: all passed"
else
    echo "hardening: FAILED" >&2
fi
exit "$status"
