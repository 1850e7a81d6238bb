#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
# Usage: tools/install-build-deps.sh [extra packages...]
set -euo pipefail

packages=(cmake g++ make pkg-config qtbase5-dev qtbase5-dev-tools libhidapi-dev zlib1g-dev
          binutils-mingw-w64-x86-64 ttf-bitstream-vera "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
