#!/usr/bin/env bash
# The local service's methods on a real card path: the virtual card behind pcscd, the test
# authentication server, and mQARDEXService.exe --console in the control's Wine prefix. The same
# calls go to the control (cscript) and through HTTPS (curl); the answers must be the same
# UTF-16 units, numbers and lastError, and the daily log the same entries (a Big5 holder name
# under code page 950 included). H_Sign's result is the one the server computed for that
# connection; EnCrypt's, which holds random fillers, must decipher to the same bytes.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/network.sh"
source "$here/../../testbed/scenario_wine_env.sh"
source "$here/card_data/bytes.sh"
source "$here/service/local_service.sh"
scenario_init "$@"
prepare_wine
net_init

port=${QARDEX_LOCAL_PORT:-14443}
origin=https://www.qardex.example
service_app

# post PATH [JSON]: the answer's body on standard output, nothing when the status is not 2xx.
post() {
  curl -sS --fail --max-time 70 --cacert "$QX_SERVICE_APP/ZELRootCA.pem" -H "Origin: $origin" \
    -H 'Content-Type: application/json' ${2:+--data "$2"} -X POST \
    "https://$QX_LOCAL_HOST:$port$1" 2>>"$QX_FILES/curl.err"
}

# service_answers FILE CALL...: the same record as control_answers.js, through the service.
service_answers() {
  local record=$1 session call method argument body
  shift
  session=$(post /v1/session | sed -n 's/^{"session":"\([0-9a-f]*\)"[,}].*$/\1/p')
  [[ -n $session ]] || qx_die "no session: $(cat "$QX_FILES/curl.err")"
  for call in "$@"; do
    method=${call%%:*}
    if [[ $call == *:* ]]; then argument=${call#*:} body="{\"args\":[\"$argument\"]}"; else body='{"args":[]}'; fi
    post "/v1/session/$session/$method" "$body" | python3 -c '
import json, sys
method = sys.argv[1]
answer = json.load(sys.stdin)
result = answer["result"]
if isinstance(result, str):
    units = result.encode("utf-16-be", "surrogatepass").hex()
    print(method, "S:" + units, answer["lastError"])
else:
    print(method, "N:%d" % result, answer["lastError"])' "$method" || echo "$method failed"
  done >"$record"
}

# same_answers CONTROL_CONNECTION SERVICE_CONNECTION CALL...: both records, compared line by line,
# and both daily logs.
same_answers() {
  local control=$QX_FILES/control.txt service=$QX_FILES/service.txt
  take_log /dev/null
  run_js service/control_answers.js "$(winepath -w "$control")" "${@:3}"
  take_log "$control.log"
  service_answers "$service" "${@:3}"
  check "the service's calls left no daily log in the system's temporary folder" \
    test -z "$(ls "$QX_PREFIX"/drive_c/windows/temp/QARDEX.err.*.log 2>/dev/null)"
  take_log "$service.log"
  check "the service's daily log holds the control's $(wc -l <"$control.log") entries" \
    diff "$control.log" "$service.log"
  normalised "$control" "$1" >"$control.norm"
  normalised "$service" "$2" >"$service.norm"
  same_records "the service gives the control's" $(($# - 2)) "$control.norm" "$service.norm"
}

net_scenario "card present: the service answers as the control"
add_reader "QX Solo"
insert_card 0
start_pcscd
start_authserver --modes "normal*2"
start_service
same_answers 1 2 GetBasic GetReaders GetHCConnectNo GetLastError H_Sign:ABCDEFGH EnCrypt:ABCDEFGH
for side in control service; do
  check "$side: H_Sign gave the server's 256 characters" grep -qx 'H_Sign signed 0' "$QX_FILES/$side.txt.norm"
  check "$side: EnCrypt deciphers to its input" grep -q "^EnCrypt plain:$(ascii_hex ABCDEFGH)" "$QX_FILES/$side.txt.norm"
done
stop_service

net_scenario "no card: the same failure codes"
add_reader "QX Solo"
start_pcscd
start_service
same_answers 0 0 GetBasic GetHCConnectNo GetLastError H_Sign:r EnCrypt:ABCDEFGH
stop_service

# status METHOD [ARGUMENT]: the call's HTTP status in session $worker_session; the body in
# $QX_FILES/body.
status() {
  curl -sS --max-time 70 --cacert "$QX_SERVICE_APP/ZELRootCA.pem" -H "Origin: $origin" \
    -H 'Content-Type: application/json' --data "{\"args\":[${2:+\"$2\"}]}" -o "$QX_FILES/body" \
    -w '%{http_code}' "https://$QX_LOCAL_HOST:$port/v1/session/$worker_session/$1" 2>>"$QX_FILES/curl.err"
}
service_log() { tr -d '\r' <"$QX_PREFIX/drive_c/ProgramData/QARDEX/mQARDEXService.log" 2>/dev/null; }

net_scenario "the worker: started for the user, killed during a call, gone when idle"
add_reader "QX Solo"
insert_card 0
start_pcscd
start_authserver --modes "slow-hello:6,normal*4"
start_service --worker-idle 3
worker_session=$(post /v1/session | sed -n 's/^{"session":"\([0-9a-f]*\)"[,}].*$/\1/p')
check "no worker before the first call" test "$(worker_count)" -eq 0
check "GetBasic: 200" test "$(status GetBasic)" == 200
check "... one worker runs for the user" test "$(worker_count)" -eq 1
check "... the service's log says it started" grep -q 'worker started' <(service_log)
status H_Sign ABCDEFGH >"$QX_FILES/killed.status" &
sleep 2
pkill --ns $$ --nslist net -f 'mQARDEXService.exe --worker'
wait $!
check "a worker killed during H_Sign: 502 for that call" test "$(cat "$QX_FILES/killed.status")" == 502
check "... 'worker ended during the call'" grep -q 'worker ended during the call' "$QX_FILES/body"
check "... the next call works: 200" test "$(status GetBasic)" == 200
check "... and gives the card's line" grep -q "\"result\":\"$QX_CARD_NUMBER," "$QX_FILES/body"
check "... H_Sign was not sent again (one connection to the server so far)" \
  test "$(auth_connections)" -eq 1
curl -sS --max-time 10 --cacert "$QX_SERVICE_APP/ZELRootCA.pem" -H "Origin: $origin" -X DELETE \
  "https://$QX_LOCAL_HOST:$port/v1/session/$worker_session" 2>>"$QX_FILES/curl.err"
sleep 6
check "with no session for its idle time the worker has exited" test "$(worker_count)" -eq 0
worker_session=$(post /v1/session | sed -n 's/^{"session":"\([0-9a-f]*\)"[,}].*$/\1/p')
check "... and comes back for the next call: 200" test "$(status GetRandom)" == 200
check "... one worker again" test "$(worker_count)" -eq 1
check "the service's own log holds no card data" \
  bash -c '! grep -q -e "$1" <(cat "$2")' _ "$QX_CARD_NUMBER" <(service_log)
stop_service
check "the service stopped its worker" test "$(worker_count)" -eq 0

net_scenario "a Big5 name under code page 950: the same UTF-16"
wine_env LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8
add_reader "QX Solo"
insert_card 0 0 - <<EOF_CARD
holder_name_hex = $(cp950_of_utf8 "張家秀") $(repeat_hex 20 14)
EOF_CARD
start_pcscd
start_service
same_answers 0 0 GetBasic GetName
check "the control's GetBasic holds U+5F35 (張)" grep -q '^GetBasic S:[0-9a-f]*5f35' "$QX_FILES/control.txt"
stop_service

finish
