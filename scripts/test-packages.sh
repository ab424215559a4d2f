#!/usr/bin/env bash
# Checks what is shipped, as a user gets it: builds the .deb and the .tar.gz from the native
# build and the .zip from the Windows build, unpacks each into a temporary folder and runs
# the program it holds (the Linux one on the demo data, compared byte for byte with the
# built program's output; the Windows one under Wine), checks that the programs are
# stripped and that each package holds exactly what it should, and lints the manual page
# with both mandoc and groff. Prints each package's contents and size.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
# shellcheck source=lib/windows-common.sh
source "$root/scripts/lib/windows-common.sh"

fail() { echo "FAILED: $*" >&2; exit 1; }

step "Packages"
ensure_windows_packages "${windows_packages[@]}" dpkg-dev file mandoc groff-base unzip

scratch=$(mktemp -d)
cleanup() {
    stop_wine
    rm -rf "$scratch"
}
trap cleanup EXIT

step "Manual page"
page=docs/convoluzione-cli.1
mandoc -T lint -W all "$page" || fail "mandoc -T lint finds something in $page"
groff_says=$(groff -ww -z -man "$page" 2>&1)
[ -z "$groff_says" ] || fail "groff -ww warns about $page: $groff_says"
echo "$page: mandoc and groff find nothing"

step "Native packages (build/packages/)"
cmake --preset default >/dev/null
cmake --build --preset default --target convoluzione-cli convoluzione-demo-data >/dev/null
rm -rf build/packages
(cd build && cpack >/dev/null)
deb=build/packages/convoluzione_$(sed -n 's/^project(Convoluzione VERSION \([0-9.]*\).*/\1/p' \
    CMakeLists.txt)_amd64.deb
tgz=$(ls build/packages/convoluzione-*-linux-*.tar.gz)
[ -f "$deb" ] || fail "no $deb"

# The .deb's fields, and exactly the files a user runs or reads.
[ "$(dpkg-deb -f "$deb" Section)" = sound ] || fail "Section is not sound"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no dependencies from dpkg-shlibdeps"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')
expected="./usr/bin/convoluzione-cli ./usr/share/doc/convoluzione/CHANGELOG.md \
./usr/share/doc/convoluzione/LICENSE ./usr/share/doc/convoluzione/README.md \
./usr/share/doc/convoluzione/copyright ./usr/share/man/man1/convoluzione-cli.1.gz "
[ "$files" = "$expected" ] || fail "the .deb holds: $files"

# Unpacked as dpkg would, the program runs on the demo data and writes the built bytes.
dpkg-deb -x "$deb" "$scratch/deb"
unpacked="$scratch/deb/usr/bin/convoluzione-cli"
file "$unpacked" | grep -q ', stripped' || fail "the .deb's program is not stripped"
"$unpacked" --version | head -2
mkdir "$scratch/demo"
build/convoluzione-demo-data "$scratch/demo" >/dev/null
"$unpacked" "$scratch/demo/chitarra-stereo.wav" "$scratch/demo/stanza-stereo.wav" \
    "$scratch/demo/from-deb.wav"
build/convoluzione-cli "$scratch/demo/chitarra-stereo.wav" "$scratch/demo/stanza-stereo.wav" \
    "$scratch/demo/from-build.wav"
cmp "$scratch/demo/from-deb.wav" "$scratch/demo/from-build.wav" ||
    fail "the .deb's program writes other bytes"
gzip -dc "$scratch/deb/usr/share/man/man1/convoluzione-cli.1.gz" | cmp - "$page" ||
    fail "another manual page"
grep -q '^License: Expat' "$scratch/deb/usr/share/doc/convoluzione/copyright" ||
    fail "no licence in the copyright file"
echo "the .deb's program wrote the same bytes as the built one"

# The .tar.gz: the same files under one top folder, bin/ and share/.
mkdir "$scratch/tgz"
tar -xzf "$tgz" -C "$scratch/tgz"
top=$(ls "$scratch/tgz")
"$scratch/tgz/$top/bin/convoluzione-cli" --version >/dev/null || fail "the .tar.gz's program"
[ -f "$scratch/tgz/$top/share/man/man1/convoluzione-cli.1.gz" ] || fail "no manual page in $tgz"

step "Windows package (build-windows/packages/)"
cmake --preset windows >/dev/null
cmake --build --preset windows --target convoluzione convoluzione-cli >/dev/null
rm -rf build-windows/packages
(cd build-windows && cpack >/dev/null)
zip=$(ls build-windows/packages/convoluzione-*-windows-x64.zip)
unzip -l "$zip"
listed=$(unzip -Z1 "$zip" | grep -v '/$' | sed 's|^[^/]*/||' | sort | tr '\n' ' ')
[ "$listed" = "LICENSE.txt README.txt convoluzione-cli.exe convoluzione.exe " ] ||
    fail "the .zip holds: $listed"
unzip -q "$zip" -d "$scratch/zip"
for program in "$scratch"/zip/*/*.exe; do
    if x86_64-w64-mingw32-objdump -h "$program" | grep -q '\.debug_'; then
        fail "$(basename "$program") is not stripped"
    fi
done
use_wine_prefix "$root/build-windows/wine-prefix"
start_wine
version=$(wine "$scratch"/zip/*/convoluzione-cli.exe --version | tr -d '\r')
echo "$version"
grep -q '^Licenza MIT' <<<"$version" || fail "the .zip's convoluzione-cli.exe --version"

step "What each package holds"
for package in "$deb" "$tgz" "$zip"; do
    echo "$(basename "$package"): $(stat -c %s "$package") bytes"
done
echo "the programs inside:"
stat -c '  %n: %s bytes' "$unpacked" "$scratch"/zip/*/*.exe | sed "s|$scratch/||"

step "All passed"
