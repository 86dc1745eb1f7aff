#!/usr/bin/env bash
# Command one of the README: set-up, release build, and the main job on the
# bundled example fingerprint.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release
bin=build/release/bin
example=examples/http_admin.fp

echo "== syntax check of $example"
"$bin/tirvo_compile" -S -f "$example"
echo "syntax check passed"
