#!/usr/bin/env bash
# Writes the viewer benchmarks' capture files with make_capture (16 channels at 24 MHz: a fast
# clock, SPI, a UART, a counter and slow random lines), 4k to 100M samples, as bench-N.vcd (and
# bench-N.sr, ... when FORMATS says so). Files already there are kept.
#   bench/make_captures.sh [DIR]      (default /tmp/quillon-bench)
#   SIZES="4k 100k" FORMATS="vcd sr" bench/make_captures.sh DIR
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-/tmp/quillon-bench}
sizes=${SIZES:-"4k 100k 1M 10M 100M"}
formats=${FORMATS:-"vcd sr"}
cmake --preset release >/dev/null
cmake --build --preset release --target make_capture >/dev/null
mkdir -p "$dir"
for n in $sizes; do
    for format in $formats; do
        file="$dir/bench-$n.$format"
        if [ ! -s "$file" ]; then
            build/release/bench/make_capture "$n" "$file"
        fi
        ls -l "$file"
    done
done
