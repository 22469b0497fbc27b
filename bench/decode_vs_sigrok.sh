#!/usr/bin/env bash
# quillon-cli decode against sigrok-cli on the same files, same machine, same libsigrokdecode:
# the whole command's wall time, median of interleaved runs (one of ours, one of theirs, ...),
# after checking that both print the same lines. Then peak memory on a long file.
#   bench/decode_vs_sigrok.sh [RUNS]      (default 31; the 10 M-sample file gets 5)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-31}
cmake --preset release >/dev/null
cmake --build --preset release --target quillon-cli quillon-decoder bench_decode >/dev/null
cli=build/release/app/quillon-cli
work=$(mktemp -d /tmp/quillon-decode-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The emulator's bench: 4032 samples (the analyzer's capture) at 20 ns and 200 ns, and
# 10 million samples at 200 ns. The files' time scale is 1 ns: sigrok-cli reads one sample per
# analyzer sample with downsample = 20 x the rate multiplier.
build/release/bench/bench_decode --vcd "$work/b20.vcd" 4032 1
build/release/bench/bench_decode --vcd "$work/b200.vcd" 4032 10
build/release/bench/bench_decode --vcd "$work/long.vcd" 10000000 10

now_ms() { echo $(( ${EPOCHREALTIME/./} / 1000 )); }
median() { sort -n | awk '{a[NR]=$1} END {m=(NR+1)/2; print (NR%2 ? a[m] : (a[m-0.5]+a[m+0.5])/2)}'; }

# case FILE DOWNSAMPLE DECODERS RUNS
compare() {
    local file=$1 down=$2 pd=$3 n=$4
    "$cli" decode "$file" -P "$pd" >"$work/ours.txt"
    sigrok-cli -i "$file" -I "vcd:downsample=$down" -P "$pd" >"$work/theirs.txt"
    cmp -s "$work/ours.txt" "$work/theirs.txt" || { echo "outputs differ for $pd" >&2; exit 1; }
    : >"$work/t_ours"; : >"$work/t_theirs"
    for ((i = 0; i < n; i++)); do
        t0=$(now_ms); "$cli" decode "$file" -P "$pd" >/dev/null; t1=$(now_ms)
        sigrok-cli -i "$file" -I "vcd:downsample=$down" -P "$pd" >/dev/null; t2=$(now_ms)
        echo $((t1 - t0)) >>"$work/t_ours"; echo $((t2 - t1)) >>"$work/t_theirs"
    done
    local ours theirs
    ours=$(median <"$work/t_ours"); theirs=$(median <"$work/t_theirs")
    printf '%-44s %-16s %7s ms %7s ms %5.2fx %6d lines\n' "$pd" "$(basename "$file")" \
        "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)" "$(wc -l <"$work/ours.txt")"
}

echo "== whole command, median of interleaved runs: decoders, file, quillon-cli, sigrok-cli, ratio"
compare "$work/b200.vcd" 200 uart:rx=D8:baudrate=921600:format=ascii "$runs"
compare "$work/b200.vcd" 200 i2c:scl=D13:sda=D14 "$runs"
compare "$work/b20.vcd" 20 spi:clk=D4:mosi=D5:miso=D6:cs=D7 "$runs"
compare "$work/long.vcd" 200 uart:rx=D8:baudrate=921600:format=ascii 5

echo "== peak resident memory on the 10 M-sample file, timing decoder on D0 (every edge)"
for cmd in "$cli decode $work/long.vcd -P timing:data=D0" \
           "sigrok-cli -i $work/long.vcd -I vcd:downsample=200 -P timing:data=D0"; do
    /usr/bin/time -f "%M KiB peak, %e s  ${cmd%% *}" $cmd 2>&1 >"$work/lines.txt" | tail -1
    echo "   $(wc -l <"$work/lines.txt") lines"
done
