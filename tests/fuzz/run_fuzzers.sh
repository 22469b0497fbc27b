#!/usr/bin/env bash
# Runs every fuzz target for a while: ./tests/fuzz/run_fuzzers.sh [SECONDS_EACH] [BUILD_DIR]
set -euo pipefail
seconds=${1:-10}
build=${2:-build/fuzz}
corpus_root=$(mktemp -d /tmp/quillon-fuzz.XXXXXX)
trap 'rm -rf "$corpus_root"' EXIT
for target in fuzz_replies fuzz_settings_word fuzz_store_packet fuzz_port_list fuzz_capture_file \
              fuzz_condition; do
    mkdir -p "$corpus_root/$target"
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -seed=1 -print_final_stats=1 \
        "$corpus_root/$target" 2>"$corpus_root/$target.log" || { cat "$corpus_root/$target.log"; exit 1; }
    runs=$(grep -m1 'stat::number_of_executed_units' "$corpus_root/$target.log" | awk '{print $2}')
    echo "$target: $runs executions in ${seconds}s, no failure"
done
