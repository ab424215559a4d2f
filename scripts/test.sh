#!/usr/bin/env bash
# Sets up and runs every test: the layout check of the C++ sources (clang-format), the
# native build's test suite through CTest, then the Windows programs' tests under Wine and
# the end-to-end run of the dialog, then the packages (built, unpacked and run: the .deb
# and .tar.gz natively, the .zip under Wine; the manual page linted), then the 64-bit ARM
# build's tests under qemu-user, then the hardening checks (the suite under the sanitizers
# and both fuzz targets for 60 s each).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/lib/install-deps.sh cmake make g++ libgtest-dev libgmock-dev clang-format
bash scripts/check-format.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
bash scripts/test-windows.sh
bash scripts/test-packages.sh
bash scripts/test-arm64.sh
bash scripts/test-hardening.sh
