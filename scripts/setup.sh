#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is
# missing. Safe to run again: it installs nothing when all are present.
# "scripts/setup.sh fuzz" adds clang and its fuzzer runtime for the fuzz preset.
set -euo pipefail

packages=(
  g++ make cmake ninja-build
  flex bison
  zlib1g-dev libssl-dev
  libgtest-dev googletest
  graphviz
)
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
  fi
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
