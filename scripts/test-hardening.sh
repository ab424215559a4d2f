#!/usr/bin/env bash
# The hardening checks of the test command: the whole suite under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, then each fuzz target for 60 seconds
# (both at once, one per core). Any sanitizer report, crash or broken check fails it. About
# five minutes on 2 cores; see docs/hardening.md.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh cmake make clang llvm libclang-rt-14-dev libgtest-dev libgmock-dev

passed=0
failed=0
count() {
    if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}

for preset in asan tsan; do
    status=0
    scripts/test-sanitizers.sh "$preset" || status=$?
    count "$status"
done

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
FUZZ_SKIP_BUILD=1 scripts/fuzz.sh reader 60 >build-fuzz/reader.summary 2>&1 &
reader=$!
FUZZ_SKIP_BUILD=1 scripts/fuzz.sh job 60 >build-fuzz/job.summary 2>&1 &
job=$!
status=0
wait "$reader" || status=$?
count "$status"
status=0
wait "$job" || status=$?
count "$status"
cat build-fuzz/reader.summary build-fuzz/job.summary

echo "hardening: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
