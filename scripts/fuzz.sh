#!/usr/bin/env bash
# Builds one fuzz target (clang: libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs it for SECONDS.
#
#   scripts/fuzz.sh reader|job SECONDS [libFuzzer options...]
#
# The corpus grows in build-fuzz/corpus/TARGET from run to run; the seeds are written anew
# from code each time into build-fuzz/seeds/TARGET. A crash, leak, timeout, excess memory
# or sanitizer report fails the run, and its input is kept in build-fuzz/artifacts/TARGET/.
# The whole log is build-fuzz/logs/TARGET.log. FUZZ_SKIP_BUILD=1 skips the build step.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: scripts/fuzz.sh reader|job SECONDS [libFuzzer options...]" >&2
    exit 2
}
[ $# -ge 2 ] || usage
target=$1
seconds=$2
shift 2
case "$target" in
reader) binary=fuzz-wav-reader ;;
job) binary=fuzz-job ;;
*) usage ;;
esac
[[ "$seconds" =~ ^[0-9]+$ ]] || usage

build=build-fuzz
# Every input is written to a file before the reader sees it; a memory-backed folder makes
# that several times faster than a disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
if [ "${FUZZ_SKIP_BUILD:-0}" != 1 ]; then
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz >/dev/null
fi
rm -rf "$build/seeds/$target"
mkdir -p "$build/seeds" "$build/corpus/$target" "$build/artifacts/$target" "$build/logs"
"$build/fuzz-seeds" "$target" "$build/seeds/$target"
log="$build/logs/$target.log"

echo "fuzz $target: ${seconds}s, log in $log"
status=0
ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1" \
UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1" \
    "$build/$binary" \
    -max_total_time="$seconds" \
    -timeout=20 \
    -rss_limit_mb=2048 \
    -max_len=16384 \
    -dict=fuzz/wav.dict \
    -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target/" \
    "$@" \
    "$build/corpus/$target" "$build/seeds/$target" >"$log" 2>&1 || status=$?

# The last status line carries the coverage reached; the final stats the executions.
last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
cov=$(echo "$last" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
ft=$(echo "$last" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
corpus=$(echo "$last" | sed -n 's/.* corp: \([^ ]*\).*/\1/p')
echo "fuzz $target: ${execs:-?} executions (${rate:-?}/s), cov ${cov:-?}, ft ${ft:-?}, corpus ${corpus:-?}"
if [ "$status" -ne 0 ]; then
    echo "fuzz $target FAILED (status $status):" >&2
    grep -E -A40 'ERROR: |runtime error|broken promise|deadly signal|timeout|out-of-memory' "$log" | head -n 80 >&2 || tail -n 60 "$log" >&2
    ls -l "$build/artifacts/$target" >&2
    exit 1
fi
