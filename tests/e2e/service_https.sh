#!/usr/bin/env bash
# End to end under Wine, in private mount and network namespaces and a prefix of its own:
# mQARDEXService.exe --console with a certificate set from KeyMint answers HTTPS on
# 127.0.0.1 (TLS 1.2 and 1.3) to an approved origin only, refuses a forged Host, survives
# hostile clients (200 connections, 200 requests at once, plain HTTP, a truncated handshake, a
# header trickled a byte a second, a silent connection: each closed on its limit while others are
# served; 64 connections holding half a request head; a Content-Length beyond any size type),
# serves pages on http://localhost only on the ports of the LocalhostPorts policy, stops when its
# standard input closes, and says clearly when its certificate files are missing.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/tests/e2e/lib/preamble.sh"
die() { e2e_die "$@"; }
e2e_namespaces "$0" "$@"

host=${QARDEX_LOCAL_HOST:-local.qardex.example}
port=${QARDEX_LOCAL_PORT:-14443}
service=$root/out/win64/mQARDEXService.exe
keymint=$root/out/native/KeyMint
for file in "$service" "$keymint"; do [[ -f $file ]] || die "missing $file (scripts/build)"; done
dir=${QARDEX_E2E_DIR:-$root/build/e2e}/service_https
mkdir -p "$dir"
e2e_private_hosts "$dir/hosts" "$host"

e2e_prefix "$dir/wineprefix"
e2e_tcp_owner "$dir/tcp-owner.log"
# The prefix's layer is kept between runs: no LocalhostPorts policy from an earlier one.
wine reg delete 'HKLM\SOFTWARE\Policies\QARDEX' /v LocalhostPorts /f >/dev/null 2>&1
service_pid=""
cleanup() {
  exec 3>&- 2>/dev/null
  [[ -n $service_pid ]] && kill "$service_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

app=$dir/app
rm -rf "$app" && mkdir -p "$app"
cp "$keymint" "$service" "$app/" && (cd "$app" && ./KeyMint) >"$dir/keymint.log" 2>&1 ||
  die "no certificate set, see $dir/keymint.log"

# call METHOD PATH [CURL ARGS...]: prints the status code; the body lands in $dir/body.
origin="https://www.$(sed 's/^[^.]*\.//' <<<"$host")"
call() {
  local method=$1 path=$2
  shift 2
  curl -sS --max-time 15 --cacert "$app/ZELRootCA.pem" -o "$dir/body" -w '%{http_code}' \
    -X "$method" "$@" "https://$host:$port$path" 2>"$dir/curl.err"
}
body_is() { [[ $(cat "$dir/body") == "$1" ]] || { qx_say "    body: $(head -c 300 "$dir/body")"; false; }; }
is() { [[ $1 == "$2" ]] || { qx_say "    got '$1', expected '$2' $(head -c 200 "$dir/curl.err")"; false; }; }

# --- Start ---------------------------------------------------------------------------------------
QX_SCENARIO="console mode starts"
qx_say "== $QX_SCENARIO"
# start_console: the service in console mode, its standard input held on descriptor 3; $ready
# set once it says it listens (within 60 s). $console_debug, when set, is its WINEDEBUG.
start_console() {
  rm -f "$dir/stdin" && mkfifo "$dir/stdin"
  (cd "$app" && WINEDEBUG=${console_debug:-$WINEDEBUG} exec wine ./mQARDEXService.exe --console \
    <"$dir/stdin" >"$dir/out" 2>"$dir/err") &
  service_pid=$!
  exec 3>"$dir/stdin"
  ready=""
  for _ in $(seq 600); do
    grep -q "listening" "$dir/out" 2>/dev/null && { ready=1; break; }
    kill -0 "$service_pid" 2>/dev/null || break
    sleep 0.1
  done
}
# stop_console: closes its standard input; $stopped and $code tell how it ended (within 20 s).
stop_console() {
  exec 3>&-
  stopped=""
  for _ in $(seq 200); do
    kill -0 "$service_pid" 2>/dev/null || { stopped=1; break; }
    sleep 0.1
  done
  wait "$service_pid"
  code=$?
  service_pid=""
}
start_console
check "one line 'listening on https://$host:$port'" \
  is "$(tr -d '\r' <"$dir/out")" "listening on https://$host:$port"
[[ -n $ready ]] || { qx_say "    stderr: $(head -c 500 "$dir/err")"; finish; }

# --- The interface -------------------------------------------------------------------------------
QX_SCENARIO="interface over TLS"
qx_say "== $QX_SCENARIO"
check "GET /v1/version over TLS 1.3: 200" is "$(call GET /v1/version -H "Origin: $origin" --tlsv1.3)" 200
check "... the control's version, the product's and the protocol's revisions" grep -Eqx \
  "\{\"version\":\"0001\",\"product\":\"$(cat "$root/VERSION")\",\"protocol\":[0-9]+,\"oldestLibraryProtocol\":[0-9]+\}" \
  "$dir/body"
check "over TLS 1.2 too" is "$(call GET /v1/version -H "Origin: $origin" --tls-max 1.2)" 200
check "a session: 201" is "$(call POST /v1/session -H "Origin: $origin")" 201
session=$(sed -n 's/^{"session":"\([0-9a-f]\{32\}\)"[,}].*$/\1/p' "$dir/body")
check "... with a 32-digit id" test -n "$session"
check "GetVersion in it" is "$(call POST "/v1/session/$session/GetVersion" -H "Origin: $origin" \
  -H 'Content-Type: application/json' --data '{"args":[]}')" 200
check "... {\"result\":\"0001\",\"lastError\":0}" body_is '{"result":"0001","lastError":0}'
check "no Origin: 403" is "$(call GET /v1/version)" 403
check "an unapproved origin: 403" is "$(call GET /v1/version -H 'Origin: https://evil.example')" 403
check "a forged Host: 421" is "$(call GET /v1/version -H "Origin: $origin" -H 'Host: evil.example')" 421
check "a body over 4 KiB: 413, answered" is "$(call POST "/v1/session/$session/EnCrypt" \
  -H "Origin: $origin" --data "$(head -c 5000 /dev/zero | tr '\0' x)")" 413
check "a header block over 8 KiB: 431" is "$(call GET /v1/version -H "Origin: $origin" \
  -H "X-Filler: $(head -c 9000 /dev/zero | tr '\0' x)")" 431
check "a malformed request: 400" is "$(call 'G(T' /v1/version -H "Origin: $origin")" 400
# The connection is held open for 10 s: timeout's status 124 says the service did not end it.
timeout 10 openssl s_client -quiet -connect "127.0.0.1:$port" -servername "$host" < <(printf \
  "POST /v1/version HTTP/1.1\r\nHost: $host:$port\r\nContent-Length: 18446744073709551617\r\n\r\n"
  sleep 11) >"$dir/tls-answer" 2>/dev/null
ended=$?
check "Content-Length 18446744073709551617: 400 and the connection ends ($(head -n 1 "$dir/tls-answer"))" \
  test "$(head -c 12 "$dir/tls-answer")" == "HTTP/1.1 400" -a "$ended" != 124
check "DELETE the session: 204" is "$(call DELETE "/v1/session/$session" -H "Origin: $origin")" 204

# --- Hostile clients -----------------------------------------------------------------------------
QX_SCENARIO="hostile clients"
qx_say "== $QX_SCENARIO"
flood=()
for _ in $(seq 200); do
  exec {fd}<>"/dev/tcp/127.0.0.1/$port" && flood+=("$fd")
done
check "200 connections opened at once" is "${#flood[@]}" 200
for fd in "${flood[@]}"; do exec {fd}>&-; done
sleep 1
check "a normal request afterwards: 200" is "$(call GET /v1/version -H "Origin: $origin")" 200
exec {slow}<>"/dev/tcp/127.0.0.1/$port"
start=$SECONDS
timeout 30 cat <&"$slow" >/dev/null
waited=$((SECONDS - start))
exec {slow}>&-
check "a silent connection is closed after its time limit ($waited s)" test "$waited" -ge 8 -a "$waited" -le 14
check "still serving" is "$(call GET /v1/version -H "Origin: $origin")" 200

# 200 clients each sending a request at once: an answer or a clean close for every one.
"$root/out/native/qardex-service-client" --ca "$app/ZELRootCA.pem" --origin "$origin" \
  --clients 200 --timeout 30 version >"$dir/burst.txt" 2>&1
[[ $(head -n 1 "$dir/burst.txt") =~ calls=([0-9]+)\ ok=([0-9]+).*closed=([0-9]+)\ timeouts=([0-9]+)\ failed=([0-9]+) ]]
read -r calls answered closed timeouts failed <<<"${BASH_REMATCH[*]:1}"
check "200 requests at once: $answered answered 200, $closed closed, none hung or failed" \
  test "${calls:-0}" -eq 200 -a $((answered + closed)) -eq 200 -a "$answered" -ge 1 -a \
  "$timeouts$failed" == 00
# timed NAME COMMAND...: runs the command, its time in milliseconds goes to $dir/NAME.ms.
timed() {
  local name=$1 start
  shift
  start=$(date +%s%N)
  "$@"
  echo $((($(date +%s%N) - start) / 1000000)) >"$dir/$name.ms"
}
ms() { cat "$dir/$1.ms"; }
# plain BYTES: sends printf's BYTES on a plain TCP connection, waits until the service closes it.
plain() {
  local fd
  exec {fd}<>"/dev/tcp/127.0.0.1/$port" || return
  printf "$1" >&"$fd"
  timeout 30 cat <&"$fd" >/dev/null
  exec {fd}>&-
}
# A client that trickles its header one byte a second and never ends it.
trickle() {
  for _ in $(seq 30); do printf G; sleep 1; done |
    timeout 30 openssl s_client -quiet -connect "127.0.0.1:$port" -servername "$host" >/dev/null 2>&1
}
timed trickle trickle &
hostile=($!)
timed truncated plain '\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03' &
hostile+=($!)
timed below-tls python3 "$root/tests/e2e/service/trickle_tls.py" "$host" "$port" \
  "$app/ZELRootCA.pem" 45 >"$dir/below-tls.txt" 2>&1 &
hostile+=($!)
timed garbage plain 'GET /v1/version HTTP/1.1\r\nHost: x\r\n\r\n' 2>/dev/null &
hostile+=($!)
sleep 2
timed meanwhile call GET /v1/version -H "Origin: $origin" >"$dir/meanwhile.status"
wait "${hostile[@]}"
check "plain HTTP instead of TLS is closed at once ($(ms garbage) ms)" test "$(ms garbage)" -le 3000
check "a truncated TLS handshake is closed on the handshake limit ($(ms truncated) ms)" \
  test "$(ms truncated)" -ge 8000 -a "$(ms truncated)" -le 14000
check "a header trickled a byte a second is cut off on the request limit ($(ms trickle) ms)" \
  test "$(ms trickle)" -ge 9000 -a "$(ms trickle)" -le 16000
below=$(cat "$dir/below-tls.txt")
check "a request trickled below TLS too (closed $below s after its first byte)" \
  awk -v s="$below" 'BEGIN { exit !(s + 0 >= 9 && s + 0 <= 16) }'
check "... meanwhile a request is answered 200 at once ($(ms meanwhile) ms)" \
  test "$(cat "$dir/meanwhile.status")" == 200 -a "$(ms meanwhile)" -le 3000
check "a request after the hostile clients: 200" is "$(call GET /v1/version -H "Origin: $origin")" 200

# --- Pages on http://localhost ------------------------------------------------------------------
QX_SCENARIO="pages on http://localhost: the LocalhostPorts policy"
qx_say "== $QX_SCENARIO"
service_log=$WINEPREFIX/drive_c/ProgramData/QARDEX/mQARDEXService.log
version_from() { call GET /v1/version -H "Origin: $1"; }
check "http://localhost:8081 without the policy: 403" is "$(version_from http://localhost:8081)" 403
wine reg add 'HKLM\SOFTWARE\Policies\QARDEX' /v LocalhostPorts /t REG_SZ /d '8443, 8081' /f >"$dir/reg.log" 2>&1
start=$SECONDS
for _ in $(seq 40); do [[ $(version_from http://localhost:8081) == 200 ]] && break; sleep 0.25; done
waited=$((SECONDS - start))
check "... with LocalhostPorts '8443, 8081' written while it runs: 200 ($waited s later)" \
  is "$(version_from http://localhost:8081)" 200
check "http://foo.localhost:8081 even then: 403" is "$(version_from http://foo.localhost:8081)" 403
check "http://localhost:8082, not listed: 403" is "$(version_from http://localhost:8082)" 403
check "the service's log names the ports in force" grep -q "approved on ports: 8081, 8443" "$service_log"

# --- Fair limits ---------------------------------------------------------------------------------
QX_SCENARIO="fair limits"
qx_say "== $QX_SCENARIO"
other_origin=https://www.agency.example
open_session() { call POST /v1/session -H "Origin: $1"; }
sessions=()
for _ in $(seq 16); do
  [[ $(open_session "$origin") == 201 ]] && sessions+=("$(sed -n 's/^{"session":"\([0-9a-f]*\)"[,}].*$/\1/p' "$dir/body")")
done
check "one origin opens 16 sessions" is "${#sessions[@]}" 16
check "... a 17th: 429" is "$(open_session "$origin")" 429
check "... also with the default port written out: 429" is "$(open_session "$origin:443")" 429
check "... another origin is still served: 201" is "$(open_session "$other_origin")" 201
check "a session called from another origin: 404" is "$(call POST "/v1/session/${sessions[0]}/GetVersion" \
  -H "Origin: $other_origin" -H 'Content-Type: application/json' --data '{"args":[]}')" 404
check "... and deleted from another origin: 404" is "$(call DELETE "/v1/session/${sessions[0]}" -H "Origin: $other_origin")" 404
check "... its own origin still uses it: 200" is "$(call POST "/v1/session/${sessions[0]}/GetVersion" \
  -H "Origin: $origin" -H 'Content-Type: application/json' --data '{"args":[]}')" 200
for id in "${sessions[@]}"; do call DELETE "/v1/session/$id" -H "Origin: $origin" >/dev/null; done
# A client holding every connection the service allows, idle: a newcomer is still answered.
idle=()
for _ in $(seq 64); do
  exec {fd}<>"/dev/tcp/127.0.0.1/$port" && idle+=("$fd")
done
sleep 1
timed newcomer call GET /v1/version -H "Origin: $origin" >"$dir/newcomer.status"
check "64 idle connections held: a new client is answered 200 within 15 s ($(ms newcomer) ms)" \
  test "$(cat "$dir/newcomer.status")" == 200 -a "$(ms newcomer)" -le 15000
for fd in "${idle[@]}"; do exec {fd}>&-; done
# One client holding 64 connections, each inside half a request head: it cannot keep a newcomer
# out (a stalled head gives its place up after 2 s, and one Windows session holds 16 at most).
held=()
for _ in $(seq 64); do
  openssl s_client -quiet -connect "127.0.0.1:$port" -servername "$host" \
    < <(printf 'GET /v1/version HTTP/1.1\r\nHo'; sleep 20) >/dev/null 2>&1 &
  held+=($!)
done
sleep 4
timed stalled call GET /v1/version -H "Origin: $origin" >"$dir/stalled.status"
check "64 connections inside half a request head: a new client is answered 200 within 15 s ($(cat "$dir/stalled.status"), $(ms stalled) ms)" \
  test "$(cat "$dir/stalled.status")" == 200 -a "$(ms stalled)" -le 15000
kill "${held[@]}" 2>/dev/null

# --- Stop ----------------------------------------------------------------------------------------
QX_SCENARIO="stop and missing files"
qx_say "== $QX_SCENARIO"
stop_console
check "stops when standard input closes, exit code 0" is "${stopped:-running}:$code" 1:0

QX_SCENARIO="a flood of refused callers"
qx_say "== $QX_SCENARIO"
# Wine's own iphlpapi names no owner for a Unix client's connection: every caller is refused.
system32=$WINEPREFIX/drive_c/windows/system32
service_log=$WINEPREFIX/drive_c/ProgramData/QARDEX/mQARDEXService.log
rm -f "$WINEPREFIX/.tcp-owner" # the stand-in goes back below, also after a broken run
cp "$system32/iphlpwine.dll" "$system32/iphlpapi.dll.new" && mv -f "$system32/iphlpapi.dll.new" "$system32/iphlpapi.dll"
cp "$service_log" "$dir/log.before"
console_debug=$E2E_EVENT_DEBUG start_console # its events on its standard error
# 10 keep-alive connections of 1,000 requests each, side by side (one Windows session's share).
flood_started=$SECONDS
flooders=()
for i in $(seq 10); do
  curl -s --max-time 120 --cacert "$app/ZELRootCA.pem" -H "Origin: $origin" -w 'code=%{http_code}\n' \
    "https://$host:$port/v1/version?[1-1000]" >"$dir/flood-$i.out" 2>/dev/null &
  flooders+=($!)
done
wait "${flooders[@]}"
flood_seconds=$((SECONDS - flood_started))
stop_console
e2e_tcp_owner "$dir/tcp-owner.log"
refused=$(cat "$dir"/flood-*.out | grep -o 'code=403' | wc -l)
check "10,000 requests refused 403 ($refused in $flood_seconds s)" is "$refused" 10000
check "the log's earlier lines in place" eval 'cmp -s "$dir/log.before" <(head -c "$(stat -c %s "$dir/log.before")" "$service_log")'
tail -c +"$(($(stat -c %s "$dir/log.before") + 1))" "$service_log" | tr -d '\r' >"$dir/log.flood"
# Each started minute: at most three lines and a summary per cause; together they count all.
check "... a few lines a minute, counting every refusal ($(wc -l <"$dir/log.flood") lines in all)" \
  awk -v minutes=$((flood_seconds / 60 + 1)) '
    /refused a request/ { lines++ }
    / refused requests \(/ { summed += $3; summaries++ }
    END { exit !(summed == 10000 && lines <= 3 * minutes && summaries <= minutes + 1) }' "$dir/log.flood"
e2e_events "$dir/err" >"$dir/events.flood"
check "the Application log: the start, one summary of the refusals a minute, the stop ($(wc -l <"$dir/events.flood") events)" \
  awk -v started="$(e2e_event_id QX_EVENT_SERVICE_STARTED)" -v refused="$(e2e_event_id QX_EVENT_REQUESTS_REFUSED)" \
    -v stopped="$(e2e_event_id QX_EVENT_SERVICE_STOPPED)" -v minutes=$((flood_seconds / 60 + 1)) '
    NR == 1 { first = $1 } { last = $1 }
    $1 == refused { summed += $2; summaries++ }
    $1 != refused && $1 != started && $1 != stopped { others++ }
    END { exit !(first == started && last == stopped && summed == 10000 && summaries <= minutes + 1 && !others) }' \
    "$dir/events.flood"

QX_SCENARIO="under the service manager"
qx_say "== $QX_SCENARIO"
# A fresh prefix's service manager refuses starts until wineserver restarts.
wineserver -k >/dev/null 2>&1
sc() { wine sc "$@" >>"$dir/sc.log" 2>&1; }
answers() { # up to 30 s for the answer to GET /v1/version to be $1
  for _ in $(seq 60); do
    [[ $(call GET /v1/version -H "Origin: $origin" --max-time 2) == "$1" ]] && return 0
    sleep 0.5
  done
  false
}
sc delete mQARDEXTest
check "sc create" sc create mQARDEXTest binpath= "$(winepath -w "$app/mQARDEXService.exe")" start= demand
check "sc start" sc start mQARDEXTest
check "... the service answers" answers 200
check "sc stop" sc stop mQARDEXTest
check "... and it stops listening" answers 000
check "sc delete" sc delete mQARDEXTest
wineserver -k >/dev/null 2>&1

rm "$app/ZELServerCert.key"
(cd "$app" && wine ./mQARDEXService.exe --console </dev/null >"$dir/out2" 2>"$dir/err2")
code=$?
check "without ZELServerCert.key: exit code 3" is "$code" 3
check "... and a line naming the file" grep -q "mQARDEXService: cannot read .*ZELServerCert.key" "$dir/err2"

QX_SCENARIO="a log folder and a log others made first"
qx_say "== $QX_SCENARIO"
programdata=$WINEPREFIX/drive_c/ProgramData
elsewhere=$programdata/elsewhere.txt # a hard link stays on its volume
rm -rf "$programdata/QARDEX" "$programdata"/QARDEX.*.aside
printf 'planted\n' >"$programdata/QARDEX"
(cd "$app" && wine ./mQARDEXService.exe --console </dev/null >"$dir/out3" 2>"$dir/err3")
check "a file where the log folder belongs: moved aside, a folder made, the log written there" \
  eval '[[ $(cat "$programdata"/QARDEX.*.aside) == planted && -d $programdata/QARDEX ]] &&
    grep -q "service not started" "$service_log"'
printf 'planted\n' >"$elsewhere"
rm -f "$service_log" && ln "$elsewhere" "$service_log"
(cd "$app" && wine ./mQARDEXService.exe --console </dev/null >"$dir/out4" 2>"$dir/err4")
check "a hard link as the log: moved aside, what it led to untouched, a new log says so" \
  eval '[[ $(cat "$elsewhere") == planted ]] && grep -q "service log: .*hard link.*moved aside" "$service_log"'
rm -rf "$elsewhere" "$programdata"/QARDEX.*.aside "$service_log".*.aside
finish
