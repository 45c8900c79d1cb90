#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Usage: scripts/setup.sh [extra-package...]
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-dev libpugixml-dev libgtest-dev googletest
          libbenchmark-dev python3 libxml2-utils pkg-config libisofs-dev libarchive-dev
          libssl-dev zlib1g-dev
          xorriso genisoimage chromium man-db bash-completion zsh "$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
