#!/usr/bin/env bash
# Benchmark, not a test: the time of one GetHCConnectNo under Wine (page script, COM, the winscard
# bridge, pcsc-lite) against the same PC/SC calls and APDUs made natively by qardex-pcsc-bench.
# Setup: two one-slot readers, the card in the second, so both scans try the empty reader first.
# GetHCConnectNo also appends its lines to the daily log, which the native client does not.
#
#   tools/bench/connect_no_bench.sh [CALLS]     (default 500; root, like the end-to-end tests)
#
# Prints the per-call times in microseconds and their ratio.
source "$(dirname "${BASH_SOURCE[0]}")/../../testbed/scenario.sh"
scenario_init "$@"
calls=${1:-500}
[[ $calls =~ ^[1-9][0-9]*$ ]] || qx_die "CALLS must be a positive number, not '$calls'"
prepare_wine

scenario "two readers, card in the second"
add_reader "QX Alpha"
add_reader "QX Beta"
insert_card 1
start_pcscd

# run_js takes scripts relative to tests/e2e; this one belongs to the benchmark.
timing=$QX_FILES/wine-timing.txt
run_js ../../tools/bench/connect_no_calls.js "$calls" "$(winepath -w "$timing")"
[[ $(tr -d '\r' <"$timing") =~ total_ms=([0-9]+) ]] || qx_die "no timing from the page script"
wine_us=$((BASH_REMATCH[1] * 1000 / calls))

"$QX_NATIVE/qardex-pcsc-bench" 20 >/dev/null # warm-up
native=$("$QX_NATIVE/qardex-pcsc-bench" "$calls") ||
  fail "the native client missed the card: $native"
[[ $native =~ mean_us=([0-9.]+) ]] || qx_die "unexpected output of qardex-pcsc-bench: $native"
native_us=${BASH_REMATCH[1]}

printf 'GetHCConnectNo under Wine: %d us per call (%d calls)\n' "$wine_us" "$calls"
printf 'native pcsc-lite client:   %s us per scan (%d scans)\n' "$native_us" "$calls"
awk -v w="$wine_us" -v n="$native_us" 'BEGIN { printf "ratio Wine/native: %.1f\n", w / n }'
finish
