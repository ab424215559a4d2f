#!/usr/bin/env bash
# The long fuzz run: both targets at once, each for MINUTES (30 unless given), at the lowest
# CPU priority so the machine stays usable. Not part of the test command.
#
#   scripts/fuzz-long.sh [MINUTES]
#
# Each target's corpus carries over from earlier runs (build-fuzz/corpus/TARGET); the
# summaries at the end give executions and coverage, and any crash is kept in
# build-fuzz/artifacts/TARGET/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-30}
[[ "$minutes" =~ ^[0-9]+$ ]] || { echo "usage: scripts/fuzz-long.sh [MINUTES]" >&2; exit 2; }
scripts/install-deps.sh cmake make clang llvm libclang-rt-14-dev
cmake --preset fuzz >/dev/null
nice -n 19 cmake --build --preset fuzz >/dev/null
seconds=$((minutes * 60))
FUZZ_SKIP_BUILD=1 nice -n 19 scripts/fuzz.sh reader "$seconds" >build-fuzz/reader.summary 2>&1 &
reader=$!
FUZZ_SKIP_BUILD=1 nice -n 19 scripts/fuzz.sh job "$seconds" >build-fuzz/job.summary 2>&1 &
job=$!
status=0
wait "$reader" || status=1
wait "$job" || status=1
cat build-fuzz/reader.summary build-fuzz/job.summary
exit "$status"
