#!/usr/bin/env bash
# Configures and builds one CMake preset (release, asan or fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-release}
if [ "$preset" = fuzz ]; then
  scripts/setup.sh fuzz
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
