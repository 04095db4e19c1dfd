#!/usr/bin/env bash
# The local service under load: CLIENTS clients (qardex-service-client, one kept-alive connection
# and one session each) call GetBasic and H_Sign in turn for SECONDS against the virtual card and
# the test server. Every answer must be right (GetBasic the card's line, H_Sign the 256
# characters the server computed for that call's own page random), the daily log must hold only
# whole entries, one per card read and per signature, and the service's memory, threads and
# handles must stay flat (first quarter of the samples against the last).
#
#   QARDEX_LOAD_SECONDS (default 60), QARDEX_LOAD_CLIENTS (default 16, the sessions one origin may hold)
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/network.sh"
source "$here/card_data/bytes.sh"
source "$here/service/local_service.sh"
scenario_init "$@"
seconds=${QARDEX_LOAD_SECONDS:-60}
clients=${QARDEX_LOAD_CLIENTS:-16}
[[ $seconds =~ ^[1-9][0-9]{0,3}$ && $seconds -ge 8 ]] || qx_die "QARDEX_LOAD_SECONDS: 8 to 9999"
[[ $clients =~ ^[1-9][0-9]?$ && $clients -le 16 ]] || qx_die "QARDEX_LOAD_CLIENTS: 1 to 16"
prepare_wine
net_init
service_app

# Growth allowed from the first quarter's mean to the last quarter's (see the report's numbers).
rss_bound_kb=4096
private_bound_kb=4096
handle_bound=10
thread_bound=2

card_number=000012345678
name="LOAD TEST HOLDER"
line="$card_number,A223344556,$(printf '%-20s' "$name"),0700101,F,1"

net_scenario "$clients clients, GetBasic and H_Sign for $seconds s"
add_reader "QX Solo"
insert_card 0 0 - <<EOF_CARD
card_number = $card_number
holder_name = "$name"
id_number = A223344556
birth_date = 0700101
sex = F
card_data_flag = 1
EOF_CARD
start_pcscd
start_authserver --modes "normal*10000" --lifetime $((seconds + 600))
start_service

# Samples of the Wine process every second ("rss_kb threads fds") and of its Windows handle
# count and private bytes every fifth second (procstat.exe, "handles=N private=B").
sample_usage() {
  local i procstat
  procstat=$(winepath -w "$QX_ROOT/out/win64/procstat.exe")
  for ((i = 1; i < seconds; i++)); do
    sleep 1
    awk '/^VmRSS:/ { r = $2 } /^Threads:/ { t = $2 } END { printf "%s %s ", r, t }' \
      "/proc/$QX_SERVICE_UNIX_PID/status" && ls "/proc/$QX_SERVICE_UNIX_PID/fd" | wc -l
    ((i % 5 == 0)) && wine "$procstat" --image mQARDEXService.exe \
      "$(winepath -w "$QX_FILES/handles.txt")" >/dev/null 2>&1
  done >"$QX_FILES/usage.txt"
}
"$QX_NATIVE/qardex-service-client" --ca "$QX_SERVICE_APP/ZELRootCA.pem" \
  --origin https://www.qardex.example --clients "$clients" --seconds "$seconds" \
  --record "$QX_FILES/calls.tsv" GetBasic "H_Sign:L{c}.{i}" >"$QX_FILES/client.txt" 2>&1 &
client=$!
sample_usage
wait "$client"
qx_say "    $(tr '\n' ';' <"$QX_FILES/client.txt")"
stop_service

check "every call answered 200 and no connection failed" \
  grep -qE ' closed=0 timeouts=0 failed=0$' "$QX_FILES/client.txt"
calls_of() { awk -F'\t' -v m="$1" '$3 == m' "$QX_FILES/calls.tsv" | wc -l; }
basic_calls=$(calls_of GetBasic)
sign_calls=$(calls_of H_Sign)
check "both methods were called ($basic_calls GetBasic, $sign_calls H_Sign)" \
  test "$basic_calls" -ge "$clients" -a "$sign_calls" -ge "$clients"
check "every GetBasic gave the card's line" test "$(awk -F'\t' -v want="{\"result\":\"$line\",\"lastError\":0}" \
  '$3 == "GetBasic" && ($4 != 200 || $7 != want)' "$QX_FILES/calls.tsv" | wc -l)" -eq 0
# The server logs each connection's page random ("se", hex) and result; each H_Sign answer must
# be the result of the connection that got its argument.
wrong_signs=$(awk -F'\t' -v events="$QX_AUTH_EVENTS" '
  FILENAME == events { split($0, f, " ")
                    if (f[2] == "se") se[f[1]] = f[3]; else if (f[2] == "result") result[f[1]] = f[3]
                    next }
  $3 == "H_Sign" { sent[$6] = $7; count++ }
  END {
    for (c in se) {
      text = ""
      for (i = 1; i < length(se[c]); i += 2) {
        byte = index("0123456789ABCDEF", substr(se[c], i, 1)) * 16 + index("0123456789ABCDEF", substr(se[c], i + 1, 1)) - 17
        if (byte > 0) text = text sprintf("%c", byte)
      }
      if ((text in sent) && sent[text] == "{\"result\":\"" result[c] "\",\"lastError\":0}") matched++
    }
    print count - matched
  }' "$QX_AUTH_EVENTS" "$QX_FILES/calls.tsv")
check "every H_Sign gave the server's result for its own page random ($wrong_signs wrong)" \
  test "$wrong_signs" -eq 0
check_log_well_formed
check "the log has one basic-data entry per GetBasic" \
  test "$(daily_log_text | grep -c 'basic \[')" -eq "$basic_calls"
check "the log has one ExSAM_HC_AUTH entry per H_Sign" \
  test "$(daily_log_text | grep -c 'Remote ExSAM_HC_AUTH OK!')" -eq "$sign_calls"

# growth FILE COLUMN: the mean of the last quarter of the column's samples minus the first's.
growth() {
  awk -v c="$2" '{ v[NR] = $c } END {
    q = int(NR / 4); if (q < 1) q = 1; if (NR < 2) { print "none"; exit }
    for (i = 1; i <= q; i++) { a += v[i]; b += v[NR - q + i] }
    printf "%d", (b - a) / q }' "$1"
}
tr -d '\r' <"$QX_FILES/handles.txt" 2>/dev/null | sed 's/[a-z]*=//g' >"$QX_FILES/handles.num"
rss=$(growth "$QX_FILES/usage.txt" 1)
threads=$(growth "$QX_FILES/usage.txt" 2)
fds=$(growth "$QX_FILES/usage.txt" 3)
handles=$(growth "$QX_FILES/handles.num" 1)
private=$(growth "$QX_FILES/handles.num" 2)
qx_say "    growth: rss ${rss} kB, threads $threads, fds $fds, handles $handles, private $private bytes"
check "resident memory flat (${rss} kB, bound $rss_bound_kb)" test "$rss" -le "$rss_bound_kb"
check "threads flat ($threads, bound $thread_bound)" test "$threads" -le "$thread_bound"
check "file descriptors flat ($fds, bound $handle_bound)" test "$fds" -le "$handle_bound"
check "Windows handles flat ($handles, bound $handle_bound)" test "$handles" -le "$handle_bound"
check "private bytes flat ($private, bound $private_bound_kb kB)" \
  test "$private" -le $((private_bound_kb * 1024))
finish
