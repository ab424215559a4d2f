#!/usr/bin/env bash
# End-to-end figures for the command-line program, on generated stereo material:
#   - wall time of convoluzione-cli on a 10 s input with a 0.5 s impulse (median of 5 runs);
#   - wall time of convoluzione-cli on a 30 s input with a 2 s impulse against the engine's
#     own time on the same files (convoluzione-bench --files), 5 runs each taking turns,
#     medians and their ratio: what reading, writing and setting up add to the work;
#   - convoluzione-cli on a 60 s input with a 0.1 s impulse (the cabinet case), mono and
#     stereo: 7 runs, each between two runs of the peak loop on all cores
#     (convoluzione-bench --peak), and the median share of that peak the whole command
#     reaches on the terms that meet real input (M x N per output channel). Each run writes
#     a new file; the same runs replacing a file of the same length come after, since the
#     system then frees the old file's cached pages first (a few ms for 6 to 12 MB);
#   - peak resident memory of convoluzione-cli on the 30 s x 2 s job.
# Usage: bench/end-to-end.sh [BUILD_DIR]   (default: build; the programs must be built)
set -euo pipefail

build="${1:-build}"
cli="$build/convoluzione-cli"
data="$build/convoluzione-bench-data"
bench="$build/convoluzione-bench"
for program in "$cli" "$data" "$bench"; do
  if [[ ! -x "$program" ]]; then
    echo "missing $program: build first (cmake --preset default && cmake --build --preset default)" >&2
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
"$data" "$work/input60m.wav" 60 "$work/impulse01m.wav" 0.1 --mono
"$data" "$work/input60s.wav" 60 "$work/impulse01s.wav" 0.1

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# Wall time of one command-line run, in seconds, to the microsecond (GNU time's 10 ms steps
# are a sixth of the whole cabinet-case job), from the shell's own clock: a `date` run on
# either side would add its own start, 1 to 2 ms, to what is measured.
cliSeconds() {
  local start end
  start=${EPOCHREALTIME/[^0-9]/} # microseconds, whatever the locale's decimal point
  "$cli" "$@" >/dev/null 2>&1
  end=${EPOCHREALTIME/[^0-9]/}
  awk -v us=$((end - start)) 'BEGIN { printf "%.6f\n", us / 1e6 }'
}

echo "load before: $(uptime | sed 's/.*load average/load average/')"
for run in 1 2 3 4 5; do cliSeconds "$work/input10.wav" "$work/impulse05.wav" "$work/out10.wav"; done \
  >"$work/short.txt"
echo "10 s stereo x 0.5 s stereo: convoluzione-cli $(tr '\n' ' ' <"$work/short.txt")s;" \
  "median $(median <"$work/short.txt") s"

: >"$work/cli.txt"
: >"$work/engine.txt"
for run in 1 2 3 4 5; do
  cliSeconds "$work/input30.wav" "$work/impulse2.wav" "$work/out30.wav" >>"$work/cli.txt"
  "$bench" --files "$work/input30.wav" "$work/impulse2.wav" "$work/engine30.wav" 1 |
    awk '/^engine run/ { print $4 }' >>"$work/engine.txt"
done
cli30=$(median <"$work/cli.txt")
engine30=$(median <"$work/engine.txt")
echo "30 s stereo x 2 s stereo: convoluzione-cli $(tr '\n' ' ' <"$work/cli.txt")s; median $cli30 s"
echo "30 s stereo x 2 s stereo: engine alone   $(tr '\n' ' ' <"$work/engine.txt")s; median $engine30 s"
awk -v a="$cli30" -v b="$engine30" 'BEGIN { printf "command line / engine (medians): %.3f\n", a / b }'

# Share of the peak: terms M x N per output channel over seconds, against the mean of the
# peak rates just before and after.
for output in new replaced; do
  for layout in m s; do
    channels=$([[ $layout == m ]] && echo 1 || echo 2)
    : >"$work/share.txt"
    : >"$work/short-cli.txt"
    "$cli" "$work/input60$layout.wav" "$work/impulse01$layout.wav" "$work/out60.wav" 2>/dev/null
    for run in 1 2 3 4 5 6 7; do
      if [[ $output == new ]]; then
        rm -f "$work/out60.wav"
      fi
      before=$("$bench" --peak)
      seconds=$(cliSeconds "$work/input60$layout.wav" "$work/impulse01$layout.wav" "$work/out60.wav")
      after=$("$bench" --peak)
      echo "$seconds" >>"$work/short-cli.txt"
      awk -v s="$seconds" -v a="$before" -v b="$after" -v c="$channels" \
        'BEGIN { printf "%.4f\n", 2880000 * 4800 * c / s / ((a + b) / 2) }' >>"$work/share.txt"
    done
    name=$([[ $layout == m ]] && echo "mono x mono" || echo "stereo x stereo")
    echo "60 s x 0.1 s $name, $output output: convoluzione-cli" \
      "$(awk '{ printf "%.3f ", $1 }' "$work/short-cli.txt")s; share of the peak" \
      "$(median <"$work/share.txt" | awk '{ printf "%.1f %%", 100 * $1 }') (median;" \
      "$(sort -g "$work/share.txt" | awk 'NR == 1 { l = $1 } { h = $1 } END { printf "%.1f to %.1f %%", 100 * l, 100 * h }'))"
  done
done

stats=$( { /usr/bin/time -f "%e %M" "$cli" "$work/input30.wav" "$work/impulse2.wav" \
  "$work/out30.wav" 2>&1 >/dev/null; } | tail -n 1)
read -r seconds kib <<<"$stats"
echo "30 s stereo x 2 s stereo: peak resident memory $((kib / 1024)) MiB ($kib KiB)"
echo "load after: $(uptime | sed 's/.*load average/load average/')"
if ((kib >= 64 * 1024)); then
  echo "peak resident memory is not under 64 MiB" >&2
  exit 1
fi
