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
# shellcheck source=lib/fuzz-both.sh
source scripts/lib/fuzz-both.sh
minutes=${1:-30}
[[ "$minutes" =~ ^[0-9]+$ ]] || { echo "usage: scripts/fuzz-long.sh [MINUTES]" >&2; exit 2; }
scripts/lib/install-deps.sh cmake make clang llvm libclang-rt-14-dev
status=0
fuzz_both "$((minutes * 60))" nice -n 19 || status=1
exit "$status"
