#!/usr/bin/env bash
# Sets up, builds and runs the command line on demo data synthesised by the project
# itself: a plucked-guitar phrase (mono and stereo) and two small rooms (mono and stereo).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/lib/install-deps.sh cmake make g++ libgtest-dev libgmock-dev
cmake --preset default >/dev/null
cmake --build --preset default --target convoluzione-cli convoluzione-demo-data
out="$PWD/demo-output"
mkdir -p "$out"
build/convoluzione-demo-data "$out"
run() {
  local input=$1 impulse=$2 output=$3
  local start ms
  start=$(date +%s%N)
  build/convoluzione-cli "$out/$input" "$out/$impulse" "$out/$output"
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  printf '  %-20s * %-18s -> %-36s %5d ms\n' "$input" "$impulse" "$output" "$ms"
}
echo "Convoluzione demo:"
run chitarra-mono.wav stanza-mono.wav chitarra-mono-in-stanza.wav
run chitarra-mono.wav stanza-stereo.wav chitarra-mono-in-stanza-stereo.wav
run chitarra-stereo.wav stanza-stereo.wav chitarra-stereo-in-stanza.wav
echo
echo "Inputs and results are in $out"
echo "Listen, for example, with: aplay $out/chitarra-stereo-in-stanza.wav"
