#!/usr/bin/env bash
# Reading capture files: quillon-cli info's wall time and peak memory per format and size,
# beside sigrok-cli -i FILE -O null, and the time to write the files; the table in
# BENCHMARKS.md. Release build.
#   bench/bench_files.sh [SIZE...]        sizes in samples, default 1M 10M 100M
# QUILLON_BASELINE=/path/to/an/older/quillon-cli adds its figures for our own VCD files at
# 25 MHz.
# The content is make_capture's: 16 channels at 24 MHz, a fast clock, SPI, a UART, a counter and
# slow random lines. sigrok-cli's VCD and CSV are made from our .sr by sigrok-cli itself (up to
# 10M samples: beyond, its conversion alone takes minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target quillon-cli make_capture >/dev/null
cli=$PWD/build/release/app/quillon-cli
make=$PWD/build/release/bench/make_capture
sigrok=$(command -v sigrok-cli || true)
dir=$(mktemp -d /tmp/quillon-files.XXXXXX)
trap 'rm -rf "$dir"' EXIT
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1M 10M 100M)

# One row: what, the file's size, wall time and peak resident set of the command.
row() {
    local what=$1 file=$2
    shift 2
    if /usr/bin/time -f "%e %M" -o "$dir/time" "$@" >/dev/null 2>"$dir/err"; then
        read -r seconds kib <"$dir/time"
        printf '| %s | %s | %s | %.2f s | %.0f MiB |\n' "$size" "$what" \
            "$(du -h "$file" | cut -f1)" "$seconds" "$((kib / 1024))"
    else
        printf '| %s | %s | %s | failed: %s | |\n' "$size" "$what" \
            "$(du -h "$file" | cut -f1)" "$(tail -1 "$dir/err")"
    fi
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| samples | what | file | time | peak RSS |"
echo "|---|---|---|---|---|"
for size in "${sizes[@]}"; do
    row "write .sr (make_capture)" "$dir/b.sr" "$make" "$size" "$dir/b.sr"
    row "write .vcd (make_capture)" "$dir/b.vcd" "$make" "$size" "$dir/b.vcd"
    row "quillon-cli info, our .sr" "$dir/b.sr" "$cli" info "$dir/b.sr"
    row "quillon-cli info, our .vcd" "$dir/b.vcd" "$cli" info "$dir/b.vcd"
    if [ -n "${QUILLON_BASELINE:-}" ]; then
        # The baseline reads only periods of whole time units: the same content at 25 MHz.
        "$make" "$size" "$dir/b25.vcd" 16 25MHz
        row "quillon-cli info, our .vcd at 25 MHz" "$dir/b25.vcd" "$cli" info "$dir/b25.vcd"
        row "baseline info, our .vcd at 25 MHz" "$dir/b25.vcd" "$QUILLON_BASELINE" info "$dir/b25.vcd"
        rm -f "$dir/b25.vcd"
    fi
    if [ -n "$sigrok" ]; then
        row "sigrok-cli -O null, our .sr" "$dir/b.sr" "$sigrok" -i "$dir/b.sr" -O null
        if [ "$(numfmt --from=si "$size")" -le 10000000 ]; then
            "$sigrok" -i "$dir/b.sr" -O vcd -o "$dir/s.vcd"
            "$sigrok" -i "$dir/b.sr" -O csv -o "$dir/s.csv"
            row "quillon-cli info, sigrok-cli's .vcd" "$dir/s.vcd" "$cli" info "$dir/s.vcd"
            row "quillon-cli info, sigrok-cli's .csv" "$dir/s.csv" "$cli" info "$dir/s.csv"
            row "sigrok-cli -O null, its .vcd" "$dir/s.vcd" "$sigrok" -i "$dir/s.vcd" -O null
            rm -f "$dir/s.vcd" "$dir/s.csv"
        fi
    fi
    rm -f "$dir/b.sr" "$dir/b.vcd"
done
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
