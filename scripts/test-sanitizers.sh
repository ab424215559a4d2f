#!/usr/bin/env bash
# The whole test suite under AddressSanitizer + UndefinedBehaviorSanitizer, then under
# ThreadSanitizer (the job's worker, the engine's threads, the progress record and the
# message queue are all exercised by it). Any report fails the run: the sanitizers halt on
# the first error, and every report is also written to build-*/sanitizer-reports/, which
# must stay empty, so a report from a child process or a program a test starts counts too.
#
#   scripts/test-sanitizers.sh [asan] [tsan]     (both unless named)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/lib/install-deps.sh cmake make clang llvm libclang-rt-14-dev libgtest-dev libgmock-dev

status=0
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(asan tsan)
for preset in "${presets[@]}"; do
    reports="build-$preset/sanitizer-reports"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
    rm -rf "$reports"
    mkdir -p "$reports"
    echo "== tests under $preset"
    log="build-$preset/ctest.log"
    if ctest --preset "$preset" >"$log" 2>&1; then
        sed -n '/tests passed/,$p' "$log"
    else
        cat "$log"
        status=1
    fi
    if [ -n "$(ls -A "$reports")" ]; then
        echo "== $preset reports:" >&2
        cat "$reports"/* >&2
        status=1
    fi
done
exit "$status"
