#!/usr/bin/env bash
# Installs what is missing, builds Korvel and starts it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KORVEL_BUILD_DIR:-$root/build/release}"

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build"
if [ -x "$build/korvel" ]; then
  exec "$build/korvel" "$@"
fi
echo "[UI] Korvel's core is built; the application window is not there yet."
