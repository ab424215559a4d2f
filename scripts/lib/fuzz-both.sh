# Both fuzz targets side by side, one per core: used by scripts/test-hardening.sh (60 s) and
# scripts/fuzz-long.sh (minutes, at the lowest priority). Source it from the project folder;
# it defines one function.

# fuzz_both SECONDS [PREFIX...]
# Builds the fuzz preset, then runs scripts/fuzz.sh for the reader and for the job at once,
# SECONDS each, every build and fuzz command behind PREFIX when one is given (nice -n 19).
# Each target's summary goes to build-fuzz/TARGET.summary; both are printed once both have
# ended. Sets fuzz_passed and fuzz_failed to the number of targets that passed and failed
# (a build that fails counts both as failed); returns 0 only when both passed.
fuzz_both() {
    local seconds=$1
    shift
    local target pid
    local -a pids=()
    fuzz_passed=0
    fuzz_failed=2
    cmake --preset fuzz >/dev/null || return 1
    "$@" cmake --build --preset fuzz >/dev/null || return 1
    fuzz_failed=0
    for target in reader job; do
        FUZZ_SKIP_BUILD=1 "$@" scripts/fuzz.sh "$target" "$seconds" \
            >"build-fuzz/$target.summary" 2>&1 &
        pids+=("$!")
    done
    for pid in "${pids[@]}"; do
        if wait "$pid"; then
            fuzz_passed=$((fuzz_passed + 1))
        else
            fuzz_failed=$((fuzz_failed + 1))
        fi
    done
    cat build-fuzz/reader.summary build-fuzz/job.summary
    [ "$fuzz_failed" -eq 0 ]
}
