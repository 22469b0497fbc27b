#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs every test:
# the whole suite, again under AddressSanitizer + UndefinedBehaviorSanitizer, the threaded
# tests under ThreadSanitizer, and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh

export QUILLON_WERROR=ON
# Tests never see the machine's own serial ports, and never need a screen.
export QUILLON_PORTS=""
export QT_QPA_PLATFORM=offscreen

step() { printf '\n=== %s\n' "$*"; }
summary=$(mktemp /tmp/quillon-test.XXXXXX)
trap 'rm -f "$summary"' EXIT
# Every CTest run's closing lines go into one tally at the end.
run_ctest() { ctest "$@" 2>&1 | tee -a "$summary"; }

step "Build and test (debug)"
cmake --preset dev
cmake --build --preset dev
run_ctest --preset dev --timeout 900

step "Address and undefined-behaviour sanitizers: the whole suite"
cmake --preset asan
cmake --build --preset asan
run_ctest --preset asan --timeout 900 --label-exclude stress

step "Thread sanitizer: the threaded tests"
threaded="test_device test_capture test_emulator test_capture_gui test_faults_gui test_decoder_gui"
cmake --preset tsan
# shellcheck disable=SC2086
cmake --build --preset tsan --target $threaded tsan_racy_check
run_ctest --preset tsan --timeout 900 -R 'test_capture_gui|test_faults_gui|test_decoder_gui|CaptureRun|LinkTest|SerialPort|Emu'
tests/tsan/check_tsan_sees_races.sh build/tsan

step "Fuzz targets, a short run each"
cmake --preset fuzz
cmake --build --preset fuzz
tests/fuzz/run_fuzzers.sh "${QUILLON_FUZZ_SECONDS:-10}" build/fuzz

total=$(grep -Eo 'tests passed, 0 tests failed out of [0-9]+' "$summary" | awk '{s += $NF} END {print s + 0}')
step "All tests passed"
echo "$total passed, 0 failed"
