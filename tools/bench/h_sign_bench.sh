#!/usr/bin/env bash
# Benchmark of H_Sign (a measurement, not a test; CI does not run it). Runs N calls (default 50)
# in one cscript process against the test server and the virtual card, then times the parts of
# a call natively and alone, and prints the split and the ratio of the whole to the parts.
#
#   tools/bench/h_sign_bench.sh [N]        (as root: private namespaces, like tests/e2e)
#
# Under Wine: N calls of H_Sign, then of GetHCConnectNo (the scan) and ServiceStatus (proxy
# discovery and connect); the server's event log splits each H_Sign call by its messages. The
# batch runs twice: against a server that delays its acknowledgements (Linux's default) and one
# that acknowledges every message at once (--quick-ack).
# Natively, alone: RSA-1024 key generation (qardex-hsign-parts keygen), the exchange with the
# server without key generation and with the card in-process (qardex-hsign-parts dialogue), the
# card's APDUs through pcscd (qardex-hsign-parts card; qardex-pcsc-bench for the scan alone).
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/network.sh"
scenario_init "$@"
calls=${1:-50}
[[ $calls =~ ^[0-9]+$ && $calls -ge 1 && $calls -le 1000 ]] || qx_die "N must be 1 to 1000"
[[ -x $QX_NATIVE/qardex-hsign-parts ]] || qx_die "missing $QX_NATIVE/qardex-hsign-parts"
prepare_wine
net_init

net_scenario "H_Sign benchmark, $calls calls"
add_reader "QX Bench"
insert_card 0
start_pcscd

# wine_batch NAME [SERVER OPTIONS...]: N calls of each method; keeps NAME.out and NAME.events.
wine_batch() {
  local name=$1
  shift
  start_authserver --modes "normal*$calls,accept-close*$calls" "$@"
  run_js cloud/h_sign_bench.js "$calls"
  stop_authserver
  mv "$QX_FILES/h_sign_bench.out" "$QX_FILES/$name.out"
  mv "$QX_AUTH_EVENTS" "$QX_FILES/$name.events"
}
wine_batch delayed-ack
wine_batch quick-ack --quick-ack

# stats BATCH NAME: "mean median min max" in milliseconds of the batch's "bench NAME ..." line.
stats() {
  tr -d '\r' <"$QX_FILES/$1.out" | awk -v name="$2" '$1 == "bench" && $2 == name {
    for (i = 3; i <= NF; i++) print $i }' | sort -n |
    awk '{ v[NR] = $1; sum += $1 }
      END { if (NR) printf "%.1f %.1f %d %d", sum / NR, v[int((NR + 1) / 2)], v[1], v[NR] }'
}

# server_split BATCH: means in ms, from the server's marks ("<X" message in, ">X" reply out) on
# the H_Sign connections: the client's time between two connections, connect to Hello, Hello
# reply to key message, the card's commands, the server's own work, final reply to close.
server_split() {
  awk -v calls="$calls" '
    $2 == "gap-ms" && $1 <= calls { gap += $3; gaps++ }
    $2 == "timing" && $1 <= calls {
      for (i = 3; i <= NF; i++) { split($i, kv, "="); t[kv[1]] = kv[2] }
      hello += t["<hello"]; keys += t["<key"] - t[">hello"]; tail += t["closed"] - t[">final"]
      server += t[">hello"] - t["<hello"]; server += t[">02"] - t["<01"]
      server += t[">final"] - t["<03"]
      card += t["<01"] - t["<key"]; card += t["<03"] - t[">02"]; n++
    }
    END { if (n && gaps) printf "%.2f %.2f %.2f %.2f %.2f %.2f", gap / gaps, hello / n, keys / n,
          card / n, server / n, tail / n }' "$QX_FILES/$1.events"
}

part() { "$QX_NATIVE/qardex-hsign-parts" "$@" | sed -n 's/^mean_ms=\([0-9.]*\).*/\1/p'; }

start_authserver --modes "normal*$calls"
keygen=$(part keygen "$calls")
dialogue=$(part dialogue "$calls" "$QX_AUTH_PORT" "$("$QX_NATIVE/qardex-tool" hello-key)")
card=$(part card "$calls")
scan_native=$("$QX_NATIVE/qardex-pcsc-bench" "$calls" | sed -n 's/^mean_us=\([0-9.]*\).*/\1/p')
stop_authserver

read -r sign_mean sign_median sign_min sign_max <<<"$(stats delayed-ack h_sign)"
read -r quick_mean quick_median quick_min quick_max <<<"$(stats quick-ack h_sign)"
read -r scan_mean _ <<<"$(stats delayed-ack scan)"
read -r connect_mean _ <<<"$(stats delayed-ack connect)"
read -r gap hello_in keys card_wine server tail <<<"$(server_split delayed-ack)"
read -r _ _ _ quick_card _ _ <<<"$(server_split quick-ack)"

awk -v calls="$calls" -v mean="$sign_mean" -v median="$sign_median" -v low="$sign_min" \
  -v high="$sign_max" -v quick="$quick_mean" -v quick_median="$quick_median" \
  -v quick_card="$quick_card" -v scan="$scan_mean" -v connect="$connect_mean" \
  -v keygen="$keygen" -v dialogue="$dialogue" -v card="$card" -v scan_native="$scan_native" \
  -v gap="$gap" -v hello_in="$hello_in" -v keys="$keys" -v card_wine="$card_wine" \
  -v server="$server" -v tail="$tail" 'BEGIN {
  parts = keygen + dialogue + card
  printf "H_Sign under Wine, %d calls in one process: mean %.1f ms (median %.1f, min %d, max %d)\n",
         calls, mean, median, low, high
  printf "  against a server acknowledging at once: mean %.1f ms (median %.1f)\n", quick,
         quick_median
  printf "  same process: GetHCConnectNo %.1f ms, ServiceStatus %.1f ms\n", scan, connect
  printf "Split of a Wine call as the server saw it (means, ms):\n"
  printf "  between calls: end of one, key generation, scan, connect  %7.2f\n", gap
  printf "  connect to Hello received                                %7.2f\n", hello_in
  printf "  Hello reply to key message (client RSA under Wine)       %7.2f\n", keys
  printf "  key message to \"01\", \"02\" to \"03\" (card, Triple-DES)    %7.2f  (%.2f acking at once)\n",
         card_wine, quick_card
  printf "  server work (native, sanitizer build)                    %7.2f\n", server
  printf "  final reply to close                                     %7.2f\n", tail
  printf "Parts measured natively, alone (mean of %d):\n", calls
  printf "  RSA-1024 key generation          %7.2f ms  %5.1f%%\n", keygen, 100 * keygen / parts
  printf "  exchange with the server         %7.2f ms  %5.1f%%\n", dialogue, 100 * dialogue / parts
  printf "  card APDUs through pcscd         %7.2f ms  %5.1f%%  (scan alone %.2f ms)\n", card,
         100 * card / parts, scan_native / 1000
  printf "  sum                              %7.2f ms\n", parts
  printf "Ratio H_Sign under Wine / sum of native parts: %.2f (%.2f acking at once)\n",
         mean / parts, quick / parts
}' | tee "$QX_FILES/report.txt"
finish
