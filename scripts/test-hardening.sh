#!/usr/bin/env bash
# The hardening checks of the test command: the whole suite under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, then each fuzz target for 60 seconds
# (both at once, one per core). Any sanitizer report, crash or broken check fails it. About
# five minutes on 2 cores; see docs/hardening.md.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=lib/fuzz-both.sh
source scripts/lib/fuzz-both.sh
scripts/lib/install-deps.sh cmake make clang llvm libclang-rt-14-dev libgtest-dev libgmock-dev

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

fuzz_both 60 || true
passed=$((passed + fuzz_passed))
failed=$((failed + fuzz_failed))

echo "hardening: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
