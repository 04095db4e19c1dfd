#!/usr/bin/env bash
# The local service's methods on a real card path: the virtual card behind pcscd, the test
# authentication server, and mQARDEXService.exe --console in the control's Wine prefix. The same
# calls go to the control (cscript) and through HTTPS (curl); the answers must be the same
# UTF-16 units, numbers and lastError. H_Sign's result is the one the server computed for that
# connection; EnCrypt's, which holds random fillers, must decipher to the same bytes.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/network.sh"
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
  session=$(post /v1/session | sed -n 's/^{"session":"\([0-9a-f]*\)"}$/\1/p')
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

# same_answers CONTROL_CONNECTION SERVICE_CONNECTION CALL...: both records, compared line by line.
same_answers() {
  local control=$QX_FILES/control.txt service=$QX_FILES/service.txt
  run_js service/control_answers.js "$(winepath -w "$control")" "${@:3}"
  service_answers "$service" "${@:3}"
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

finish
