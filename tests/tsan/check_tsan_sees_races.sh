#!/usr/bin/env bash
# Proves that with our suppressions ThreadSanitizer still reports a race in our own code.
# Usage: tests/tsan/check_tsan_sees_races.sh [BUILD_DIR]   (a tsan-preset build)
set -uo pipefail
build=${1:-build/tsan}
here=$(cd "$(dirname "$0")" && pwd)
log=$(TSAN_OPTIONS="suppressions=$here/../tsan.supp" "$build/tests/tsan/tsan_racy_check" 2>&1)
if grep -q "WARNING: ThreadSanitizer: data race" <<<"$log" && grep -q "racy_check.cpp" <<<"$log"; then
    echo "ThreadSanitizer reported the deliberate race with the suppressions in place."
else
    echo "ThreadSanitizer did NOT report the deliberate race: the suppressions hide too much." >&2
    exit 1
fi
