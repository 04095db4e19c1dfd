#!/usr/bin/env bash
# The page library (out/win64/web/qardex.js) in headless Chromium against mQARDEXService.exe
# --console on the virtual card: pages of two approved origins get the control's answers for all
# twelve methods; an expired session is replaced once; a call without an answer ends on its time
# limit; an unapproved page learns "origin-not-approved", or "service-not-running" when the
# service is stopped; a public page is kept out by Local Network Access unless the managed
# policy LocalNetworkAccessAllowedForUrls names it, "blocked" when LoopbackNetworkBlockedForUrls
# names it too, "frame-not-allowed" in a frame without "allow"; the <script> tag's library through
# 20 loads of a page is never "busy". Pages use the .localhost name. Pages come from testbed/web/page_server.py
# (HTTP on localhost, HTTPS on www.qardex.example:443 with a throw-away test CA).
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/network.sh"
source "$here/card_data/bytes.sh"
source "$here/service/local_service.sh"
source "$here/service/browser_pages.sh"
scenario_init "$@"
command -v chromium >/dev/null && command -v certutil >/dev/null || qx_die "needs chromium, libnss3-tools"
[[ -d /etc/chromium ]] || qx_die "no /etc/chromium to put a policy over"
prepare_wine
net_init
service_app

site_host=www.qardex.example
site_address=127.0.0.2 # the authentication server has 127.0.0.1:443
localhost_ports "$http_port" # pages on http://localhost are served on listed ports only
browser_pages_init
mkdir -p "$QX_WORK/pki" "$QX_WORK/home/.pki/nssdb" "$QX_WORK/chromium-etc/policies/managed"

# A throw-away test CA for the HTTPS pages; it and the service's root are the browser's trust.
(
  cd "$QX_WORK/pki" &&
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=QARDEX-test-pages-CA -keyout ca.key \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign -out ca.pem &&
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=$site_host" -CA ca.pem -CAkey ca.key \
      -addext "subjectAltName=DNS:$site_host" -addext basicConstraints=CA:FALSE \
      -addext extendedKeyUsage=serverAuth -keyout site.key -out site.pem
) >"$QX_WORK/pki.log" 2>&1 || qx_die "no test certificates: $QX_WORK/pki.log"
nssdb=sql:$QX_WORK/home/.pki/nssdb
certutil -d "$nssdb" -N --empty-password &&
  certutil -d "$nssdb" -A -t C,, -n test-pages-ca -i "$QX_WORK/pki/ca.pem" &&
  certutil -d "$nssdb" -A -t C,, -n service-root -i "$QX_SERVICE_APP/ZELRootCA.pem" ||
  qx_die "cannot set up the browser's certificate database"
# The managed policies of this namespace's Chromium: a private copy of /etc/chromium.
cp -a /etc/chromium/. "$QX_WORK/chromium-etc/" && mount --bind "$QX_WORK/chromium-etc" /etc/chromium ||
  qx_die "cannot put a private folder over /etc/chromium"
policy=/etc/chromium/policies/managed/qardex-test.json

# page_scenario NAME: a scenario whose hosts file also names the HTTPS pages' site, with the
# page server running.
page_scenario() {
  net_scenario "$1"
  printf '%s %s\n' "$site_address" "$site_host" >>"$QX_WORK/hosts"
  start_page_server --https "$site_address:443" --cert "$QX_WORK/pki/site.pem" \
    --key "$QX_WORK/pki/site.key"
}

page_scenario "approved origins: the control's answers"
add_reader "QX Solo"
insert_card 0
start_pcscd
# H_Sign and ServiceStatus each take one connection: control 1-2, pages 3-4 and 5-6, then the
# expiry page's diagnose 7.
start_authserver --modes "normal*7"
start_service
run_js service/control_answers.js "$(winepath -w "$QX_FILES/control.txt")" "${twelve_calls[@]}"
normalised "$QX_FILES/control.txt" 1 >"$QX_FILES/control.norm"
check "the control: H_Sign gave the server's 256 characters" grep -qx 'H_Sign signed 0' "$QX_FILES/control.norm"
check "the control: EnCrypt deciphers to its input" \
  grep -q "^EnCrypt plain:$(ascii_hex ABCDEFGH)" "$QX_FILES/control.norm"
connection=3
for origin in "http://localhost:$http_port" "https://$site_host"; do
  name=twelve-${origin%%:*}
  run_page "$name" "$origin" "${twelve_calls[@]}"
  normalised "$QX_FILES/$name.txt" $connection >"$QX_FILES/$name.norm"
  same_records "$origin gets the control's" ${#twelve_calls[@]} "$QX_FILES/control.norm" "$QX_FILES/$name.norm"
  connection=$((connection + 2))
done

# A session deleted once is replaced (a new session: lastError 0 again); deleted again on the
# retry, the call fails; the next call opens a fresh one.
run_page expiry "http://localhost:$http_port" diagnose EnCrypt:1 expire:1 GetLastError expire:2 \
  GetVersion GetVersion hang
checks="local-network-access:true service-running:true origin-approved:true caller-allowed:true"
page_says expiry "diagnose null $checks reader:true hc-card:true server-reachable:true"
page_says expiry "EnCrypt S:0038003000300039 8009"
page_says expiry "GetLastError N:0 0"
page_says expiry "GetVersion error session-expired 404"
page_says expiry "GetVersion S:0030003000300031 0"
page_says expiry "GetVersion error timeout -"
# The <script> tag's library, through 20 loads of one page that each open a session and leave
# it: the library closes each on the way out, so the site stays below its 16 sessions.
run_page global-reloads "https://$site_host" global transport:service reload:20 GetVersion
page_says global-reloads "reloads 20 failed: none"
page_says global-reloads "GetVersion S:0030003000300031 0"
stop_service

# A watching page gets each change within 1 s of it (4 s from starting pcscd or 15 s the service).
page_scenario "reader and card events"
add_reader "QX Solo"
insert_card 0
start_pcscd
start_service
act start_browser events "http://localhost:$http_port/browser_events.html?name=events"
solo='"index":0,"reader":"QX Solo 00 00"'
duo='"index":1,"reader":"QX Duo 00 00"'
event "the state first" 20000 "{\"type\":\"state\",\"readers\":[{$solo,\"card\":true,\"hc\":true}]}"
act remove_card 0
event "card removed" 1000 "{\"type\":\"card-removed\",$solo}"
act insert_card 0
event "HC card inserted" 1000 "{\"type\":\"card-inserted\",$solo,\"hc\":true}"
act stop_pcscd
event "pcscd stopped: the card goes" 1000 "{\"type\":\"card-removed\",$solo}"
event "pcscd stopped: the reader goes" 1000 "{\"type\":\"reader-removed\",$solo}"
add_reader "QX Duo"
act start_pcscd
event "pcscd back: a reader" 4000 "{\"type\":\"reader-added\",$solo}"
event "pcscd back: a second reader" 4000 "{\"type\":\"reader-added\",$duo}"
act insert_card 1 0 - <<<"refuse.select = 6A82"
event "a card that is no HC card" 1000 "{\"type\":\"card-inserted\",$duo,\"hc\":false}"
act stop_pcscd
event "pcscd stopped: the first reader goes" 1000 "{\"type\":\"reader-removed\",$solo}"
event "pcscd stopped: the card in the second reader goes" 1000 "{\"type\":\"card-removed\",$duo}"
event "pcscd stopped: the second reader goes" 1000 "{\"type\":\"reader-removed\",$duo}"
QX_READER_NAMES=("QX Solo") QX_READER_SLOTS=(1)
act start_pcscd
event "pcscd back with one reader" 4000 "{\"type\":\"reader-added\",$solo}"
stop_service
act start_service
event "the service restarted: the library is back" 15000 "{\"type\":\"state\",\"readers\":[{$solo,\"card\":false,\"hc\":false}]}"
act insert_card 0
event "and events go on" 1000 "{\"type\":\"card-inserted\",$solo,\"hc\":true}"
stop_browser
stop_service

# A GetBasic given up while it waits behind another session's slow H_Sign never reaches the card.
page_scenario "an aborted call leaves the card alone"
add_reader "QX Solo"
insert_card 0
start_pcscd
start_authserver --modes "slow-02:4"
start_service
run_page abort "http://localhost:$http_port" abort
page_says abort "abort AbortError at once"
check "the next call got the card" grep -q '^GetBasic S:[0-9a-f]* 0$' "$QX_FILES/abort.txt"
check "the card read its basic data once" test "$(grep -c '^00CA110002000000 -> ' "$(apdu_log 0)")" -eq 1
stop_service

page_scenario "other pages: refused, and told why"
start_service
run_page unapproved http://127.0.0.1:$http_port diagnose GetVersion
page_says unapproved "connect error origin-not-approved -"
page_says unapproved \
  "diagnose origin-not-approved local-network-access:true service-running:true origin-approved:false"
# A public page (its server's address declared public) reaching a service on this computer.
browser_flags=(--ip-address-space-overrides="$site_address:443=public")
run_page public "https://$site_host" diagnose GetVersion
page_says public "connect error local-network-access-denied -"
page_says public "diagnose local-network-access-denied local-network-access:false"
printf '{"LocalNetworkAccessAllowedForUrls": ["https://%s"]}\n' "$site_host" >"$policy"
run_page public-allowed "https://$site_host" diagnose GetVersion
page_says public-allowed "GetVersion S:0030003000300031 0"
page_says public-allowed "diagnose null $checks reader:false hc-card:false server-reachable:false"
# The same page in a frame of a page on this computer, its frame element without "allow".
run_page public-framed "http://localhost:$http_port/browser_framed.html?at=https://$site_host" \
  diagnose GetVersion
page_says public-framed "connect error frame-not-allowed -"
page_says public-framed "diagnose frame-not-allowed local-network-access:false"
# The loopback list blocks it, and comes before the allow list.
printf '{"LocalNetworkAccessAllowedForUrls": ["https://%s"], "LoopbackNetworkBlockedForUrls": ["https://%s"]}\n' \
  "$site_host" "$site_host" >"$policy"
run_page public-blocked "https://$site_host" diagnose GetVersion
page_says public-blocked "connect error local-network-access-blocked -"
page_says public-blocked "diagnose local-network-access-blocked local-network-access:false"
rm -f "$policy"
browser_flags=()
stop_service
run_page stopped http://127.0.0.1:$http_port diagnose GetVersion
page_says stopped "connect error service-not-running -"
page_says stopped "diagnose service-not-running local-network-access:true service-running:false"

finish
