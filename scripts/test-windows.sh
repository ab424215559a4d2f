#!/usr/bin/env bash
# Everything about the Windows programs in one command: installs what is missing, builds
# natively (the reference command-line program) and for Windows (mingw-w64), checks that
# the programs need no DLL beyond those Windows ships, runs the Windows test suite under
# Wine on a private X display, then the end-to-end run of the dialog. Exits non-zero on
# any failure.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
# shellcheck source=lib/windows-common.sh
source "$root/scripts/lib/windows-common.sh"


step "Packages"
ensure_windows_packages "${windows_packages[@]}"

step "Native build (the reference program)"
cmake --preset default >/dev/null
cmake --build --preset default --target convoluzione-cli convoluzione-demo-data >/dev/null

step "Windows build (build-windows/)"
cmake --preset windows >/dev/null
cmake --build --preset windows

step "DLLs the Windows programs load"
# DLLs every Windows installation has; anything else (libstdc++-6.dll, libgcc_s_seh-1.dll,
# libwinpthread-1.dll, ...) would have to travel with the program.
system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|advapi32|msvcrt|ws2_32|ole32)\.dll$'
for program in convoluzione.exe convoluzione-cli.exe; do
    dlls=$(x86_64-w64-mingw32-objdump -p "build-windows/$program" | awk '/DLL Name:/ {print tolower($3)}')
    for dll in $dlls; do
        if ! [[ $dll =~ $system_dlls ]]; then
            echo "$program needs $dll, which Windows does not ship" >&2
            exit 1
        fi
    done
    echo "$program: $(echo $dlls)"
done
headers=$(x86_64-w64-mingw32-objdump -p build-windows/convoluzione.exe)
if ! grep -q 'Subsystem.*Windows GUI' <<<"$headers"; then
    echo "convoluzione.exe is not a GUI program (built without -mwindows)" >&2
    exit 1
fi

step "Tests under Wine"
use_wine_prefix "$root/build-windows/wine-prefix"
cleanup() {
    stop_wine
    stop_display
}
trap cleanup EXIT
start_display
start_wine
ctest_log="$root/build-windows/ctest-windows.log"
ctest --preset windows | tee "$ctest_log"
ctest_count=$(grep -oE 'tests failed out of [0-9]+' "$ctest_log" | grep -oE '[0-9]+$')
cleanup
trap - EXIT

step "End-to-end run of the dialog"
bash "$root/scripts/e2e-windows.sh"

step "All passed"
# CTest's tests plus the end-to-end run, in the form test summaries close with.
echo "$((ctest_count + 1)) passed, 0 failed"
