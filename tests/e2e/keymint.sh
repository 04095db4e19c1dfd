#!/usr/bin/env bash
# End to end under Wine, in a prefix of its own: the Windows KeyMint.exe, started through the
# command interpreter as the installer starts it, leaves a valid certificate set in its own
# folder (again on a second run, never a partial one); FoxTrust.cmd and FoxUntrust.cmd set the
# browser policies with reg.exe and put back exactly what an administrator had.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/tests/e2e/lib/preamble.sh"
win64=$root/out/win64
dir=${QARDEX_E2E_DIR:-$root/build/e2e}/keymint
host=${QARDEX_LOCAL_HOST:-local.qardex.example}
loopback_host=${QARDEX_LOCAL_LOOPBACK_HOST:-local.qardex.localhost}
die() { e2e_die "$@"; }

for file in KeyMint.exe FoxTrust.cmd FoxUntrust.cmd; do
  [[ -f $win64/$file ]] || die "missing $win64/$file (build the win64 preset)"
done
e2e_namespaces "$0" "$@"
e2e_prefix "$dir/wineprefix"
trap 'wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1' EXIT
# One wineserver for the whole file: a batch file started while the previous run's server was
# shutting down was seen to end with exit code 1 and no output under load.
wineserver -p >/dev/null 2>&1
drive=$WINEPREFIX/drive_c
work=$drive/e2e
rm -rf "$work" && mkdir -p "$work"

QX_ROOT_DIR=$root
source "$root/tests/e2e/lib/browser_policies.sh" # run, state, values, list_is, origins
status_is() { [[ $status == "$1" ]] || { qx_say "    exit code $status, expected $1: $(head -c 300 "$work/$2.out")"; false; }; }

# --- KeyMint.exe ---------------------------------------------------------------------------------
app="$drive/KeyMint Test/cert"
mkdir -p "$app" && cp "$win64/KeyMint.exe" "$app/"
mint() { run mint '@cd /d C:\' '@call "C:\KeyMint Test\cert\KeyMint.exe"' '@exit /b %errorlevel%'; }
set_files=(ZELServerCert.crt ZELServerCert.key ZELServerCert.pem ZELRootCA.pem)
only_the_set() { [[ $(cd "$app" && ls | sort | tr '\n' ' ') == "KeyMint.exe ZELRootCA.pem ZELServerCert.crt ZELServerCert.key ZELServerCert.pem " ]]; }
first_cert() { awk '/-----BEGIN/{n++} n==1' "$1"; }
server_verifies() {
  local name
  first_cert "$app/ZELServerCert.pem" >"$work/server.pem"
  for name in "$host" "$loopback_host"; do
    openssl verify -CAfile "$app/ZELRootCA.pem" -purpose sslserver -verify_hostname "$name" \
      -verify_ip 127.0.0.1 "$work/server.pem" >"$work/verify.out" 2>&1 || { qx_say "    $(cat "$work/verify.out")"; return 1; }
  done
}
crt_starts_with_root() { [[ $(first_cert "$app/ZELServerCert.crt") == "$(cat "$app/ZELRootCA.pem")" ]]; }
key_fits_server() {
  [[ $(openssl pkey -in "$app/ZELServerCert.key" -pubout) == "$(openssl x509 -in "$work/server.pem" -noout -pubkey)" ]]
}
sums() { (cd "$app" && sha256sum "${set_files[@]}"); }

QX_SCENARIO="KeyMint.exe run by the command interpreter from another folder"
qx_say "== $QX_SCENARIO"
mint
check "exit code 0" status_is 0 mint
check "the four files beside the program, nothing else" only_the_set
check "server certificate verifies for $host, $loopback_host and 127.0.0.1 under the root" server_verifies
check "ZELServerCert.crt starts with the root (the certificate the installer imports)" crt_starts_with_root
check "ZELServerCert.key is the server certificate's key" key_fits_server
# Wine keeps no access list; it turns the key's protected one into Unix modes: nothing for others.
check "ZELServerCert.key for SYSTEM and Administrators only, the certificates for all to read" \
  eval '[[ $(stat -c %a "$app/ZELServerCert.key") == ?[0-7]0 && $(stat -c %a "$app/ZELServerCert.crt") == ?[0-7]4 ]]'

QX_SCENARIO="KeyMint.exe run again"
qx_say "== $QX_SCENARIO"
first_root=$(cat "$app/ZELRootCA.pem")
mint
check "exit code 0" status_is 0 mint
check "a new root" test "$first_root" != "$(cat "$app/ZELRootCA.pem")"
check "the whole set replaced, nothing left over" only_the_set
check "server certificate verifies under the new root" server_verifies
check "key fits the new server certificate" key_fits_server

QX_SCENARIO="KeyMint.exe cannot write one file"
qx_say "== $QX_SCENARIO"
sums >"$work/before.sums"
mkdir -p "$app/ZELServerCert.pem.keymint-new/in-the-way"
mint
check "non-zero exit code" test "$status" -ne 0
check "a message says why" grep -q "KeyMint failed: " "$work/mint.out"
check "the earlier set untouched" diff "$work/before.sums" <(sums)
rm -rf "$app/ZELServerCert.pem.keymint-new"

# --- FoxTrust.cmd and FoxUntrust.cmd -------------------------------------------------------------
cp "$win64/FoxTrust.cmd" "$win64/FoxUntrust.cmd" "$work/"

trust() { run trust '@call C:\e2e\FoxTrust.cmd' '@exit /b %errorlevel%'; }
untrust() { run untrust '@call C:\e2e\FoxUntrust.cmd' '@exit /b %errorlevel%'; }
# admin LINES...: a clean machine, then the administrator's reg.exe commands.
admin() {
  run admin "@reg delete $policies\\Google /f" "@reg delete $policies\\Mozilla /f" \
    "@reg delete $policies\\Microsoft /f" '@reg delete HKLM\SOFTWARE\QARDEX /f' \
    "@reg delete $policies\\QARDEX /f" "$@"
  state >"$work/admin.state"
}
ours='C:\e2e\certpem\ZELRootCA.pem'
firefox_is() { [[ $(values "$firefox") == "$1" ]] && list_is "$firefox\\Install" "${@:2}"; }
restored() { diff "$work/admin.state" <(state) >"$work/restored.diff" || { qx_say "    $(head -c 400 "$work/restored.diff")"; false; }; }
no_firefox_keys() {
  state >/dev/null
  ! grep -q Mozilla "$work/state.out" || { qx_say "    $(grep Mozilla "$work/state.out" | tr '\n' ';') after: $(tr '\n' ';' <"$work/untrust.out")"; false; }
}
others=("${origins[@]:1}")

QX_SCENARIO="browser policies on a machine without any"
qx_say "== $QX_SCENARIO"
admin
cp "$win64/KeyMint.exe" "$work/reg.exe" # where the interpreter looks first for a bare "reg"
trust
rm -f "$work/reg.exe"
check "FoxTrust exit code 0" status_is 0 trust
check "FoxTrust ran the system's reg.exe, not one in its current folder" test ! -e "$work/ZELRootCA.pem"
check "Firefox installs our root, and only that" firefox_is "" "$ours"
check "Chrome lists the approved sites, http://localhost not without LocalhostPorts" list_is "$chrome" "${others[@]}"
check "Edge lists the approved sites" list_is "$edge" "${others[@]}"
check "Chrome's and Edge's loopback lists name the same sites" \
  eval 'list_is "$chrome_loopback" "${others[@]}" && list_is "$edge_loopback" "${others[@]}"'
check "Firefox asks no Local Network Access permission for the approved sites' hosts" \
  list_is "$firefox_skip" "${others[@]#*://}"
untrust
check "FoxUntrust exit code 0" status_is 0 untrust
check "everything gone, keys included" restored

QX_SCENARIO="browser policies an administrator set before, turned on by an earlier version"
qx_say "== $QX_SCENARIO"
admin "@reg add $firefox /v ImportEnterpriseRoots /t REG_DWORD /d 0 /f" \
  "@reg add $firefox\\Install /v 1 /t REG_SZ /d C:\\corp.crt /f" \
  "@reg add $chrome /v 1 /t REG_SZ /d https://admin.example /f" \
  "@reg add $chrome /v 2 /t REG_SZ /d ${origins[0]} /f" "@reg add $edge /f" \
  "@reg add $chrome_loopback /v 1 /t REG_SZ /d https://admin.example /f" \
  "@reg add $firefox_skip /v 1 /t REG_SZ /d admin.example /f"
run earlier "@reg add $firefox /v ImportEnterpriseRoots /t REG_DWORD /d 1 /f" \
  '@reg add HKLM\SOFTWARE\QARDEX\BrowserPolicies /v FirefoxBefore /t REG_SZ /d "REG_DWORD 0x0" /f'
trust
check "FoxTrust exit code 0" status_is 0 trust
check "Firefox: the administrator's setting and certificate kept, ours added" \
  firefox_is "ImportEnterpriseRoots REG_DWORD 0x0" 'C:\corp.crt' "$ours"
check "Chrome: the administrator's sites first, each approved site once" \
  list_is "$chrome" https://admin.example "${origins[0]}" "${others[@]}"
trust
check "FoxTrust again: exit code 0" status_is 0 trust
check "FoxTrust again: nothing doubled" list_is "$chrome" https://admin.example "${origins[0]}" "${others[@]}"
untrust
check "FoxUntrust exit code 0" status_is 0 untrust
check "the administrator's settings exactly as before" restored

QX_SCENARIO="a site added while the policies are set"
qx_say "== $QX_SCENARIO"
admin "@reg add $chrome /v 1 /t REG_SZ /d https://admin.example /f"
trust
run later "@reg add $chrome /v $((${#origins[@]} + 2)) /t REG_SZ /d https://later.example /f"
untrust
check "FoxUntrust exit code 0" status_is 0 untrust
check "Chrome keeps both sites of the administrator, numbered without a gap" \
  list_is "$chrome" https://admin.example https://later.example
check "the Firefox keys FoxTrust made are gone" no_firefox_keys

QX_SCENARIO="a certificate added to Firefox's list while ours is in it"
qx_say "== $QX_SCENARIO"
admin "@reg add $firefox\\Install /v 1 /t REG_SZ /d C:\\corp.crt /f"
trust; run later "@reg add $firefox\\Install /v 3 /t REG_SZ /d C:\\later.crt /f"; untrust
check "Firefox keeps both certificates of the administrator, numbered without a gap" \
  list_is "$firefox\\Install" 'C:\corp.crt' 'C:\later.crt'

QX_SCENARIO="http://localhost with the ports of LocalhostPorts, the policy changed before FoxUntrust"
qx_say "== $QX_SCENARIO"
ports_policy() { run ports "@reg add $policies\\QARDEX /v LocalhostPorts /t $1 /d \"$2\" /f"; }
admin "@reg add $chrome /v 1 /t REG_SZ /d https://admin.example /f"
ports_policy REG_SZ "8443, 8081"
trust
mapfile -t wanted < <(listed 8443 8081)
check "Chrome lists http://localhost with each listed port, then the others" \
  list_is "$chrome" https://admin.example "${wanted[@]}"
ports_policy REG_SZ 9000
untrust
check "FoxUntrust takes back exactly what FoxTrust added" list_is "$chrome" https://admin.example
check "... and the Edge list it made" test -z "$(values "$edge")"
# Each value on a machine made clean again (cheaper under Wine than FoxUntrust, shown above).
for value in "REG_SZ|8081;8082" "REG_SZ|08081" "REG_SZ|8081 65536" "REG_SZ|8081,x" "REG_MULTI_SZ|8081"; do
  run clean "@reg delete $policies\\Google /f" '@reg delete HKLM\SOFTWARE\QARDEX /f' \
    "@reg add $policies\\QARDEX /v LocalhostPorts /t ${value%%|*} /d \"${value#*|}\" /f"
  trust
  check "LocalhostPorts ${value/|/ } lists no port" list_is "$chrome" "${others[@]}"
done

QX_SCENARIO="FoxUntrust without FoxTrust"
qx_say "== $QX_SCENARIO"
admin "@reg add $edge /v 1 /t REG_SZ /d ${origins[0]} /f"
untrust
check "exit code 0" status_is 0 untrust
check "nothing changed" restored

finish
