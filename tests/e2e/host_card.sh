#!/usr/bin/env bash
# The extension's road on a real card path: headless Chromium with the unpacked extension
# (package_extension) and a profile whose NativeMessagingHosts names QARDEXHost.exe under Wine
# (testbed/extension_host/wine_host.sh), the virtual card behind pcscd and the test
# authentication server. A page gets the control's answers for the twelve methods and leaves the
# control's daily-log entries; a watch sees the readers' changes in order; an aborted call never
# reaches the card; a message straight to the host from an unlisted origin gets 403, and a host
# started for another caller exits 2; a host killed during H_Sign gives host-ended and the next
# call works; two tabs of one browser (one host) and another browser (a host of its own) calling
# at once all get the card's answers; Firefox ESR with the store's Firefox zip (browser_pages.sh installs it from the
# profile) gets the same answers and a reader event through the same host; with the service
# running too, the library takes the extension, and a page counted as public (Local Network
# Access enforced, no policy) is refused the service but not the extension.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/network.sh"
source "$here/card_data/bytes.sh"
source "$here/service/local_service.sh"
source "$here/service/browser_pages.sh"
source "$here/../../scripts/package" # package_extension, extension_id
scenario_init "$@"
command -v chromium >/dev/null || qx_die "needs chromium"
command -v firefox-esr >/dev/null || qx_die "needs firefox-esr"
command -v certutil >/dev/null || qx_die "needs certutil (libnss3-tools)"
[[ -f $QX_ROOT/out/win64/QARDEXHost.exe ]] || qx_die "missing out/win64/QARDEXHost.exe (scripts/build)"
prepare_wine
net_init
localhost_ports "$http_port" # the host, like the service, approves http://localhost on listed ports
browser_pages_init
package_extension "$QX_WORK/package" >/dev/null || qx_die "cannot stage the extension"
extension=$QX_WORK/package/extension
browser_flags=(--load-extension="$extension/chromium")
launcher=$QX_ROOT/testbed/extension_host/wine_host.sh
# launcher_manifest BROWSER: the host's manifest for BROWSER with the launcher as its path, in
# $QX_WORK/BROWSER/; prints that file's name.
launcher_manifest() {
  local manifest=$QX_WORK/$1/com.qardex.host.json
  mkdir -p "$QX_WORK/$1" &&
    sed "s|\"path\": \"[^\"]*\"|\"path\": \"$launcher\"|" "$extension/host/$1/"*.json >"$manifest" &&
    echo "$manifest"
}
profile_host_manifest=$(launcher_manifest chromium)
caller=chrome-extension://$(extension_id "$extension")/
origin=http://localhost:$http_port
service_port=${QARDEX_LOCAL_PORT:-14443}
export QARDEX_HOST_LOG # the launcher's and the host's lines, per scenario

# page_scenario NAME: a scenario with the page server running and a fresh host log.
page_scenario() {
  net_scenario "$1"
  QARDEX_HOST_LOG=$QX_FILES/host.log
  start_page_server
}
host_starts() { grep -c '^started ' "$QARDEX_HOST_LOG" 2>/dev/null; }
host_pids() { pgrep --ns $$ --nslist net -f 'QARDEXHost\.exe'; }

page_scenario "the twelve methods through the host: the control's answers and daily log"
add_reader "QX Solo"
insert_card 0
start_pcscd
start_authserver --modes "normal*4" # H_Sign and ServiceStatus: control 1-2, host 3-4
take_log /dev/null
run_js service/control_answers.js "$(winepath -w "$QX_FILES/control.txt")" "${twelve_calls[@]}"
take_log "$QX_FILES/control.log"
run_page twelve "$origin" transport:extension "${twelve_calls[@]}"
twelve_record=$QX_FILES/twelve.txt
page_says twelve "connect extension"
check "the host's calls left no daily log in the system's temporary folder" \
  test -z "$(ls "$QX_PREFIX"/drive_c/windows/temp/QARDEX.err.*.log 2>/dev/null)"
take_log "$QX_FILES/host.daily.log"
check "the host's daily log holds the control's $(wc -l <"$QX_FILES/control.log") entries" \
  diff "$QX_FILES/control.log" "$QX_FILES/host.daily.log"
normalised "$QX_FILES/control.txt" 1 >"$QX_FILES/control.norm"
grep -v '^connect ' "$QX_FILES/twelve.txt" >"$QX_FILES/twelve.record"
normalised "$QX_FILES/twelve.record" 3 >"$QX_FILES/twelve.norm"
check "the control: H_Sign gave the server's 256 characters" grep -qx 'H_Sign signed 0' "$QX_FILES/control.norm"
check "the control: EnCrypt deciphers to its input" \
  grep -q "^EnCrypt plain:$(ascii_hex ABCDEFGH)" "$QX_FILES/control.norm"
same_records "the host gives the control's" ${#twelve_calls[@]} "$QX_FILES/control.norm" "$QX_FILES/twelve.norm"
check "the browser started the host once, with our extension's origin" \
  test "$(grep -cx "started $caller" "$QARDEX_HOST_LOG")" -eq 1 -a "$(host_starts)" -eq 1

page_scenario "reader and card events through the host"
add_reader "QX Solo"
insert_card 0
start_pcscd
act start_browser events "$origin/browser_events.html?name=events&transport=extension"
solo='"index":0,"reader":"QX Solo 00 00"'
event "the state first" 30000 "{\"type\":\"state\",\"readers\":[{$solo,\"card\":true,\"hc\":true}]}"
act remove_card 0
event "card removed" 1000 "{\"type\":\"card-removed\",$solo}"
act insert_card 0
event "HC card inserted" 1000 "{\"type\":\"card-inserted\",$solo,\"hc\":true}"
act stop_pcscd
event "pcscd stopped: the card goes" 1000 "{\"type\":\"card-removed\",$solo}"
event "pcscd stopped: the reader goes" 1000 "{\"type\":\"reader-removed\",$solo}"
act start_pcscd
event "pcscd back: the reader" 4000 "{\"type\":\"reader-added\",$solo}"
stop_browser

# A GetBasic given up while it waits behind another session's slow H_Sign never reaches the card.
page_scenario "an aborted call through the host leaves the card alone"
add_reader "QX Solo"
insert_card 0
start_pcscd
start_authserver --modes "slow-02:4"
run_page abort "$origin" transport:extension abort
page_says abort "connect extension"
page_says abort "abort AbortError at once"
check "the next call got the card" grep -q '^GetBasic S:[0-9a-f]* 0$' "$QX_FILES/abort.txt"
check "the card read its basic data once" test "$(grep -c '^00CA110002000000 -> ' "$(apdu_log 0)")" -eq 1

page_scenario "messages straight to the host"
# drive CALLER [MESSAGE...]: the host started as the browser starts it, given these messages;
# what it answered and its exit status in $QX_FILES/driven.
drive() {
  printf '%s\n' "${@:2}" | timeout 90 python3 "$QX_ROOT/testbed/extension_host/drive_host.py" \
    "$launcher" "$1" >"$QX_FILES/driven" 2>>"$QX_FILES/driven.err"
}
driven_has() { check_lines_have "$1" "$(cat "$QX_FILES/driven")" "$2"; }
drive "$caller" "{\"id\":1,\"origin\":\"http://127.0.0.1:$http_port\",\"ask\":\"open\"}" \
  "{\"id\":2,\"origin\":\"$origin\",\"ask\":\"version\"}"
driven_has "an unlisted origin: 403" '{"id":1,"status":403,"body":{"error":"origin not approved"}}'
check "... while an approved one is answered" grep -q '^{"id":2,"status":200,"body":{"version":' "$QX_FILES/driven"
driven_has "... and the host exits 0 when its input ends" "exit 0"
drive chrome-extension://abcdefghijklmnopabcdefghijklmnop/ "{\"id\":1,\"origin\":\"$origin\",\"ask\":\"version\"}"
check "another caller: the host exits 2 and answers nothing" test "$(cat "$QX_FILES/driven")" = "exit 2"
check "... and says why" grep -q 'refused: not started by the QARDEX extension' "$QARDEX_HOST_LOG"
WINEDEBUG=$E2E_EVENT_DEBUG drive "$caller" "not a message"
check "a malformed message: the host exits 3" test "$(cat "$QX_FILES/driven")" = "exit 3"
check "... and says why in the Application log too" eval \
  '[[ $(e2e_events "$QARDEX_HOST_LOG") == "$(e2e_event_id QX_EVENT_HOST_BAD_MESSAGE) native messaging ended: a message that is not a request"* ]]'

page_scenario "the host killed during H_Sign: host-ended, and the next call works"
add_reader "QX Solo"
insert_card 0
start_pcscd
start_authserver --modes "slow-hello:8,normal"
# Killed once the server holds H_Sign's connection (within 40 s of the page's start).
(
  for _ in {1..400}; do (($(auth_connections) > 0)) && break; sleep 0.1; done
  sleep 1
  pkill -9 --ns $$ --nslist net -f 'QARDEXHost\.exe'
) &
killer=$!
run_page killed "$origin" transport:extension H_Sign:12345678901234567890 GetBasic
wait "$killer"
page_says killed "H_Sign error host-ended -"
check "the next call works, on a host started again" grep -q '^GetBasic S:[0-9a-f]* 0$' "$QX_FILES/killed.txt"
check "... which the browser started a second time" test "$(host_starts)" -eq 2
check "... and H_Sign was not sent again (one connection to the server)" \
  test "$(auth_connections)" -eq 1

page_scenario "two tabs and two browsers at once share the card"
add_reader "QX Solo"
insert_card 0
start_pcscd
start_authserver --modes "normal*4"
# page_url NAME CALL...: browser_answers.html through the extension.
page_url() {
  local url="$origin/browser_answers.html?name=$1&call=transport:extension" call
  for call in "${@:2}"; do url+="&call=$call"; done
  echo "$url"
}
reads=(GetBasic GetBasic GetBasic GetBasic GetBasic GetBasic)
sign=H_Sign:12345678901234567890
second_tab=$(page_url tab-2 "${reads[@]}" $sign)
browser_flags+=(--disable-popup-blocking)
start_browser two-tabs "$(page_url tab-1 $sign "${reads[@]}")&tab=${second_tab//&/%26}"
tabs=$QX_BROWSER_PID
start_browser other "$(page_url other $sign "${reads[@]}" $sign)"
browser_flags=(--load-extension="$extension/chromium")
for _ in {1..600}; do [[ -e $results/tab-1 && -e $results/tab-2 && -e $results/other ]] && break; sleep 0.1; done
stop_browser
QX_BROWSER_PID=$tabs stop_browser
basic=$(grep '^GetBasic ' "$twelve_record")
for page in tab-1:1 tab-2:1 other:2; do
  record=$(cat "$results/${page%:*}" 2>/dev/null)
  check "${page%:*}: every GetBasic read the card's data, and H_Sign signed ${page#*:} time(s)"     test "$(grep -cxF "$basic" <<<"$record")" -eq 6 -a     "$(grep -cE '^H_Sign S:[0-9a-f]{1024} 0$' <<<"$record")" -eq "${page#*:}"
done
check "one host for each browser, its tabs sharing it" test "$(host_starts)" -eq 2

page_scenario "Firefox: the host's answers and a reader event"
add_reader "QX Solo"
insert_card 0
start_pcscd
firefox_id=$(extension_id "$extension" firefox)
firefox_addon=$QX_FILES/$firefox_id.xpi
cp "$QX_WORK"/package/qardex-extension-firefox-*.zip "$firefox_addon"
browser=firefox profile_host_manifest=$(launcher_manifest firefox)
run_page firefox "$origin" transport:extension GetVersion GetBasic
page_says firefox "connect extension"
check "Firefox: GetVersion and GetBasic as Chromium got them" diff \
  <(grep -E '^(GetVersion|GetBasic) ' "$twelve_record") <(grep -v '^connect ' "$QX_FILES/firefox.txt")
events_name=firefox events_seen=0
act start_browser firefox-events "$origin/browser_events.html?name=firefox&transport=extension"
event "Firefox: the state first" 30000 \
  "{\"type\":\"state\",\"readers\":[{$solo,\"card\":true,\"hc\":true}]}"
act remove_card 0
event "Firefox: card removed" 1000 "{\"type\":\"card-removed\",$solo}"
stop_browser
firefox_args="$QX_FILES/home-firefox[-a-z]*/\.mozilla/native-messaging-hosts/com\.qardex\.host\.json $firefox_id"
check "Firefox started the host for each page, with its manifest's path and our add-on's id" \
  test "$(grep -c "^started $firefox_args\$" "$QARDEX_HOST_LOG")" -eq 2 -a "$(host_starts)" -eq 2
browser=chromium profile_host_manifest=$(launcher_manifest chromium)

page_scenario "the service running too: the library takes the extension"
service_app
start_service
check "the service answers" curl -sS --fail --max-time 20 --cacert "$QX_SERVICE_APP/ZELRootCA.pem" \
  -H "Origin: $origin" -o /dev/null "https://$QX_LOCAL_HOST:$service_port/v1/version"
mkdir -p "$QX_WORK/home/.pki/nssdb" && certutil -d "sql:$QX_WORK/home/.pki/nssdb" -N --empty-password &&
  certutil -d "sql:$QX_WORK/home/.pki/nssdb" -A -t C,, -n service-root -i "$QX_SERVICE_APP/ZELRootCA.pem" ||
  qx_die "cannot make the browsers trust the service"
run_page both "$origin" transport: GetVersion
page_says both "connect extension"
page_says both "GetVersion S:0030003000300031 0"
run_page service "$origin" transport:service GetVersion
page_says service "connect service"
# The page's server declared public, Local Network Access enforced and no policy: the service
# road is refused, the extension road (no network request) is not.
browser_flags+=(--ip-address-space-overrides="127.0.0.1:$http_port=public")
run_page public-service "$origin" transport:service GetVersion
page_says public-service "connect error local-network-access-denied -"
run_page public "$origin" transport: GetVersion
page_says public "connect extension"
page_says public "GetVersion S:0030003000300031 0"
browser_flags=(--load-extension="$extension/chromium")
stop_service
for _ in {1..100}; do [[ -z $(host_pids) ]] && break; sleep 0.1; done
check "no host is left running once the browsers ended" test -z "$(host_pids)"

finish
