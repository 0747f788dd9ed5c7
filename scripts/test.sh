#!/usr/bin/env bash
# Installs what is missing, builds Korvel (GCC, release) and runs every test.
# Usage: scripts/test.sh [extra CMake options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KORVEL_BUILD_DIR:-$root/build/release}"

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
