#!/usr/bin/env bash
# Builds the Windows program and opens its dialog through Wine on the current display.
# Installs what is missing first. The exit status is the program's.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
# shellcheck source=lib/windows-common.sh
source "$root/scripts/lib/windows-common.sh"

if [ -z "${DISPLAY:-}" ]; then
    echo "No display (DISPLAY is empty): run this from a graphical session, or see the" >&2
    echo "dialog on a virtual display with scripts/test-windows.sh (its screenshots land in" >&2
    echo "build-windows/screenshots/)." >&2
    exit 1
fi

ensure_windows_packages cmake make googletest mingw-w64 g++-mingw-w64-x86-64-posix \
    gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
cmake --preset windows >/dev/null
cmake --build --preset windows --target convoluzione

use_wine_prefix "$root/build-windows/wine-prefix"
start_wine
status=0
wine "$root/build-windows/convoluzione.exe" || status=$?
exit "$status"
