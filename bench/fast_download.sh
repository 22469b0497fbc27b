#!/usr/bin/env bash
# quillon-cli capture with and without --fast, against the emulated analyzer paced like a
# 921600-baud line (Release build). Each round measures two spans:
#   command  the whole `quillon-cli capture -o FILE`, from its start to its exit: finding the
#            analyzer on the named port, the reset, the capture, writing the VCD file;
#   download from the settings command (SD) to the 64th packet request (REQPK) as the
#            emulator logs them, plus that packet's 2.78 ms on the line: the settings' pause,
#            DLD and the 64 packets.
# Prints the median, the minimum and the maximum of each, in seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-9}
build=build/release
cmake --preset release >/dev/null
cmake --build --preset release --target quillon-cli quillon-cli-full quillon-emu >/dev/null

work=$(mktemp -d /tmp/quillon-fast.XXXXXX)
emulator=
cleanup() {
    if [ -n "$emulator" ]; then kill "$emulator" 2>/dev/null || true; wait "$emulator" || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
"$build/emulator/quillon-emu" --link "$work/analyzer" --line-rate 921600 \
    --log "$work/emulator.log" >/dev/null 2>&1 &
emulator=$!
for _ in $(seq 50); do [ -e "$work/analyzer" ] && break; sleep 0.1; done
export QUILLON_PORTS="COM1=$work/analyzer" QT_QPA_PLATFORM=offscreen

# Median, min and max of the numbers on standard input.
summary() {
    sort -g | awk '{ v[NR] = $1 } END { printf "median %.3f s  min %.3f  max %.3f\n", v[int((NR + 1) / 2)], v[1], v[NR] }'
}

echo "quillon-cli capture, emulator at 921600 baud, $rounds rounds each ($(nproc) cores," \
     "load $(cut -d' ' -f1 /proc/loadavg))"
for mode in normal fast; do
    flag=()
    [ "$mode" = fast ] && flag=(--fast)
    : >"$work/command" && : >"$work/download"
    for _ in $(seq "$rounds"); do
        before=$(wc -l <"$work/emulator.log")
        start=$(date +%s%N)
        "$build/app/quillon-cli" capture "${flag[@]}" -o "$work/capture.vcd" 2>/dev/null
        end=$(date +%s%N)
        echo "($end - $start) / 1000000000" | bc -l >>"$work/command"
        sleep 0.2 # the emulator's log line of the last CAP
        tail -n +"$((before + 1))" "$work/emulator.log" | awk '
            $2 ~ /^SD/ { sd = $1; n = 0 }
            $2 ~ /^REQPK/ && sd != "" { if (++n == 64) last = $1 }
            END { printf "%.6f\n", (last - sd + 256 * 10 * 1000 / 921600) / 1000 }' >>"$work/download"
    done
    printf "%-7s command   %s\n" "$mode" "$(summary <"$work/command")"
    printf "%-7s download  %s\n" "$mode" "$(summary <"$work/download")"
done
