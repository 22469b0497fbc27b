#!/usr/bin/env bash
# Writes the benchmarks' capture files: 16 channels at 20 ns per sample of a bench at work (a
# 12.5 MHz clock, a 1 MHz clock, SPI, four UARTs, PWM, I2C and slow random lines; see
# bench/bench_content.h), 4032 to 100 million samples, as bench-N.vcd (and bench-N.sr, ...
# when FORMATS says so). Files already there are kept.
#   bench/make_captures.sh [DIR]      (default /tmp/quillon-bench)
#   SIZES="4032 100000" FORMATS="vcd sr" bench/make_captures.sh DIR
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-/tmp/quillon-bench}
sizes=${SIZES:-"4032 100000 1000000 10000000 100000000"}
formats=${FORMATS:-vcd}
cmake --preset release >/dev/null
cmake --build --preset release --target make_bench_capture >/dev/null
mkdir -p "$dir"
for n in $sizes; do
    for format in $formats; do
        file="$dir/bench-$n.$format"
        if [ ! -s "$file" ]; then
            build/release/bench/make_bench_capture "$n" "$file"
        fi
        ls -l "$file"
    done
done
