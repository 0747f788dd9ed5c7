#!/usr/bin/env bash
# Installs what is missing, builds Korvel and starts it. Arguments are passed
# to the program (a project path opens that project).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KORVEL_BUILD_DIR:-$root/build/release}"

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target korvel
exec "$build/korvel" "$@"
