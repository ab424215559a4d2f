#!/usr/bin/env bash
# The Windows program used as a person would: under Wine, on a private X display with a
# window manager, the mouse clicks the browse buttons, the paths are typed into Wine's own
# file dialogs, and the jobs are started and stopped with the hands people really use:
#
# 1. "Avvia" double-clicked: the second click must not stop the job it has just started;
#    the job runs to the final question, answered "No", and the output must be the very
#    bytes the native command-line program writes for the same files;
# 2. Space pressed twice on the focused button: likewise;
# 3. Space to start, Space again a second later to stop ("Ferma"): no box, and the output
#    must be a finished WAV holding the start of those bytes; then Space once more must
#    still reach the button and run a whole job;
# 4. the dialog closed from the keyboard (Alt+F4): exit status 0;
# 5. a second run of the program whose job is cut short by the end of the Windows session
#    (wineboot --end-session): again a finished WAV holding the start of those bytes.
#
# Needs build-windows/ (cross build) and build/ (native build) made; scripts/test-windows.sh
# makes both. Screenshots land in build-windows/screenshots/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=lib/windows-common.sh
source "$root/scripts/lib/windows-common.sh"

windows_build="$root/build-windows"
native_build="$root/build"
work="$windows_build/e2e"
shots="$windows_build/screenshots"
program="$windows_build/convoluzione.exe"
for needed in "$program" "$windows_build/convoluzione-cli.exe" "$native_build/convoluzione-cli" \
              "$native_build/convoluzione-demo-data"; do
    if [ ! -x "$needed" ] && [ ! -f "$needed" ]; then
        echo "Missing $needed: run scripts/test-windows.sh first" >&2
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
    echo "E2E FAILED: $*" >&2
    [ -n "${DISPLAY:-}" ] && import -window root "$shots/failure.png" 2>/dev/null || true
    exit 1
}

now_ms() { date +%s%3N; }
sleep_until() {
    local left=$(($1 - $(now_ms)))
    ((left > 0)) && sleep "$((left / 1000)).$(printf %03d $((left % 1000)))"
    return 0
}

# ---- Files: the demo data, and an input long enough to watch the bar move ----

rm -rf "$work"
mkdir -p "$work" "$shots"
rm -f "$shots"/*.png
"$native_build/convoluzione-demo-data" "$work"

# A little-endian 32-bit field as raw bytes, and read back from a file at an offset.
le32() {
    printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"
    printf "\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"
}
field32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

# The recording repeated n times, in a file of the same format. The demo writer's files
# have the plain 44-byte header.
repeat_recording() {
    local times="$1" file="$2" data total i
    data=$(($(stat -c %s "$work/chitarra-stereo.wav") - 44))
    total=$((data * times))
    {
        head -c 4 "$work/chitarra-stereo.wav"
        le32 $((total + 36))
        head -c 40 "$work/chitarra-stereo.wav" | tail -c 32
        le32 "$total"
        for ((i = 0; i < times; i++)); do
            tail -c +45 "$work/chitarra-stereo.wav"
        done
    } >"$file"
}

# Each job must last a few seconds, so that the running look can be seen and a stop lands
# well inside it, whatever the engine's speed: time the native program on ten repeats of
# the demo recording (long enough for the computation to outweigh starting the program)
# and repeat the recording as often as the wanted length needs.
impulse="$work/stanza-stereo.wav"
repeat_recording 10 "$work/chitarra-10.wav"
start=$(now_ms)
"$native_build/convoluzione-cli" "$work/chitarra-10.wav" "$impulse" "$work/riferimento.wav"
elapsed=$(($(now_ms) - start))
target_ms=${E2E_JOB_MS:-3000} # how long each of the dialog's jobs should last
repeats=$(((target_ms * 10 + elapsed - 1) / (elapsed > 0 ? elapsed : 1)))
((repeats < 10)) && repeats=10
((repeats > 400)) && repeats=400
input="$work/chitarra-lunga.wav"
repeat_recording "$repeats" "$input"
"$native_build/convoluzione-cli" "$input" "$impulse" "$work/riferimento.wav"
reference="$work/riferimento.wav"
echo "Native reference: ${elapsed} ms for ten repeats of the demo recording; input repeated ${repeats} times"
output="$work/uscita.wav"

# A job cut short: a finished WAV (both size fields count what the file holds, in whole
# stereo frames), with the reference's format, holding at least one frame and fewer than
# the reference, and those frames are the reference's first ones.
check_start_of_reference() {
    local file="$1" what="$2" size riff data
    [ -f "$file" ] || fail "$what: $file is missing"
    size=$(stat -c %s "$file")
    riff=$(field32 "$file" 4)
    data=$(field32 "$file" 40)
    ((size >= 44 && riff == size - 8 && data == size - 44 && data % 4 == 0)) ||
        fail "$what: $size bytes, but the size fields say RIFF $riff, data $data"
    ((data > 0 && size < $(stat -c %s "$reference"))) ||
        fail "$what: $data bytes of samples, expected some but fewer than the whole job's"
    cmp -s -n 4 "$file" "$reference" && cmp -s -i 8 -n 32 "$file" "$reference" ||
        fail "$what: the header differs from the reference's"
    cmp -s -i 44 -n "$data" "$file" "$reference" ||
        fail "$what: the samples are not the start of the reference"
    echo "$what: finished WAV holding the first $((data / 4)) of the reference's frames"
}

# Windows paths for Wine: its drive Z: is the Linux root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# ---- The programs ----

use_wine_prefix "$windows_build/wine-prefix"
start_display
start_wine

# The Windows command-line program first: the cross-built core must compute the same bytes.
wine "$windows_build/convoluzione-cli.exe" "$(winpath "$input")" "$(winpath "$impulse")" \
    "$(winpath "$work/uscita-cli.exe.wav")" || fail "convoluzione-cli.exe did not finish its job"
cmp "$work/uscita-cli.exe.wav" "$reference" ||
    fail "convoluzione-cli.exe writes other bytes than the native program"
echo "convoluzione-cli.exe: identical to the native program"

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

# Starts the program and finds its dialog: sets program_pid, dialog and its geometry.
dialog=
origin_x=0 origin_y=0 width=0 height=0
start_program() {
    WINEDEBUG="${E2E_WINEDEBUG:-$WINEDEBUG}" wine "$program" >>"$work/wine.log" 2>&1 &
    program_pid=$!
    dialog=$(wait_window '^Convoluzione$') || fail "the dialog does not appear"
    sleep 0.5
    read -r origin_x origin_y width height < <(xwininfo -id "$dialog" |
        awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
             /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
    echo "Dialog at ${origin_x},${origin_y}, ${width}x${height} pixels"
}

# Waits for the program to end; its exit status must be 0.
expect_exit_zero() {
    local what="$1" status=0 i
    for ((i = 0; i < 300; i++)); do
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$program_pid" 2>/dev/null && fail "the program does not end after $what"
    wait "$program_pid" || status=$?
    program_pid=
    [ "$status" = 0 ] || fail "exit status $status instead of 0 after $what"
}

# The dialog's client area is 250 x 87 dialog units; positions below are in those units,
# so the clicks land right whatever font Wine substitutes.
mouse_to() {
    xdotool mousemove --window "$dialog" $(($1 * width / 250)) $(($2 * height / 87))
}
click_at() {
    mouse_to "$1" "$2"
    xdotool click 1
}
pixel_at() {
    local x=$((origin_x + $2 * width / 250)) y=$((origin_y + $3 * height / 87))
    convert "$1" -crop "1x1+$x+$y" -depth 8 -format '%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]' info:
}

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
    chooser=$(wait_window '^Open$') || fail "the file chooser does not appear"
    sleep 0.3
    focus "$chooser"
    xdotool type --delay 10 "$(winpath "$path")"
    xdotool key Return
    # A name that does not exist yet: the chooser asks whether to create it.
    if [ ! -e "$path" ]; then
        prompt=$(wait_window '^Error$' 10) || fail "no question whether to create $path"
        [ -e "$shots/create-prompt.png" ] || import -window root "$shots/create-prompt.png"
        focus "$prompt"
        xdotool key Return
        wait_window_gone "$prompt" || fail "the question whether to create the file stays open"
    fi
    wait_window_gone "$chooser" || fail "the file chooser stays open"
    sleep 0.3
}

start_button=(213 74)
bar_point=(9 74) # inside the bar, near its left end, where the fill starts
idle_bar=

# The running look: the bar shown and filled at its left end (from this job, or still
# from the last one: a new job does not reset it). Saves the screenshot as $1 if given.
wait_running() {
    local what="$1" shot="${2:-}" begin bar
    begin=$(now_ms)
    while (($(now_ms) - begin < 20000)); do
        import -window root "$work/shot.png"
        bar=$(pixel_at "$work/shot.png" "${bar_point[@]}")
        if [ "$bar" != "$idle_bar" ] && [ "$bar" != "255,255,255" ]; then
            [ -n "$shot" ] && cp "$work/shot.png" "$shots/$shot"
            return 0
        fi
        if xdotool search --onlyvisible --name '^:-\)$' >/dev/null 2>&1; then
            fail "$what: the job was over before its running look could be seen"
        fi
        sleep 0.2
    done
    fail "$what: no running look (bar) within 20 s: no job started, or it ended at once"
}

# The idle look again: the bar hidden.
wait_idle() {
    local what="$1" begin
    begin=$(now_ms)
    while (($(now_ms) - begin < 20000)); do
        import -window root "$work/shot.png"
        [ "$(pixel_at "$work/shot.png" "${bar_point[@]}")" = "$idle_bar" ] && return 0
        sleep 0.2
    done
    fail "$what: the dialog does not return to its idle look"
}

# Waits for the final question of a job that must run to its end. The running look lasts
# while the box is up, so a bar hidden with no box means the job stopped (or failed) early.
wait_question() {
    local what="$1" begin question
    begin=$(now_ms)
    while (($(now_ms) - begin < 600000)); do
        question=$(xdotool search --onlyvisible --name '^:-\)$' 2>/dev/null | head -1 || true)
        if [ -n "$question" ]; then
            echo "$question"
            return 0
        fi
        import -window root "$work/shot.png"
        if [ "$(pixel_at "$work/shot.png" "${bar_point[@]}")" = "$idle_bar" ] &&
            ! xdotool search --onlyvisible --name '^(:-\)|Errore)$' >/dev/null 2>&1; then
            cp "$work/shot.png" "$shots/failure-early-end.png"
            fail "$what: the job ended without its final question (stopped?)"
        fi
        sleep 0.3
    done
    fail "$what: no final question after 600 s"
}

# Answers "No" to the final question and checks the idle look and the whole output.
answer_no() {
    local what="$1" question="$2" shot="${3:-}"
    sleep 0.5
    [ -n "$shot" ] && import -window root "$shots/$shot"
    focus "$question"
    xdotool key n # the box's "No"
    wait_window_gone "$question" || fail "$what: the final question stays open after No"
    sleep 0.5
    wait_idle "$what"
    cmp "$output" "$reference" || fail "$what: the dialog's output differs from the native program's"
    echo "$what: ran to its end, output identical to the native program's"
}

# ---- Run 1: double click, keys pressed twice, Ferma from the keyboard, Alt+F4 ----

start_program
import -window root "$shots/idle.png"
choose 19 "$input"
choose 38 "$impulse"
choose 55 "$output"
import -window root "$shots/ready.png"
# The start button is enabled now; the bar is still hidden.
idle_bar=$(pixel_at "$shots/ready.png" "${bar_point[@]}")

what="double click on Avvia"
mouse_to "${start_button[@]}"
start=$(now_ms)
xdotool click --repeat 2 --delay 80 1
wait_running "$what" running.png
question=$(wait_question "$what")
echo "$what: job over in about $((($(now_ms) - start) / 1000)) s"
answer_no "$what" "$question" question.png
import -window root "$shots/finished.png"

# The button kept the focus from the click, and gets it back with the dialog.
what="Space pressed twice"
focus "$dialog"
xdotool key --delay 80 space space
wait_running "$what"
question=$(wait_question "$what")
answer_no "$what" "$question"

what="Space, then Space again (Ferma)"
focus "$dialog"
start=$(now_ms)
xdotool key space
wait_running "$what"
# Presses sooner than the double-click time (500 ms under Wine) after the one before are
# taken as its second half, so the keys below keep well apart.
sleep_until $((start + 700))
xdotool search --onlyvisible --name '^:-\)$' >/dev/null 2>&1 &&
    fail "$what: the job was over before Ferma could be pressed (raise E2E_JOB_MS)"
stopped_at=$(now_ms)
xdotool key space
wait_idle "$what"
import -window root "$shots/stopped.png"
xdotool search --onlyvisible --name '^(:-\)|Errore)$' >/dev/null 2>&1 &&
    fail "$what: a box appeared after Ferma"
check_start_of_reference "$output" "$what"

# Ferma disabled itself: the focus must have moved on and come back, or Space would now
# reach nothing.
what="Space after Ferma"
sleep_until $((stopped_at + 1000))
xdotool key space
wait_running "$what"
question=$(wait_question "$what")
answer_no "$what" "$question"

# Closing: Alt+F4 through the window manager, as from the close box.
focus "$dialog"
xdotool key alt+F4
expect_exit_zero "Alt+F4"

# ---- Run 2: the Windows session ends during a job ----

what="session end during a job"
output="$work/uscita-sessione.wav"
start_program
choose 19 "$input"
choose 38 "$impulse"
choose 55 "$output"
click_at "${start_button[@]}"
wait_running "$what"
# Wine's own log-off: WM_QUERYENDSESSION and WM_ENDSESSION to every program's windows, then
# the end of any program still running.
wineboot --end-session >>"$work/wine.log" 2>&1 || fail "wineboot --end-session failed"
expect_exit_zero "the session's end"
check_start_of_reference "$output" "$what"

echo "E2E OK: exit status 0, outputs identical to the native program's or the start of it" \
    "($(stat -c %s "$reference") bytes in all), screenshots in $shots"
