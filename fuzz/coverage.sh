#!/usr/bin/env bash
# What the fuzz corpora reach, line by line: builds both targets with source-based coverage,
# replays each target's corpus (build-fuzz/corpus/TARGET, grown by scripts/fuzz.sh) once,
# and prints the coverage of the product's files. The detailed report of one file:
#   llvm-cov show build-fuzz-coverage/fuzz-job -instr-profile=build-fuzz-coverage/all.profdata FILE
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/lib/install-deps.sh cmake make clang llvm libclang-rt-14-dev
build=build-fuzz-coverage
cmake --preset fuzz-coverage >/dev/null
cmake --build --preset fuzz-coverage >/dev/null
rm -f "$build"/*.profraw "$build"/*.profdata
for target in reader job; do
    binary=fuzz-job
    [ "$target" = reader ] && binary=fuzz-wav-reader
    [ -d "build-fuzz/corpus/$target" ] || { echo "no corpus for $target: run scripts/fuzz.sh first" >&2; exit 1; }
    LLVM_PROFILE_FILE="$build/$target.profraw" TMPDIR="${TMPDIR:-/dev/shm}" \
        "$build/$binary" -runs=0 "build-fuzz/corpus/$target" >/dev/null 2>&1
done
llvm-profdata merge -o "$build/all.profdata" "$build"/*.profraw
llvm-cov report "$build/fuzz-job" -object "$build/fuzz-wav-reader" \
    -instr-profile="$build/all.profdata" wav job convolution platform
