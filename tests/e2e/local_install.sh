#!/usr/bin/env bash
# End to end under Wine in private namespaces, on the local service edition's folder unpacked
# from the zip scripts/package makes: cardsetup.exe installs for real (hosts entry, KeyMint.exe,
# FoxTrust.cmd, the service "mQARDEX", the root in the machine store), a second run replaces
# everything cleanly, cardremove.exe takes back the service and the policies, and the root's
# private key is in no file and no output. The installed service reads a virtual card through
# pcscd and the winscard bridge, and the example page runs on it in headless Chromium.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/testbed/scenario.sh" # the preamble; readers and cards
source "$root/scripts/package"     # package_local_service
source "$root/tests/e2e/lib/local_service.sh" # service_host, service_answers, service_refused
die() { e2e_die "$@"; }
e2e_namespaces "$0" "$@"
mount -t tmpfs -o mode=0755 qardex-run /run || die "cannot mount a private /run" # pcscd's socket

host=$service_host port=$service_port origin=$service_origin
here=$root/tests/e2e/local_install
dir=${QARDEX_E2E_DIR:-$root/build/e2e}/local_install
work=$dir/work
service_probe_dir=$work
for tool in curl openssl unzip perl chromium certutil; do command -v "$tool" >/dev/null || die "$tool is not installed"; done
[[ -f $root/out/win64/web/service-demo.html ]] || die "missing out/win64/web/ (scripts/build)"
mkdir -p "$dir"
e2e_private_hosts "$dir/etc-hosts" # the local host only once copied from Wine's hosts file
e2e_wine_env "$dir/wineprefix"
e2e_lock "$dir/prefix.lock" 600 "the local install's Wine prefix"
page_server=""
trap '[[ -n $page_server ]] && kill "$page_server"; declare -F stop_net_peers >/dev/null && stop_net_peers; qx_stop_devices; wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; rm -rf "$dir/prefix.lock"' EXIT
QX_ROOT_DIR=$root
source "$root/tests/e2e/lib/browser_policies.sh" # run, state, values, list_is, origins

drive=$WINEPREFIX/drive_c
app_win='C:\QARDEX Local'
app=$drive/${app_win#C:\\}
wine_hosts=$drive/windows/system32/drivers/etc/hosts
probe_exe=$dir/tools/installer_probe.exe

# --- A clean machine -----------------------------------------------------------------------------
rm -rf "$work" && mkdir -p "$work"
"$root/testbed/installer/build-stand-ins" "$dir/tools" >"$work/stand-ins.log" 2>&1 ||
  die "building the test-bed probe failed: $(tail -n 5 "$work/stand-ins.log")"
e2e_prefix "$WINEPREFIX"
rm -rf "$app" # in the prefix, before wineserver starts the service of an earlier run
[[ -f $dir/hosts.pristine ]] || cp "$wine_hosts" "$dir/hosts.pristine"
if ! cmp -s "$QX_NATIVE/winscard.dll.so" "$WINEPREFIX/.local-install-bridge"; then
  "$root/testbed/winscard_bridge/install-bridge" "$WINEPREFIX" >"$work/bridge.log" 2>&1 ||
    die "installing the winscard bridge failed: $(tail -n 5 "$work/bridge.log")"
  cp "$QX_NATIVE/winscard.dll.so" "$WINEPREFIX/.local-install-bridge"
fi
e2e_tcp_owner "$work/tcp-owner.log"
# A session of its own for the tests: the one that made the prefix keeps the service database
# locked for a while, and the bridge's installer leaves its loader trace settings in the
# environment of Wine's service manager, which every service would inherit.
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
wineserver -p >/dev/null 2>&1 # the service lives as long as this wineserver
touch "$work/started"          # the key is made after this: files changed later are searched
probe() { # output to a file first: a pipe may stay open while wineserver's helpers live
  wine "$probe_exe" "$@" >"$work/probe.out" 2>>"$work/probe.err"
  local status=$?
  tr -d '\r' <"$work/probe.out"
  return $status
}
probe purge mQARDEX >/dev/null || die "cannot remove an earlier mQARDEX service"
cp "$dir/hosts.pristine" "$wine_hosts"
rm -f "$wine_hosts".mQARDEX.Install.* "$drive/users/$(id -un)/Temp/mQARDEX_Install.log"
run clean "@reg delete $policies\\Google /f" "@reg delete $policies\\Mozilla /f" \
  "@reg delete $policies\\Microsoft /f" '@reg delete HKLM\SOFTWARE\QARDEX /f' "@reg delete $policies\\QARDEX /f"
QX_WORK=$work QX_FILES=$work
mkdir -p "$work/sync"
card_number=000055556666 id_number=B223344556
add_reader "QX Local"
printf 'card_number = %s\nid_number = %s\n' "$card_number" "$id_number" >"$work/card.conf"
insert_card 0 0 "$work/card.conf"
start_pcscd || die "pcscd did not show the reader and the card"

# --- Helpers -------------------------------------------------------------------------------------
# program NAME RUN [ARGS...]: cardsetup.exe or cardremove.exe from the installation folder, as an
# administrator starts it there; output in $work/RUN.out and .err, exit code in $status.
program() {
  (cd "$app" && wine "$app_win\\$1.exe" "${@:3}" >"$work/$2.out" 2>"$work/$2.err")
  status=$?
}
status_is() { [[ $status == "$1" ]] || { qx_say "    exit code $status: $(head -c 300 "$work/$2.out")"; false; }; }
quiet() { "$@" >"$work/quiet.out" 2>&1 || { qx_say "    $(head -c 300 "$work/quiet.out")"; false; }; }
is() { [[ $1 == "$2" ]] || { qx_say "    got '$1', expected '$2'"; false; }; }
first_cert() { awk '/-----BEGIN/{n++} n==1' "$1"; }
fingerprint() { openssl x509 -noout -fingerprint -sha256 | sed 's/.*=//'; }
modulus() { openssl x509 -in "$1" -noout -modulus | sed 's/^Modulus=//'; }

# extension FILE NAME: the certificate extension's criticality and value, one line.
extension() {
  openssl x509 -in "$1" -noout -text | awk -v name="X509v3 $2:" '
    index($0, name) { found = 1; line = $NF == "critical" ? "critical" : ""; next }
    found && (/X509v3 / || /Signature Algorithm/) { exit }
    found { sub(/^ +/, ""); line = line (line == "" ? "" : " ") $0 }
    END { print line }'
}

# The root store as Wine's registry holds it: one PEM file per certificate in $work/store-NAME/,
# thumbprints in $work/store-NAME.list.
export_root_store() {
  rm -rf "$work/store-$1" && mkdir -p "$work/store-$1"
  wine reg export 'HKLM\Software\Microsoft\SystemCertificates\Root\Certificates' \
    "$(winepath -w "$work/store-$1.reg")" /y >"$work/store-$1.log" 2>&1
  perl "$here/store_certificates.pl" "$work/store-$1.reg" "$work/store-$1" | sort >"$work/store-$1.list"
}
# imported_root BEFORE AFTER: the one certificate cardsetup added to the store, as PEM.
imported_root() {
  local added
  added=$(comm -13 "$work/store-$1.list" "$work/store-$2.list")
  [[ -n $added && $added != *$'\n'* ]] || { qx_say "    certificates added: ${added:-none}"; return 1; }
  cp "$work/store-$2/$added.pem" "$work/root-$2.pem"
}

# call METHOD: a new session's answer to METHOD without arguments, as the page would get it.
# call METHOD [ARGS]: the method's answer in a new session; ARGS a JSON array (default []),
# trusted through $call_root.
call_root=$work/root-first.pem
call() {
  local session
  session=$(curl -sS --max-time 5 --cacert "$call_root" -H "Origin: $origin" -X POST \
    "https://$host:$port/v1/session" 2>>"$work/curl.err" | sed -n 's/^{"session":"\([0-9a-f]*\)"[,}].*$/\1/p')
  curl -sS --max-time 30 --cacert "$call_root" -H "Origin: $origin" \
    -H 'Content-Type: application/json' --data "{\"args\":${2:-[]}}" \
    "https://$host:$port/v1/session/$session/$1" 2>>"$work/curl.err"
}
served_certificate() {
  openssl s_client -connect "127.0.0.1:$port" -servername "$host" </dev/null 2>/dev/null | fingerprint
}
# The service's processes in this prefix.
service_processes() {
  local pid count=0
  for pid in $(pgrep -f 'mQARDEXService\.exe'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && count=$((count + 1))
  done
  echo "$count"
}
crlf_only() { ! grep -qv $'\r$' "$1"; }
# copied FILE...: each file of the installation folder is KeyMint's of the same name in cert\.
copied() {
  local file
  for file in "$@"; do cmp -s "$app/$file" "$app/cert/${file#certpem/}" || { qx_say "    $file differs"; return 1; }; done
}
service_from_folder() {
  local line
  line=$(probe service mQARDEX)
  [[ $line == "state=running type=0x10 start=2 "*" path=\"$app_win\\mQARDEXService.exe\"" ]] ||
    { qx_say "    $line"; false; }
}
root_is_first_of_crt() { [[ $(fingerprint <"$work/root-first.pem") == $(first_cert "$app/ZELServerCert.crt" | fingerprint) ]]; }
serves_second() {
  local served
  served=$(served_certificate)
  [[ $served == $(fingerprint <"$work/server-second.pem") && $served != $(fingerprint <"$work/server-first.pem") ]]
}
# browser_setup: the NSS database of a headless Chromium trusting exactly the roots cardsetup put
# into the Windows store, and the example page with the library and its driver, served on
# http://localhost:8080 (an approved origin on the port LocalhostPorts lists).
browser_setup() {
  local pki=sql:$work/browser-home/.pki/nssdb which
  mkdir -p "$work/pages" "$work/results" "$work/browser-home/.pki/nssdb"
  cp "$root/out/win64/web/qardex.js" "$root/out/win64/web/service-demo.html" "$here/demo_driver.html" "$work/pages/"
  certutil -d "$pki" -N --empty-password >"$work/certutil.log" 2>&1 || die "certutil failed"
  for which in first second; do
    certutil -d "$pki" -A -t C,, -n "qardex-$which" -i "$work/root-$which.pem" >>"$work/certutil.log" 2>&1 ||
      die "certutil could not add the $which root"
  done
  /usr/bin/python3 "$root/testbed/web/page_server.py" --root "$work/pages" --results "$work/results" \
    --http 8080 --ready-file "$work/pages.ready" --log "$work/pages.log" --lifetime 300 >"$work/pages.out" 2>&1 &
  page_server=$!
  for _ in $(seq 100); do [[ -e $work/pages.ready ]] && return; sleep 0.1; done
  die "the page server did not start: $(cat "$work/pages.out")"
}
# demo NAME: the example page, driven by demo_driver.html in headless Chromium; what the page
# showed lands in $work/NAME.txt (60 s at most).
demo() {
  local name=$1 deadline=$((SECONDS + 60)) browser
  HOME=$work/browser-home setsid chromium --headless --no-sandbox --disable-gpu --disable-quic \
    --no-first-run --disable-background-networking --disable-component-update --disable-sync \
    --disable-dev-shm-usage --user-data-dir="$work/chromium-$name" \
    "http://localhost:8080/demo_driver.html?name=$name" >"$work/chromium-$name.log" 2>&1 &
  browser=$!
  until [[ -e $work/results/$name || $SECONDS -ge $deadline ]]; do sleep 0.1; done
  kill -- -"$browser" 2>/dev/null
  wait "$browser" 2>/dev/null
  mv "$work/results/$name" "$work/$name.txt" 2>/dev/null || : >"$work/$name.txt"
}
# shows NAME LINE...: the page NAME showed each line (a pattern) in this order, and nothing else.
shows() {
  local file=$work/$1.txt line i=0
  shift
  local lines=()
  mapfile -t lines <"$file"
  [[ ${#lines[@]} -eq $# ]] || { qx_say "    $(tr '\t\n' ' |' <"$file" | head -c 600)"; return 1; }
  for line in "$@"; do
    [[ ${lines[i]} == $line ]] || { qx_say "    line $((i + 1)): ${lines[i]}"; return 1; }
    i=$((i + 1))
  done
}
# firefox_names_root WHICH: Firefox's list names the copy of root-WHICH.pem that is named by its
# serial number, the only such copy there (Firefox installs nothing again from a known path).
firefox_names_root() {
  local serial
  serial=$(openssl x509 -in "$work/root-$1.pem" -noout -serial | sed 's/^serial=//')
  list_is "$firefox\\Install" "$app_win\\certpem\\ZELRootCA-$serial.pem" &&
    is "$(cd "$app/certpem" && ls ZELRootCA-*.pem | tr '\n' ' ')" "ZELRootCA-$serial.pem " &&
    is "$(fingerprint <"$app/certpem/ZELRootCA-$serial.pem")" "$(fingerprint <"$work/root-$1.pem")"
}
policies_set() {
  mapfile -t wanted < <(listed 8080)
  list_is "$chrome" https://admin.example "${wanted[@]}" && list_is "$edge" "${wanted[@]}" &&
    [[ $(values "$firefox") == "ImportEnterpriseRoots REG_DWORD 0x0" ]] && firefox_names_root "$1" &&
    [[ $(grep -c BEGIN "$app/certpem/ZELRootCA.pem") == 1 ]] &&
    is "$(fingerprint <"$app/certpem/ZELRootCA.pem")" "$(fingerprint <"$work/root-$1.pem")"
}

# --- The folder ----------------------------------------------------------------------------------
QX_SCENARIO="the edition's folder from the zip"
qx_say "== $QX_SCENARIO"
package_local_service "$work/package" >"$work/package.log" 2>&1 || die "packaging failed: $(cat "$work/package.log")"
mkdir -p "$app" || die "cannot make $app"
unzip -q "$work/package/local-service.zip" -d "$app" || die "unzip failed"
check "exactly the programs, scripts, texts and the two folders cardsetup expects" \
  is "$(cd "$app" && find . -mindepth 1 -printf '%P%y\n' | LC_ALL=C sort | tr '\n' ' ')" \
  "FoxTrust.cmdf FoxUntrust.cmdf README.txtf cardremove.exef cardsetup.exef cert/KeyMint.exef certd certpemd diagnostics.cmdf mQARDEXService.exef "
check "README.txt and diagnostics.cmd have CR LF line ends only" eval 'crlf_only "$app/README.txt" && crlf_only "$app/diagnostics.cmd"'

# --- First install -------------------------------------------------------------------------------
QX_SCENARIO="first install"
qx_say "== $QX_SCENARIO"
# An administrator's own settings, which must come back after cardremove.
run seed "@reg add $firefox /v ImportEnterpriseRoots /t REG_DWORD /d 0 /f" \
  "@reg add $chrome /v 1 /t REG_SZ /d https://admin.example /f" \
  "@reg add $policies\\QARDEX /v LocalhostPorts /t REG_SZ /d 8080 /f"
state >"$work/state.admin"
probe root 0000000000000000000000000000000000000000 >/dev/null # Wine fills the store on first use
export_root_store before
program cardsetup setup-first
check "exit code 0" status_is 0 setup-first
export_root_store first
check "the hosts entry in Wine's hosts file" \
  grep -qx "127.0.0.1       $host #mQARDEX use this. "$'\r' "$wine_hosts"
tr -d '\r' <"$wine_hosts" | grep -E "^[0-9.]+ +$host( |$)" >>"$dir/etc-hosts" # Linux resolves for Wine
first_cert "$app/certpem/ZELServerCert.pem" >"$work/server-first.pem"
check "KeyMint's files copied: certificate, chain, root" \
  copied ZELServerCert.crt certpem/ZELServerCert.pem certpem/ZELRootCA.pem
check "the key moved: none left in cert\\, the service's for SYSTEM and Administrators only" \
  eval '[[ ! -e $app/cert/ZELServerCert.key ]] && system_and_administrators_only "$(probe dacl "$app_win\\ZELServerCert.key")"'
check "the server certificate verifies for $host and 127.0.0.1 under the root" quiet \
  openssl verify -CAfile "$app/certpem/ZELRootCA.pem" -purpose sslserver -verify_hostname "$host" \
  -verify_ip 127.0.0.1 "$work/server-first.pem"
check "root: CA, path length 0" is "$(extension "$app/certpem/ZELRootCA.pem" 'Basic Constraints')" "critical CA:TRUE, pathlen:0"
check "root: certificate and CRL signing only" is "$(extension "$app/certpem/ZELRootCA.pem" 'Key Usage')" "critical Certificate Sign, CRL Sign"
loopback_host=${QARDEX_LOCAL_LOOPBACK_HOST:-local.qardex.localhost}
check "root: names constrained to $host, $loopback_host and 127.0.0.1/32" is "$(extension "$app/certpem/ZELRootCA.pem" 'Name Constraints')" \
  "critical Permitted: DNS:$host DNS:$loopback_host IP:127.0.0.1/255.255.255.255"
check "server: names $host, $loopback_host and 127.0.0.1" is "$(extension "$work/server-first.pem" 'Subject Alternative Name')" \
  "DNS:$host, DNS:$loopback_host, IP Address:127.0.0.1"
check "server: server authentication only" is "$(extension "$work/server-first.pem" 'Extended Key Usage')" "TLS Web Server Authentication"
check "server: digital signature and key encipherment" is "$(extension "$work/server-first.pem" 'Key Usage')" "critical Digital Signature, Key Encipherment"
check "ZELServerCert.key is the server certificate's key" \
  is "$(openssl pkey -in "$app/ZELServerCert.key" -pubout)" "$(openssl x509 -in "$work/server-first.pem" -noout -pubkey)"
check "the machine root store got exactly one certificate" imported_root before first
check "... the first of ZELServerCert.crt" root_is_first_of_crt
check "service mQARDEX running from the installation folder" service_from_folder
# The service's event source: its messages in the installed program, every type it reports.
event_source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\mQARDEX'
event_source() {
  wine reg query "$event_source_key" >"$work/source.reg" 2>&1
  tr -d '\r' <"$work/source.reg"
}
check "the event source mQARDEX: messages from the installed service, three types" eval \
  '[[ $(event_source) == *"EventMessageFile    REG_EXPAND_SZ    $app_win\\mQARDEXService.exe"* &&
    $(event_source) == *"TypesSupported    REG_DWORD    0x7"* ]]'
check "it answers HTTPS on $host:$port, trusted through the Windows root store alone" \
  service_answers "$work/root-first.pem"
check "Firefox, Chrome and Edge policies set, the administrator's site kept first" policies_set first
check "the service lists the reader" is "$(call GetReaders)" '{"result":"QX Local 00 00","lastError":0}'
check "... and reads the card's basic data" eval '[[ $(call GetBasic) == "{\"result\":\"$card_number,$id_number,"* ]]'

# --- Second install ------------------------------------------------------------------------------
QX_SCENARIO="second install"
qx_say "== $QX_SCENARIO"
program cardsetup setup-second
check "exit code 0" status_is 0 setup-second
export_root_store second
first_cert "$app/certpem/ZELServerCert.pem" >"$work/server-second.pem"
check "one more root in the store, a new one" imported_root first second
check "... and the first one gone from it" is "$(comm -23 "$work/store-first.list" "$work/store-second.list")" "$(comm -13 "$work/store-before.list" "$work/store-first.list")"
check "the service answers, trusted through the new root" service_answers "$work/root-second.pem"
check "it serves the new server certificate" serves_second
check "one service process" is "$(service_processes)" 1
check "policies as after the first run, nothing doubled" policies_set second
browser_setup
demo installed
tab=$'\t'
check "the example page in Chromium runs all twelve methods on the card, then checks the set-up" shows installed "Connected." \
  "GetVersion$tab\"0001\"${tab}0" "GetRandom$tab\"[0-9]*\"${tab}0" \
  "GetBasic$tab\"$card_number,$id_number,*\"${tab}0" "H_Sign$tab*$tab*" \
  "GetReaders$tab\"QX Local 00 00\"$tab*" "GetHCConnectNo${tab}0$tab*" "ServiceStatus$tab*$tab*" \
  "GetName$tab*${tab}0" "ZEL_FormatMessage$tab*$tab*" "SecureGetBasicWithParam$tab\"[0-9A-F]*\"${tab}0" \
  "GetLastError$tab*$tab*" "EnCrypt$tab\"[0-9A-F]*\"${tab}0" "OK: The browser lets*" \
  "OK: The QARDEX service runs*" "OK: The QARDEX service serves*" "OK: The QARDEX service works*" \
  "OK: A card reader*" "OK: An HC card*" "NOT OK: The authentication server*"
check "the service still runs" service_from_folder

# --- The set-up check ----------------------------------------------------------------------------
QX_SCENARIO="mQARDEXService --diagnose"
qx_say "== $QX_SCENARIO"
source "$root/testbed/network.sh" # start_authserver, stop_authserver
printf '127.0.0.1 %s\n' "$QX_AUTH_HOST" >>"$dir/etc-hosts"
extension_checks="HOST_CHROME FORCE_INSTALL_CHROME HOST_CHROMIUM FORCE_INSTALL_CHROMIUM HOST_EDGE FORCE_INSTALL_EDGE HOST_FIREFOX FORCE_INSTALL_FIREFOX"
all_checks="HOSTS CERT_FILES CERT_KEY CERT_EXPIRY CERT_CHAIN ROOT_STORE SERVICE PORT EVENT_SOURCE POLICY_CHROME POLICY_EDGE POLICY_FIREFOX POLICY_BLOCKED PROXY $extension_checks DAILY_LOG SMARTCARD_SERVICE READERS CARD AUTH_SERVER"
# diagnose NAME [--json]: the check, run by the user from the installation folder; output in
# $work/diagnose-NAME.out, exit code in $status.
diagnose() {
  (cd "$app" && wine "$app_win\\mQARDEXService.exe" --diagnose "${@:2}" >"$work/diagnose-$1.out" 2>"$work/diagnose-$1.err")
  status=$?
}
# diagnosed NAME COMPLAINTS: the check printed exactly COMPLAINTS ("LEVEL CODE" of every line but
# PASS), with exit code 1 exactly when one FAILs.
diagnosed() {
  local complaints expected=0
  diagnose "$1"
  complaints=$(tr -d '\r' <"$work/diagnose-$1.out" | awk '$1 != "PASS" { printf "%s%s %s", sep, $1, $2; sep = " " }')
  [[ $2 == *FAIL* ]] && expected=1
  [[ $complaints == "$2" && $status == "$expected" ]] ||
    { qx_say "    exit code $status: $(tr -d '\r' <"$work/diagnose-$1.out" | grep -v '^PASS' | head -c 400)"; false; }
}
codes_of() { tr -d '\r' <"$work/diagnose-$1.out" | awk '{ printf "%s%s", sep, $2; sep = " " }'; }
json_codes() {
  python3 -c 'import json,sys; r=json.load(sys.stdin); print(" ".join(c["level"]+":"+c["code"] for c in r["checks"]), r["failed"])' \
    <"$work/diagnose-json.out"
}
start_authserver --modes "accept-close*40" >/dev/null
check "healthy: every check passes" diagnosed healthy ""
check "... the checks in order, cheap ones first" is "$(codes_of healthy)" "$all_checks"
diagnose json --json
check "... and as JSON, exit code 0" is "$(json_codes) $status" "$(printf 'PASS:%s ' $all_checks)0 0"

# The extension's host registered for this user from a folder of its own, then its program gone.
host_folder=$drive/QARDEXHost
rm -rf "$host_folder" && mkdir -p "$host_folder"
cp "$root/out/win64/QARDEXHost.exe" "$root"/out/win64/com.qardex.host*.json "$host_folder/"
(cd "$host_folder" && wine 'C:\QARDEXHost\QARDEXHost.exe' --register-user >"$work/register-user.out" 2>&1)
check "a host registered for this user: every check passes" diagnosed user-host ""
check "... naming the user's registration in each browser" \
  eval '[[ $(tr -d "\r" <"$work/diagnose-user-host.out" | grep -c "^PASS HOST_[A-Z]* .* for this user (C:.QARDEXHost.com.qardex.host") -eq 4 ]]'
rm "$host_folder/QARDEXHost.exe"
check "its program deleted: FAIL HOST_* for each browser" diagnosed host-gone \
  "FAIL HOST_CHROME FAIL HOST_CHROMIUM FAIL HOST_EDGE FAIL HOST_FIREFOX"
(cd "$host_folder" && wine "$(winepath -w "$root/out/win64/QARDEXHost.exe")" --unregister-user >/dev/null 2>&1)
rm -rf "$host_folder"

cp "$wine_hosts" "$work/hosts.installed"
grep -v '#mQARDEX use this' "$work/hosts.installed" >"$wine_hosts"
check "hosts line removed: FAIL HOSTS" diagnosed no-hosts "FAIL HOSTS"
cp "$work/hosts.installed" "$wine_hosts"

cp "$app/ZELServerCert.key" "$work/key.installed"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$app/ZELServerCert.key" 2>/dev/null
check "certificate not matching the key: FAIL CERT_KEY" diagnosed other-key "FAIL CERT_KEY"
mv "$work/key.installed" "$app/ZELServerCert.key" # no third copy of the key stays behind

store_key="HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$(openssl x509 -in "$work/root-second.pem" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')"
wine reg export "$store_key" "$(winepath -w "$work/store-entry.reg")" /y >"$work/reg.log" 2>&1
wine reg delete "$store_key" /f >>"$work/reg.log" 2>&1
check "root removed from the store: FAIL ROOT_STORE" diagnosed no-root "FAIL ROOT_STORE"
wine reg import "$(winepath -w "$work/store-entry.reg")" >>"$work/reg.log" 2>&1
check "... and back: healthy" diagnosed root-back ""

wine reg export "$event_source_key" "$(winepath -w "$work/event-source.reg")" /y >>"$work/reg.log" 2>&1
wine reg delete "$event_source_key" /f >>"$work/reg.log" 2>&1
check "event source removed: WARN EVENT_SOURCE" diagnosed no-source "WARN EVENT_SOURCE"
wine reg import "$(winepath -w "$work/event-source.reg")" >>"$work/reg.log" 2>&1

run no-firefox "@reg export $firefox\\Install C:\\firefox-install.reg /y" "@reg delete $firefox\\Install /f"
check "Firefox policy removed: WARN POLICY_FIREFOX" diagnosed no-firefox "WARN POLICY_FIREFOX"
run firefox-back "@reg import C:\\firefox-install.reg"

run blocked "@reg add $policies\\Google\\Chrome\\LoopbackNetworkBlockedForUrls /v 1 /t REG_SZ /d [*.]203.0.113.10 /f"
check "an approved site in a blocked list: FAIL POLICY_BLOCKED, naming the policy" eval \
  'diagnosed blocked "FAIL POLICY_BLOCKED" && grep -q "LoopbackNetworkBlockedForUrls lists" "$work/diagnose-blocked.out"'
run unblocked "@reg delete $policies\\Google\\Chrome\\LoopbackNetworkBlockedForUrls /f"
# The user's proxy set by hand (nothing listens there: nor does the server answer), then with the
# service's name among its exceptions, then none.
user_proxy() {
  proxy_settings_reg "$@" >"$work/proxy.reg" && wine regedit /S "$(winepath -w "$work/proxy.reg")"
}
user_proxy 3 "127.0.0.1:18080" "<local>" ""
check "a proxy for every name: WARN PROXY naming it" eval \
  'diagnosed proxy "WARN PROXY FAIL AUTH_SERVER" && grep -q "to the proxy 127.0.0.1:18080" "$work/diagnose-proxy.out"'
user_proxy 3 "127.0.0.1:18080" "<local>;*.${host#*.}" ""
check "... with the service's name among the exceptions: PASS PROXY" diagnosed bypassed "FAIL AUTH_SERVER"
user_proxy 1 "" "" ""

wine sc stop mQARDEX >"$work/sc.log" 2>&1
service_stopped() {
  local deadline=$((SECONDS + 10))
  until [[ $(probe service mQARDEX) == state=stopped* ]]; do
    [[ $SECONDS -lt $deadline ]] || return 1
    sleep 0.2
  done
}
check "service stopped (within 10 s)" service_stopped
check "service stopped: FAIL SERVICE" diagnosed stopped "FAIL SERVICE"
# Another program on the port (the service's closed connections may linger in TIME_WAIT).
python3 -c 'import socket,sys,time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen()
time.sleep(120)' "$port" &
squatter=$!
for _ in $(seq 50); do ss -Hltn "sport = :$port" | grep -q . && break; sleep 0.1; done
check "another program on the port: FAIL SERVICE, FAIL PORT" diagnosed squatter "FAIL SERVICE FAIL PORT"
kill "$squatter"
wait "$squatter" 2>/dev/null
wine sc start mQARDEX >>"$work/sc.log" 2>&1
check "service started again and answering" service_answers "$work/root-second.pem"

remove_card 0
check "no card: FAIL CARD" diagnosed no-card "FAIL CARD"
printf 'refuse.select = 6A82\n' >"$work/other-card.conf"
insert_card 0 0 "$work/other-card.conf"
check "a card that is not an HC card: FAIL CARD" diagnosed other-card "FAIL CARD"
grep -h '^[A-Z]* CARD ' "$work"/diagnose-{no-card,other-card}.out | tr -d '\r' >"$work/card-lines"
check "... each with its own sentence" eval '[[ $(sort -u "$work/card-lines" | wc -l) == 2 ]]'
stop_pcscd
check "smart-card service stopped: FAIL SMARTCARD_SERVICE" diagnosed no-pcscd "FAIL SMARTCARD_SERVICE"
QX_READER_NAMES=() QX_READER_SLOTS=()
start_pcscd
check "no reader: FAIL READERS" diagnosed no-reader "FAIL READERS"
stop_pcscd
add_reader "QX Local"
insert_card 0 0 "$work/card.conf"
start_pcscd || die "pcscd did not show the reader and the card again"

stop_authserver
check "server down: FAIL AUTH_SERVER" diagnosed no-server "FAIL AUTH_SERVER"
start_authserver --modes normal >/dev/null
call_root=$work/root-second.pem
call H_Sign '["12345678901234567890"]' >"$work/h_sign.json"
stop_authserver
signed=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["result"])' "$work/h_sign.json" 2>/dev/null)
check "an H_Sign through the service: the server's 256 characters" is "${#signed}" 256

# --- The support bundle --------------------------------------------------------------------------
QX_SCENARIO="mQARDEXService --bundle"
qx_say "== $QX_SCENARIO"
daily_logs=("$drive/users/$(id -un)/Temp/"QARDEX.err.*.log)
holder=("$card_number" "WANG XIAO MING" "$id_number" "0650412") # the card's and the default's
logs_hold_card_data() {
  local value
  for value in "${holder[@]}"; do grep -qaF "$value" "${daily_logs[@]}" || return 1; done
}
check "the daily log holds the card's identifier, name, ID number and birth date" logs_hold_card_data
check "... and the H_Sign result" grep -qaF "${signed:0:200}" "${daily_logs[@]}"
# The user's proxy with a user name and password, and a browser of the user's own.
user_proxy 3 "qx-user:qx-secret@127.0.0.1:18080" "<local>" ""
user_browser='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Chromium'
wine reg add "$user_browser" /v DisplayName /d Chromium /f >>"$work/reg.log" 2>&1
wine reg add "$user_browser" /v DisplayVersion /d 150.0.7000.1 /f >>"$work/reg.log" 2>&1
(cd "$app" && wine "$app_win\\mQARDEXService.exe" --bundle 'C:\bundle.zip' >"$work/bundle.out" 2>&1)
status=$?
user_proxy 1 "" "" ""
wine reg delete "$user_browser" /f >>"$work/reg.log" 2>&1
check "bundle written, exit code 0" status_is 0 bundle
check "... the checks, versions, policies, browsers, proxy, install log, service log and the daily log" \
  is "$(unzip -Z1 "$drive/bundle.zip" | sed 's/[0-9]\{8\}/DATE/' | tr '\n' ' ')" \
  "checks.txt versions.txt policies.txt browsers.txt proxy.txt mQARDEX_Install.log mQARDEXService.log daily/QARDEX.err.DATE.log "
unzip -p "$drive/bundle.zip" >"$work/bundle.all"
for member in browsers proxy; do unzip -p "$drive/bundle.zip" $member.txt | tr -d '\r' >"$work/$member.txt"; done
check "... the user's Chromium with its version, Chrome not installed" eval \
  'grep -qxF "Chromium: 150.0.7000.1 (Chromium, this user)" "$work/browsers.txt" &&
    grep -qxF "Chrome: not installed" "$work/browsers.txt"'
check "... the user's proxy with its credentials masked, there and in every file" eval \
  'grep -qxF "  proxy: ***@127.0.0.1:18080" "$work/proxy.txt" && ! grep -qa qx-secret "$work/bundle.all"'

# no_card_data FILE VALUE...: no value in FILE as its bytes, as UTF-16, or as hex text.
no_card_data() {
  python3 -c 'import sys
data = open(sys.argv[1], "rb").read()
for value in sys.argv[2:]:
    for form in (value.encode(), value.encode("utf-16-le"), value.encode().hex().encode(),
                 value.encode().hex().upper().encode()):
        if form in data:
            sys.exit("found " + repr(form))' "$@"
}
check "no card data in the bundle, in any of those encodings" no_card_data "$work/bundle.all" "${holder[@]}"
# No piece of 12 of the result's characters, anywhere in the bundle.
result_pieces=()
for ((i = 0; i + 12 <= 256; i += 4)); do result_pieces+=("${signed:i:12}"); done
check "none of the H_Sign result's 256 characters in the bundle" no_card_data "$work/bundle.all" "${result_pieces[@]}"
check "... its final reply there, masked" grep -qaE "04<st=2>OK\*{246}" "$work/bundle.all"
check "... the daily log's entries are there, masked" \
  grep -qaF "basic [0**********6W****************** B********60*****2M1*****1]" "$work/bundle.all"

# --- Browser policies left to group policy --------------------------------------------------------
QX_SCENARIO="cardsetup --no-browser-policies"
qx_say "== $QX_SCENARIO"
program cardsetup setup-no-policies --no-browser-policies
check "exit code 0" status_is 0 setup-no-policies
check "policies exactly as the administrator had them: the earlier run's taken back" diff "$work/state.admin" <(state)
started_with_switch() { [[ $(probe service mQARDEX) == "state=running "*" path=\"$app_win\\mQARDEXService.exe\" --no-browser-policies" ]]; }
check "the service runs, started with the same switch" started_with_switch
program cardsetup setup-unknown --no-browser-policy
check "an unknown switch: exit code -1, nothing changed" \
  eval '[[ $status != 0 ]] && grep -q "^usage: cardsetup" "$work/setup-unknown.out" && started_with_switch'

# --- Renewal -------------------------------------------------------------------------------------
QX_SCENARIO="the running service renews its certificate set"
qx_say "== $QX_SCENARIO"
# KeyMint makes a set that enters the renewal window (30 days before its end) 20 s after it is
# made; the service, started without the setting, renews it with a set of the usual lifetime.
service_log=$drive/ProgramData/QARDEX/mQARDEXService.log
log_mark=$(stat -c %s "$service_log" 2>/dev/null || echo 0) # the log outlives the prefix's runs
began=$SECONDS # KeyMint runs within the first second of cardsetup
QARDEX_TEST_CERTIFICATE_SECONDS=$((30 * 86400 + 3600 + 20)) program cardsetup setup-short
check "cardsetup with a set that falls due in 20 s: exit code 0" status_is 0 setup-short
export_root_store short
imported_root second short
check "before the renewal, a client trusting the machine store alone connects" service_answers "$work/root-short.pem"
# The process that holds the listening socket (wineserver holds it too).
listener_pid() { ss -Hltnp "sport = :$port" | grep -o '"[^"]*",pid=[0-9]*' | grep -v '^"wineserver"' | head -n 1; }
started_pid=$(listener_pid)
new_log() { tail -c +$((log_mark + 1)) "$service_log" | tr -d '\r'; }
renewed() {
  local deadline=$((SECONDS + 40))
  until new_log | grep -q 'certificate renewed'; do
    [[ $SECONDS -lt $deadline ]] || { qx_say "    $(new_log | grep 'renewal' | tail -n 3)"; return 1; }
    sleep 0.5
  done
}
check "the running service renews the set (within 40 s)" renewed
export_root_store renewed
first_cert "$app/certpem/ZELServerCert.pem" >"$work/server-renewed.pem"
renewed_root=$(comm -13 "$work/store-before.list" "$work/store-renewed.list")
cp "$work/store-renewed/$renewed_root.pem" "$work/root-renewed.pem" 2>/dev/null
one_new_root() {
  [[ -n $renewed_root && $renewed_root != *$'\n'* ]] || { qx_say "    ours in the store: ${renewed_root//$'\n'/ }"; return 1; }
  ! grep -qxF "$renewed_root" "$work/store-short.list"
}
check "exactly one root of ours left in the machine store, a new one" one_new_root
check "after it, a client trusting the machine store alone connects" service_answers "$work/root-renewed.pem"
check "... and gets the new server certificate" \
  is "$(served_certificate)" "$(fingerprint <"$work/server-renewed.pem")"
check "the same service process listening, still running" \
  eval '[[ -n $started_pid && $(listener_pid) == "$started_pid" ]] && service_from_folder'
check "Firefox's list names the new root's own copy, the only one" firefox_names_root renewed
check "the new key for SYSTEM and Administrators only, the certificate's" \
  eval 'system_and_administrators_only "$(probe dacl "$app_win\\ZELServerCert.key")" && is "$(openssl pkey -in "$app/ZELServerCert.key" -pubout)" "$(openssl x509 -in "$work/server-renewed.pem" -noout -pubkey)"'
check "--diagnose: every certificate, store and policy check passes" diagnosed renewed "FAIL AUTH_SERVER"
qx_say "    (this part: $((SECONDS - began)) s)"

# --- Removal -------------------------------------------------------------------------------------
QX_SCENARIO="cardremove"
qx_say "== $QX_SCENARIO"
program cardremove remove
check "exit code 0" status_is 0 remove
export_root_store removed
check "no root of the service left in the store" is "$(comm -13 "$work/store-before.list" "$work/store-removed.list")" ""
check "service gone (within 10 s)" probe wait-gone mQARDEX 10
check "HTTPS refused" service_refused
check "no service process left" is "$(service_processes)" 0
check "the event source gone" eval '[[ $(event_source) != *EventMessageFile* ]]'
check "policies exactly as the administrator had them" diff "$work/state.admin" <(state)
demo removed
check "the example page says the service is not running, also when checking the set-up" \
  shows removed "service-not-running: *" "GetVersion$tab$tab" "GetRandom$tab$tab" "GetBasic$tab$tab" \
  "H_Sign$tab$tab" "GetReaders$tab$tab" "GetHCConnectNo$tab$tab" "ServiceStatus$tab$tab" "GetName$tab$tab" \
  "ZEL_FormatMessage$tab$tab" "SecureGetBasicWithParam$tab$tab" "GetLastError$tab$tab" "EnCrypt$tab$tab" \
  "OK: The browser lets*" "NOT OK: The QARDEX service runs*"

# --- The root's private key ----------------------------------------------------------------------
QX_SCENARIO="the root's private key is nowhere"
qx_say "== $QX_SCENARIO"
wineserver -k >/dev/null 2>&1 # writes the registry files
wineserver -w >/dev/null 2>&1
first_modulus=$(modulus "$work/root-first.pem")
second_modulus=$(modulus "$work/root-second.pem")
controls=$dir/controls # outside the searched folders
rm -rf "$controls" && mkdir -p "$controls"
cp "$work/root-first.pem" "$controls/root.pem"
openssl x509 -in "$controls/root.pem" -outform DER -out "$controls/root.der"
openssl x509 -in "$controls/root.pem" -noout -text >"$controls/root.txt"
# (The registry form: the store's export from when the root was in it; cardremove took it out.)
check "the search finds a modulus where it belongs: PEM, DER, text, registry store" \
  is "$(perl "$here/find_modulus.pl" --all "$first_modulus" "$controls"/root.{pem,der,txt} \
    "$work/store-first.reg" | sed "s|$controls/||; s|$work/||" | tr '\n' ';')" \
  "root.pem: base64;root.der: raw;root.txt: hex;store-first.reg: hex;"
# Every file written since the run began (a key made in the run can only be in those), the
# registry files, and all output captured; the search leaves certificates out. (Left out too:
# the store exports, UTF-16 copies of the store that system.reg holds as well, and the browser's
# certificate database, which holds nothing but the two roots.)
mapfile -d '' searched < <(find "$WINEPREFIX" "$work" -type f \( -cnewer "$work/started" -o -name '*.reg' \) \
  ! -path "$work/store-*.reg" ! -path "$work/browser-home/.pki/*" -print0)
check "${#searched[@]} files searched, the install folder's among them" \
  eval '[[ " ${searched[*]} " == *" $app/ZELServerCert.key "* && ${#searched[@]} -gt 20 ]]'
check "no file holds the first root's modulus outside a certificate" \
  perl "$here/find_modulus.pl" "$first_modulus" "${searched[@]}"
check "no file holds the second root's modulus outside a certificate" \
  perl "$here/find_modulus.pl" "$second_modulus" "${searched[@]}"
# Text files only: the programs carry OpenSSL's PEM names.
mapfile -t keys < <(grep -rlIF 'PRIVATE KEY' "$WINEPREFIX" "$work" | sed "s|$app/||" | LC_ALL=C sort)
check "PRIVATE KEY only in the service's key file" is "${keys[*]}" "ZELServerCert.key"
check "that file holds one key" is "$(grep -c 'BEGIN PRIVATE KEY' "$app/ZELServerCert.key")" 1

finish
