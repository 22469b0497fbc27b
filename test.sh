#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh

export QUILLON_WERROR=ON
# Tests never see the machine's own serial ports, and never need a screen.
export QUILLON_PORTS=""
export QT_QPA_PLATFORM=offscreen

cmake --preset dev
cmake --build --preset dev
ctest --preset dev --timeout 300
