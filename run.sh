#!/usr/bin/env bash
# Installs what is missing, builds Quillon and starts it on the emulated analyzer.
# Without a display it captures once headless and prints the path of a screenshot: that path
# is the last line on standard output; everything else goes to standard error.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh >&2
cmake --preset release >&2
# The programs, and what `cmake --install build/release` needs besides them (icons, manuals).
cmake --build --preset release --target quillon quillon-emu quillon-cli quillon_icons \
    quillon_docs >&2

bin=build/release
work=$(mktemp -d /tmp/quillon-run.XXXXXX)
link="$work/analyzer"
"$bin/emulator/quillon-emu" --link "$link" >"$work/emulator.out" 2>&1 &
emu=$!
trap 'kill $emu 2>/dev/null; wait $emu 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
[ -e "$link" ] || { echo "the emulator did not start" >&2; cat "$work/emulator.out" >&2; exit 1; }

# The emulated analyzer is the only port the program searches.
export QUILLON_PORTS="COM3=$link"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Quillon is running on the emulated analyzer at $(readlink "$link"): press Run." >&2
    "$bin/app/quillon"
else
    shot="${QUILLON_SCREENSHOT:-$PWD/$bin/quillon-screenshot.png}"
    echo "No display: one capture headless, then a screenshot." >&2
    "$bin/app/quillon" --screenshot "$shot"
fi
