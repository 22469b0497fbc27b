#!/usr/bin/env bash
# Builds the Release tree and prints every figure in BENCHMARKS.md: drawing time per zoom,
# start-up and capture run against their pause floors, and the program's peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target bench_waveform bench_viewer bench_capture quillon quillon-emu
export QT_QPA_PLATFORM=offscreen QUILLON_PORTS=""

echo "== DrawWaveforms, full view, medians of 10 repetitions"
build/release/bench/bench_waveform --benchmark_repetitions=10 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep median

echo "== The viewer's picture at 1920 x 1080 (0: whole capture, 1: deepest zoom), medians of 20"
build/release/bench/bench_viewer --benchmark_repetitions=20 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep median

echo "== Start-up and capture run against the emulated analyzer"
build/release/bench/bench_capture "${1:-9}" 2>/dev/null

echo "== quillon-cli capture normal and --fast: the download (emulator's log) and the command"
bench/fast_download.sh "${1:-9}"

echo "== Peak memory of quillon --demo after one capture"
shot=$(mktemp /tmp/quillon-bench.XXXXXX.png)
/usr/bin/time -f "maximum resident set size: %M KiB, wall time %e s" \
    build/release/app/quillon --demo --screenshot "$shot" 2>&1 >/dev/null | grep -v XDG_RUNTIME
rm -f "$shot"

echo "== Searching 10 million samples of 16 channels (the matcher of find), medians of 5"
cmake --build --preset release --target bench_search >/dev/null
build/release/bench/bench_search --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep median
