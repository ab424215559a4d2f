#!/usr/bin/env bash
# One paired run of several builds of convoluzione-cli on every standard workload, the way
# docs/benchmarks.md compares builds: the programs take turns in a rotating order on the
# same files, each run writing a new file, and every round's outputs must be identical.
#   - 30 s x 2 s with an impulse ending in 80 % exact zeros, a 30 s stem (half of it digital
#     silence) x 2 s, and the dense 30 s x 2 s, 10 s x 0.5 s and 10 s x 8 s: wall ms;
#   - 60 s x 0.1 s (the cabinet case), mono and stereo: each run between two runs of the
#     peak loop on all cores, and the share of that peak the whole command reaches on the
#     terms that meet real input (M x N per output channel), median of the rounds.
# On a virtual machine the host can take the processors away for a while (other guests):
# that time, "steal" in /proc/stat, slows whatever runs then. Each round counts the hundredths
# of a second stolen from it (the cabinet rounds' from the first peak loop to the last), and
# the cabinet lines give the share also over the rounds with none stolen. (Other guests
# can still slow a round without taking the processor: sharing a core's caches.)
# With --wait-for-quiet it first waits until five runs of the peak loop in a row agree
# within 2 % with nothing stolen meanwhile (other guests move the peak by up to half), and
# runs the cabinet rounds, the ones that the host's noise moves most, first.
# Prints one line per workload: each build's median (and share), and first / last build.
#
# Usage: bench/paired-run.sh [--wait-for-quiet] [--build DIR] [--raw FILE] CLI_BEFORE ... CLI_NOW
#   CLI_*: convoluzione-cli programs of the builds to compare (copied out of their build
#   folders); DIR (default: build) holds convoluzione-bench and convoluzione-bench-data;
#   FILE receives every run: workload, build index, microseconds, the peak rates before
#   and after (0 when not measured), the output channels counted for the share, and the
#   hundredths of a second stolen.
set -euo pipefail

quiet=0
build=build
raw=
while [[ $# -gt 0 && $1 == --* ]]; do
  case $1 in
    --wait-for-quiet) quiet=1 ;;
    --build) build=$2; shift ;;
    --raw) raw=$2; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
if [[ $# -lt 2 ]]; then
  echo "usage: $0 [--wait-for-quiet] [--build DIR] [--raw FILE] CLI_BEFORE ... CLI_NOW" >&2
  exit 2
fi
clis=("$@")
bench="$build/convoluzione-bench"
data="$build/convoluzione-bench-data"
for program in "$bench" "$data" "${clis[@]}"; do
  [[ -x $program ]] || { echo "missing $program" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$data" "$work/busy30.wav" 30 "$work/tail2.wav" 2 --zero-tail 0.8
"$data" "$work/stem30.wav" 30 "$work/dense2.wav" 2 --stem 0.5
"$data" "$work/busy30.wav" 30 "$work/dense2.wav" 2
"$data" "$work/busy10.wav" 10 "$work/dense05.wav" 0.5
"$data" "$work/busy10.wav" 10 "$work/dense8.wav" 8
"$data" "$work/busy60m.wav" 60 "$work/cab01m.wav" 0.1 --mono
"$data" "$work/busy60s.wav" 60 "$work/cab01s.wav" 0.1

peak() { "$bench" --peak; }
# Time the host has taken from all processors so far, in hundredths of a second (0 where
# the system does not say).
stolen() {
  awk '/^cpu / { print $9 + 0; found = 1; exit } END { if (!found) print 0 }' /proc/stat \
    2>/dev/null || echo 0
}
waitForQuiet() {
  local rates from
  while :; do
    from=$(stolen)
    rates=$(for _ in 1 2 3 4 5; do peak; done | tr '\n' ' ')
    if (($(stolen) == from)) &&
      awk '{ lo = hi = $1; for (i = 2; i <= NF; ++i) { if ($i < lo) lo = $i; if ($i > hi) hi = $i }
              exit !((hi - lo) / hi < 0.02) }' <<<"$rates"; then
      echo "quiet: peak loop $rates, nothing stolen"
      return
    fi
    sleep 15
  done
}

# rounds NAME ROUNDS INPUT IMPULSE CHANNELS_FOR_SHARE (0: no share) -> lines in $work/times
runWorkload() {
  local name=$1 rounds=$2 input=$3 impulse=$4 channels=$5 count=${#clis[@]}
  for ((round = 0; round < rounds; ++round)); do
    for ((k = 0; k < count; ++k)); do
      local b=$(((k + round) % count)) before=0 after=0 start end from
      rm -f "$work/out$b.wav"
      from=$(stolen)
      ((channels == 0)) || before=$(peak)
      start=${EPOCHREALTIME/[^0-9]/}
      "${clis[b]}" "$work/$input" "$work/$impulse" "$work/out$b.wav" >/dev/null 2>&1
      end=${EPOCHREALTIME/[^0-9]/}
      ((channels == 0)) || after=$(peak)
      echo "$name $b $((end - start)) $before $after $channels $(($(stolen) - from))" >>"$work/times"
    done
    for ((b = 1; b < count; ++b)); do
      cmp -s "$work/out0.wav" "$work/out$b.wav" || { echo "$name: outputs differ" >&2; exit 1; }
    done
  done
}

echo "load before: $(uptime | sed 's/.*load average/load average/')"
((quiet == 0)) || waitForQuiet
runWorkload "60 s x 0.1 s mono" 15 busy60m.wav cab01m.wav 1
runWorkload "60 s x 0.1 s stereo" 15 busy60s.wav cab01s.wav 2
runWorkload "30 s x 2 s, 80 % zero tail" 3 busy30.wav tail2.wav 0
runWorkload "30 s stem x 2 s" 3 stem30.wav dense2.wav 0
runWorkload "30 s x 2 s dense" 3 busy30.wav dense2.wav 0
runWorkload "10 s x 0.5 s dense" 5 busy10.wav dense05.wav 0
runWorkload "10 s x 8 s dense" 3 busy10.wav dense8.wav 0
echo "load after: $(uptime | sed 's/.*load average/load average/')"

[[ -z $raw ]] || cp "$work/times" "$raw"
echo "builds: ${clis[*]}"
awk -v count=${#clis[@]} '
  function median(list, n,   i, j, t) {
    for (i = 2; i <= n; ++i) for (j = i; j > 1 && list[j - 1] > list[j]; --j) {
      t = list[j]; list[j] = list[j - 1]; list[j - 1] = t }
    return list[int((n + 1) / 2)]
  }
  {
    name = $1; for (i = 2; i <= NF - 6; ++i) name = name " " $i
    b = $(NF - 5); us = $(NF - 4); channels = $(NF - 1)
    if (!(name in seen)) { seen[name] = 1; order[++names] = name }
    n = ++runs[name, b]; ms[name, b, n] = us / 1000
    if (channels > 0) {
      shared[name] = 1
      share[name, b, n] = 2880000 * 4800 * channels / (us / 1e6) / (($(NF - 3) + $(NF - 2)) / 2)
      if ($NF == 0) calm[name, b, ++calmRuns[name, b]] = share[name, b, n]
    }
  }
  END {
    for (w = 1; w <= names; ++w) {
      name = order[w]; line = sprintf("%-28s", name); calmLine = ""
      for (b = 0; b < count; ++b) {
        n = runs[name, b]
        for (i = 1; i <= n; ++i) { m[i] = ms[name, b, i]; s[i] = share[name, b, i] }
        med[b] = median(m, n); line = line sprintf("  %8.1f ms", med[b])
        if (name in shared) {
          line = line sprintf(" (%.1f %%)", 100 * median(s, n))
          q = calmRuns[name, b] + 0
          for (i = 1; i <= q; ++i) c[i] = calm[name, b, i]
          calmLine = calmLine sprintf("  %11s", q " quiet")
          calmLine = calmLine (q > 0 ? sprintf(" (%.1f %%)", 100 * median(c, q)) : " (-)     ")
        }
      }
      printf "%s  first / last %.2f\n", line, med[0] / med[count - 1]
      if (calmLine != "") printf "%-28s%s\n", "  of them, none stolen", calmLine
    }
  }' "$work/times"
