#!/usr/bin/env bash
# Command two of the README: set-up, then every test in the release build and
# again in the AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
for preset in release asan; do
  echo "== $preset build"
  scripts/build.sh "$preset"
  echo "== $preset tests"
  ctest --preset "$preset" -j "$jobs"
done
