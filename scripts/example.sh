#!/usr/bin/env bash
# Command one of the README: set-up, release build, and the main job on the
# bundled example fingerprint: compile it into a fingerprint file, then load
# that file back as a host does and print what the loader built.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release
bin=build/release/bin
example=examples/http_admin.fp
out=build/http_admin.tfp

echo "== compiling $example into $out"
"$bin/tirvo_compile" -f "$example" -s "$out"
echo "== loading $out"
"$bin/tirvo_fpinfo" "$out"
