# Shared by the Windows scripts: packages, Wine's settings, a private X display, and the
# heading of each stage. Source it; it defines functions only (and the WINE* variables).

# A stage's heading, with the seconds since the script sourced this file.
stages_began=$(date +%s)
step() { echo; echo "== $* ($(($(date +%s) - stages_began)) s)"; }

# Debian packages the Windows build, its tests and the end-to-end run need, besides those
# of the native build (the reference the Windows programs are compared with).
windows_packages=(cmake make g++ libgtest-dev libgmock-dev googletest
                  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
                  binutils-mingw-w64-x86-64 wine wine64 xvfb xdotool x11-utils imagemagick
                  openbox)

# Installs the packages given that are missing (refreshing the package lists only then).
ensure_windows_packages() {
    bash "$(dirname "${BASH_SOURCE[0]}")/install-deps.sh" "$@"
}

# Wine keeps its own Windows installation (the prefix) inside the build tree, so nothing
# outside it is touched and a fresh machine works the same. No Mono or Gecko: the program
# needs neither, and their installers would stop to ask.
use_wine_prefix() {
    export WINEPREFIX="$1"
    export WINEDEBUG="${WINEDEBUG:--all}"
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
}

# Creates the prefix the first time (about ten seconds) and keeps one Wine server running
# for the whole session, so each program starts at once. Wine's helper processes (services,
# the desktop) are started here too, with their output going nowhere: started by a test
# instead, they would inherit CTest's pipes and keep it waiting until they end.
start_wine() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Setting up Wine in $WINEPREFIX ..."
        mkdir -p "$WINEPREFIX"
        DISPLAY= wineboot --init >/dev/null 2>&1
        wineserver --wait
    fi
    wineserver --persistent=60
    wine cmd /c exit >/dev/null 2>&1 </dev/null
}

stop_wine() {
    wineserver --kill 2>/dev/null || true
}

# A private X display with a window manager, so windows get their caption bars and Wine
# does not wait for a window manager that is not there. Sets DISPLAY; stop_display ends
# only the processes started here.
xvfb_pid=
openbox_pid=
start_display() {
    local number=90
    while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
        number=$((number + 1))
    done
    # -noreset: otherwise the server resets whenever its last client leaves, and a client
    # connecting at that moment (the window manager, right after the readiness probe) fails.
    # -r and the long repeat delay: no key repeats by itself when a loaded machine holds
    # back the server between a simulated key's press and its release (a path typed into a
    # chooser once came out as "build-windowws").
    Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp -noreset -r -ardelay 30000 \
        >/dev/null 2>&1 &
    xvfb_pid=$!
    local tries=0
    # Ready when it answers, not merely when its socket exists.
    until [ -e "/tmp/.X11-unix/X$number" ] && DISPLAY=":$number" xprop -root >/dev/null 2>&1; do
        tries=$((tries + 1))
        if ((tries > 100)) || ! kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "Xvfb does not start" >&2
            return 1
        fi
        sleep 0.1
    done
    export DISPLAY=":$number"
    local attempt log
    log=$(mktemp)
    for attempt in 1 2 3; do
        ((attempt > 1)) && { echo "openbox, attempt $attempt:" >&2; cat "$log" >&2; }
        openbox --sm-disable >"$log" 2>&1 &
        openbox_pid=$!
        tries=0
        while ((tries < 300)) && kill -0 "$openbox_pid" 2>/dev/null; do
            if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
                rm -f "$log"
                return 0
            fi
            tries=$((tries + 1))
            sleep 0.1
        done
        kill "$openbox_pid" 2>/dev/null || true
        wait "$openbox_pid" 2>/dev/null || true
        openbox_pid=
    done
    echo "openbox does not start:" >&2
    cat "$log" >&2
    rm -f "$log"
    return 1
}

stop_display() {
    if [ -n "$openbox_pid" ]; then
        kill "$openbox_pid" 2>/dev/null || true
        wait "$openbox_pid" 2>/dev/null || true
        openbox_pid=
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=
    fi
}
