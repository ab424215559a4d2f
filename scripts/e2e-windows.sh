#!/usr/bin/env bash
# The Windows program used as a person would: under Wine, on a private X display with a
# window manager, the mouse clicks the browse buttons, the paths are typed into Wine's own
# file dialogs, "Avvia" is clicked, the final question is answered "No" and the dialog is
# closed from the keyboard. Then the exit status must be 0 and the output must be the very
# bytes the native command-line program writes for the same files.
#
# Needs build-windows/ (cross build) and build/ (native build) made; scripts/test-windows.sh
# makes both. Screenshots land in build-windows/screenshots/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=windows-common.sh
source "$root/scripts/windows-common.sh"

windows_build="$root/build-windows"
native_build="$root/build"
work="$windows_build/e2e"
shots="$windows_build/screenshots"
program="$windows_build/convoluzione.exe"
for needed in "$program" "$windows_build/convoluzione-cli.exe" "$native_build/convoluzione-cli" \
              "$native_build/convoluzione-demo-data"; do
    if [ ! -x "$needed" ] && [ ! -f "$needed" ]; then
        echo "Manca $needed: esegui prima scripts/test-windows.sh" >&2
        exit 1
    fi
done

program_pid=
finish() {
    local status=$?
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid" 2>/dev/null || true
    fi
    stop_wine
    stop_display
    exit "$status"
}
trap finish EXIT

fail() {
    echo "E2E FALLITO: $*" >&2
    [ -n "${DISPLAY:-}" ] && import -window root "$shots/failure.png" 2>/dev/null || true
    exit 1
}

now_ms() { date +%s%3N; }

# ---- Files: the demo data, and an input long enough to watch the bar move ----

rm -rf "$work"
mkdir -p "$work" "$shots"
rm -f "$shots"/*.png
"$native_build/convoluzione-demo-data" "$work"

# A little-endian 32-bit field as raw bytes.
le32() {
    printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"
    printf "\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"
}

# The job must last a few seconds so that the running look can be seen, whatever the
# engine's speed: time the native program on the demo files and repeat the recording as
# often as needed. The demo writer's files have the plain 44-byte header.
impulse="$work/stanza-stereo.wav"
start=$(now_ms)
"$native_build/convoluzione-cli" "$work/chitarra-stereo.wav" "$impulse" "$work/riferimento.wav"
elapsed=$(($(now_ms) - start))
target_ms=${E2E_JOB_MS:-3000} # how long the dialog's job should last
repeats=$(((target_ms + elapsed - 1) / (elapsed > 0 ? elapsed : 1)))
((repeats < 1)) && repeats=1
((repeats > 400)) && repeats=400
if ((repeats == 1)); then
    input="$work/chitarra-stereo.wav"
else
    input="$work/chitarra-lunga.wav"
    data=$(($(stat -c %s "$work/chitarra-stereo.wav") - 44))
    total=$((data * repeats))
    {
        head -c 4 "$work/chitarra-stereo.wav"
        le32 $((total + 36))
        head -c 40 "$work/chitarra-stereo.wav" | tail -c 32
        le32 "$total"
        for ((i = 0; i < repeats; i++)); do
            tail -c +45 "$work/chitarra-stereo.wav"
        done
    } >"$input"
    "$native_build/convoluzione-cli" "$input" "$impulse" "$work/riferimento.wav"
fi
echo "Riferimento nativo: ${elapsed} ms per il file dimostrativo; ingresso ripetuto ${repeats} volte"
output="$work/uscita.wav"

# Windows paths for Wine: its drive Z: is the Linux root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# ---- The program ----

use_wine_prefix "$windows_build/wine-prefix"
start_display
start_wine

# The Windows command-line program first: the cross-built core must compute the same bytes.
wine "$windows_build/convoluzione-cli.exe" "$(winpath "$input")" "$(winpath "$impulse")" \
    "$(winpath "$work/uscita-cli.exe.wav")" || fail "convoluzione-cli.exe non ha finito il lavoro"
cmp "$work/uscita-cli.exe.wav" "$work/riferimento.wav" ||
    fail "convoluzione-cli.exe scrive byte diversi dal programma nativo"
echo "convoluzione-cli.exe: identico al programma nativo"

WINEDEBUG="${E2E_WINEDEBUG:-$WINEDEBUG}" wine "$program" >"$work/wine.log" 2>&1 &
program_pid=$!

# Waits for a visible window whose title matches the pattern; prints its id.
wait_window() {
    local pattern="$1" seconds="${2:-30}" id
    local deadline=$(($(now_ms) + seconds * 1000))
    while (($(now_ms) < deadline)); do
        id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1 || true)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

wait_window_gone() {
    local id="$1" deadline=$(($(now_ms) + 30000))
    while xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable'; do
        (($(now_ms) < deadline)) || return 1
        sleep 0.1
    done
}

dialog=$(wait_window '^Convoluzione$') || fail "il dialogo non compare"
sleep 0.5
read -r origin_x origin_y width height < <(xwininfo -id "$dialog" |
    awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
         /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
echo "Dialogo a ${origin_x},${origin_y}, ${width}x${height} pixel"

# The dialog's client area is 250 x 87 dialog units; positions below are in those units,
# so the clicks land right whatever font Wine substitutes.
click_at() {
    local x=$(($1 * width / 250)) y=$(($2 * height / 87))
    xdotool mousemove --window "$dialog" "$x" "$y" click 1
}
pixel_at() {
    local x=$((origin_x + $2 * width / 250)) y=$((origin_y + $3 * height / 87))
    convert "$1" -crop "1x1+$x+$y" -depth 8 -format '%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]' info:
}

import -window root "$shots/idle.png"

# Keys go where a person's would: to the focused window, through the X server's own input.
focus() {
    timeout 10 xdotool windowactivate --sync "$1" >/dev/null 2>&1 ||
        timeout 10 xdotool windowfocus --sync "$1" >/dev/null 2>&1 || true
    sleep 0.2
}

# Picks a file through a browse button: Wine's own Open dialog, its name field typed.
choose() {
    local button_y="$1" path="$2" chooser prompt
    click_at 233 "$button_y"
    chooser=$(wait_window '^Open$') || fail "la finestra di scelta del file non compare"
    sleep 0.3
    focus "$chooser"
    xdotool type --delay 10 "$(winpath "$path")"
    xdotool key Return
    # A name that does not exist yet: the chooser asks whether to create it.
    if [ ! -e "$path" ]; then
        prompt=$(wait_window '^Error$' 10) || fail "manca la domanda per creare $path"
        import -window root "$shots/create-prompt.png"
        focus "$prompt"
        xdotool key Return
        wait_window_gone "$prompt" || fail "la domanda per creare il file resta aperta"
    fi
    wait_window_gone "$chooser" || fail "la finestra di scelta resta aperta"
    sleep 0.3
}

choose 19 "$input"
choose 38 "$impulse"
choose 55 "$output"
import -window root "$shots/ready.png"
# The start button: enabled now, so its face is no longer greyed; the bar is still hidden.
bar_point=(9 74) # inside the bar, near its left end, where the fill starts
idle_bar=$(pixel_at "$shots/ready.png" "${bar_point[@]}")

start=$(now_ms)
click_at 213 74

# The running look: the bar shown and already filled at its left end.
running=no
while (($(now_ms) - start < 60000)); do
    import -window root "$work/shot.png"
    bar=$(pixel_at "$work/shot.png" "${bar_point[@]}")
    if [ "$bar" != "$idle_bar" ] && [ "$bar" != "255,255,255" ]; then
        cp "$work/shot.png" "$shots/running.png"
        running=yes
        break
    fi
    if xdotool search --onlyvisible --name '^:-\)$' >/dev/null 2>&1; then
        break
    fi
    sleep 0.2
done
[ "$running" = yes ] || fail "non ho visto la barra di avanzamento durante il lavoro"

question=$(wait_window '^:-\)$' 600) || fail "la domanda finale non compare"
echo "Lavoro finito in $((($(now_ms) - start) / 1000)) s circa"
sleep 0.5
import -window root "$shots/question.png"
focus "$question"
xdotool key n # the box's "No"
wait_window_gone "$question" || fail "la domanda finale resta aperta dopo No"
sleep 0.5
import -window root "$shots/finished.png"
[ "$(pixel_at "$shots/finished.png" "${bar_point[@]}")" = "$idle_bar" ] ||
    fail "dopo No il dialogo non torna all'aspetto di riposo"

# Closing: Alt+F4 through the window manager, as from the close box.
focus "$dialog"
xdotool key alt+F4
status=0
for ((i = 0; i < 300; i++)); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$program_pid" 2>/dev/null && fail "il programma non termina dopo la chiusura del dialogo"
wait "$program_pid" || status=$?
program_pid=
[ "$status" = 0 ] || fail "stato d'uscita $status invece di 0"

cmp "$output" "$work/riferimento.wav" || fail "l'output del dialogo differisce da quello del programma nativo"
echo "E2E OK: uscita 0, output identico byte per byte ($(stat -c %s "$output") byte), schermate in $shots"
