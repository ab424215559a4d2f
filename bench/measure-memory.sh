#!/usr/bin/env bash
# Peak resident memory of convoluzione-cli on a long stereo job, at two input lengths: the
# input is streamed and only the impulse is held, so the figure must not grow with the input.
#
#   bench/measure-memory.sh [--stop-after SECONDS] [MINUTES_SHORT MINUTES_LONG]
#
# Inputs are stereo 44.1 kHz noise-like signals of MINUTES_SHORT and MINUTES_LONG minutes
# (2.5 and 10 unless given), the impulse a 1 s stereo decaying noise. Without --stop-after
# each job runs to its end; with it, the job is stopped by SIGINT (as Ctrl-C would) after
# that many seconds, which measures everything the job allocates before and while it runs
# but not the whole run. Peak memory is the kernel's maximum resident set of the process.
set -euo pipefail
cd "$(dirname "$0")/.."

stopAfter=""
if [ "${1:-}" = "--stop-after" ]; then
    stopAfter=$2
    shift 2
fi
short=${1:-2.5}
long=${2:-10}

scripts/lib/install-deps.sh cmake make g++ time python3
cmake --preset default >/dev/null
cmake --build --preset default --target convoluzione-cli >/dev/null

work=build/memory
mkdir -p "$work"
# Deterministic signals: one second of noise shaped by a slow envelope, repeated with a
# varying gain so consecutive seconds differ.
python3 - "$work" "$short" "$long" <<'PY'
import os, random, struct, sys
work, minutes = sys.argv[1], sys.argv[2:]
rate = 44100

def write_wav(path, channels, frames_bytes):
    data_size = len(frames_bytes)
    header = b"RIFF" + struct.pack("<I", 36 + data_size) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * channels * 2, channels * 2, 16)
    header += b"data" + struct.pack("<I", data_size)
    with open(path, "wb") as f:
        f.write(header)
        f.write(frames_bytes)

rng = random.Random(1234)
second = [int(rng.gauss(0, 6000)) for _ in range(2 * rate)]
second = [max(-32768, min(32767, s)) for s in second]
blocks = []
for gain in (1.0, 0.5, 0.8, 0.3):
    blocks.append(struct.pack("<%dh" % len(second), *[int(s * gain) for s in second]))
for m in minutes:
    path = os.path.join(work, "input-%smin.wav" % m)
    seconds = int(float(m) * 60)
    if not os.path.exists(path) or os.path.getsize(path) != 44 + seconds * rate * 4:
        write_wav(path, 2, b"".join(blocks[i % 4] for i in range(seconds)))
impulse = []
for i in range(rate):
    decay = 0.999 ** i
    impulse += [int(rng.uniform(-1, 1) * 20000 * decay), int(rng.uniform(-1, 1) * 20000 * decay)]
write_wav(os.path.join(work, "impulse-1s.wav"), 2, struct.pack("<%dh" % len(impulse), *impulse))
PY

measure() {
    local minutes=$1
    local input="$work/input-${minutes}min.wav"
    local output="$work/output-${minutes}min.wav"
    local report="$work/rss-${minutes}min.txt"
    local status=0
    local started=$SECONDS
    if [ -n "$stopAfter" ]; then
        # time reports the largest resident set among the processes it waited for,
        # so the CLI's own figure, not timeout's.
        /usr/bin/time -f "%M" -o "$report" \
            timeout --preserve-status -s INT "$stopAfter" build/convoluzione-cli "$input" "$work/impulse-1s.wav" "$output" || status=$?
    else
        /usr/bin/time -f "%M" -o "$report" \
            build/convoluzione-cli "$input" "$work/impulse-1s.wav" "$output" || status=$?
    fi
    local elapsed=$((SECONDS - started))
    printf "input %5s min (%9d bytes): exit %3d after %5d s, output %10d bytes, peak RSS %7d KiB\n" \
        "$minutes" "$(stat -c %s "$input")" "$status" "$elapsed" "$(stat -c %s "$output")" "$(tail -n 1 "$report")"
    rm -f "$output"
}

echo "convoluzione-cli peak memory, 1 s stereo impulse at 44.1 kHz${stopAfter:+, stopped after ${stopAfter} s}"
measure "$short"
measure "$long"
