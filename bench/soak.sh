#!/usr/bin/env bash
# 100-capture soak of the window (bench_capture --soak, one process) and of quillon-cli (100 processes
# against one emulator): memory and descriptors at the start, after 25 and after 100 runs.
# Usage: bench/soak.sh [BUILD_DIR] [RUNS]   (default build/release, 100)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release}
runs=${2:-100}
export QT_QPA_PLATFORM=offscreen QUILLON_PORTS=""

"$bin/bench/bench_capture" --soak "$runs" 2>/dev/null

work=$(mktemp -d /tmp/quillon-soak.XXXXXX)
"$bin/emulator/quillon-emu" --link "$work/analyzer" >/dev/null 2>&1 &
emu=$!
trap 'kill $emu 2>/dev/null; wait $emu 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -e "$work/analyzer" ] && break; sleep 0.1; done
report() {
    printf 'cli     %-14s peak RSS %6.1f MB  fds %s (emulator: RSS %6.1f MB, fds %s)\n' "$1" \
        "$(awk '{print $1 / 1024}' "$work/time")" "$(cat "$work/fds")" \
        "$(awk '/VmRSS/ {print $2 / 1024}' /proc/$emu/status)" "$(ls /proc/$emu/fd | wc -l)"
}
incomplete=0
for i in $(seq "$runs"); do
    QUILLON_PORTS="COM3=$work/analyzer" /usr/bin/time -f %M -o "$work/time" \
        "$bin/app/quillon-cli" capture -o "$work/soak.vcd" 2>"$work/err" &
    # The tool's descriptors while it downloads (the time program's child).
    sleep 1.2
    cli=$(pgrep -P $! quillon-cli || true)
    ls "/proc/$cli/fd" 2>/dev/null | wc -l >"$work/fds"
    # 5 (incomplete) counts as a run: a loaded machine may make the analyzer late.
    status=0
    wait $! || status=$?
    [ "$status" -eq 0 ] || [ "$status" -eq 5 ] || { echo "run $i failed:" >&2; cat "$work/err" >&2; exit 1; }
    [ "$status" -eq 0 ] || incomplete=$((incomplete + 1))
    case $i in 1) report "first run" ;; 25) report "after 25 runs" ;; "$runs") report "after $runs runs" ;; esac
done
echo "cli     $incomplete of $runs captures incomplete"
[ "$(ls -A "$work" | grep -c part)" -eq 0 ] || { echo "partial files left" >&2; exit 1; }
