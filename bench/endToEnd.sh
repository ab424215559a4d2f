#!/usr/bin/env bash
# End-to-end figures for the command-line program, on generated stereo material:
#   - wall time of convoluzione-cli on a 10 s input with a 0.5 s impulse (best of 3 runs);
#   - peak resident memory of convoluzione-cli on a 30 s input with a 2 s impulse.
# Usage: bench/endToEnd.sh [BUILD_DIR]   (default: build; the programs must be built)
set -euo pipefail

build="${1:-build}"
cli="$build/convoluzione-cli"
data="$build/convoluzione-bench-data"
for program in "$cli" "$data"; do
  if [[ ! -x "$program" ]]; then
    echo "missing $program: build first (cmake -S . -B build && make -C build -j2)" >&2
    exit 1
  fi
done
if [[ ! -x /usr/bin/time ]]; then
  echo "needs GNU time (Debian package 'time') for the peak memory" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$data" "$work/input10.wav" 10 "$work/impulse05.wav" 0.5
"$data" "$work/input30.wav" 30 "$work/impulse2.wav" 2

echo "load before: $(uptime | sed 's/.*load average/load average/')"
best=""
for run in 1 2 3; do
  seconds=$( { /usr/bin/time -f "%e" "$cli" "$work/input10.wav" "$work/impulse05.wav" \
    "$work/out10.wav" 2>&1 >/dev/null; } | tail -n 1)
  echo "10 s stereo x 0.5 s stereo, run $run: $seconds s"
  if [[ -z "$best" ]] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
    best="$seconds"
  fi
done
echo "10 s stereo x 0.5 s stereo: best wall time $best s"

stats=$( { /usr/bin/time -f "%e %M" "$cli" "$work/input30.wav" "$work/impulse2.wav" \
  "$work/out30.wav" 2>&1 >/dev/null; } | tail -n 1)
read -r seconds kib <<<"$stats"
echo "30 s stereo x 2 s stereo: wall time $seconds s, peak resident memory $((kib / 1024)) MiB ($kib KiB)"
echo "load after: $(uptime | sed 's/.*load average/load average/')"
if (( kib >= 64 * 1024 )); then
  echo "peak resident memory is not under 64 MiB" >&2
  exit 1
fi
