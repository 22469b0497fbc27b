#!/usr/bin/env bash
# Installs what Quillon needs to build, run and test on Debian 12; skips what is there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config dpkg-dev file ccache
    qt6-base-dev libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth fonts-ipafont-gothic
    sigrok-cli time
    libsigrokdecode-dev libzip-dev libcli11-dev
    clang libclang-rt-14-dev
    help2man lintian
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install as root: ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
