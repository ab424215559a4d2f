#!/usr/bin/env bash
# The 64-bit ARM build and its tests: installs what is missing (the cross compiler, qemu-user,
# GoogleTest's sources), cross-builds the core, the command-line program and the tests with
# NEON kernels, and runs the tests through qemu-user. The engine's differential tests
# compare every path this build has (NEON with fused steps, NEON's double chain, portable)
# with the literal engine, byte for byte, so every run shows that 64-bit ARM writes the
# same bytes as every other build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/lib/install-deps.sh cmake make g++-aarch64-linux-gnu qemu-user googletest
cmake --preset arm64 >/dev/null
cmake --build --preset arm64
ctest --preset arm64
