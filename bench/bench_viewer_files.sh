#!/usr/bin/env bash
# The viewer on big captures, every figure of BENCHMARKS.md's viewer tables:
#  1. bench_viewer --open on each file (offscreen, 1920 x 1080): first frame, whole picture,
#     wheel steps, drags and arrow keys (median, 95th percentile), peak memory;
#  2. bench_viewer --made on 10 and 100 million samples made in memory (the window's share
#     without any file reader);
#  3. bench/bench_open.py: quillon, PulseView and sigrok-cli -O null opening each file, timed
#     from outside on an Xvfb display.
#   bench/bench_viewer_files.sh [DIR]   (the files of bench/make_captures.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-/tmp/quillon-bench}
runs=${RUNS:-3}
bench/make_captures.sh "$dir" >/dev/null
cmake --build --preset release --target bench_viewer quillon >/dev/null
export QUILLON_PORTS=""
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
echo "== machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== the viewer window reading each file (bench_viewer --open, offscreen)"
for file in "$dir"/bench-*.*; do
    XDG_CONFIG_HOME="$home" QT_QPA_PLATFORM=offscreen build/release/bench/bench_viewer \
        --open "$file" 2>/dev/null
done
echo "== the window alone, the capture made in memory (bench_viewer --made)"
for n in 10000000 100000000; do
    XDG_CONFIG_HOME="$home" QT_QPA_PLATFORM=offscreen build/release/bench/bench_viewer \
        --made "$n" 2>/dev/null
done
echo "== opening each file, timed from outside on Xvfb (medians of $runs runs)"
# PulseView imports a VCD at its time scale: our 24 MHz files (1 ps scale) took it to 14 GB at
# 1M samples. It gets the session files; the VCDs are opened by quillon and sigrok-cli only.
python3 bench/bench_open.py --runs "$runs" "$dir"/bench-*.sr
python3 bench/bench_open.py --runs "$runs" --programs quillon,sigrok-cli "$dir"/bench-*.vcd
echo "== load afterwards: $(cut -d' ' -f1-3 /proc/loadavg)"
