#!/usr/bin/env bash
# End to end under Wine's msiexec, in private mount and network namespaces and a prefix of its
# own: the Windows Installer package installs the control and the local-service edition (its
# cardsetup runs for real: certificate set, policies, service), registers the control exactly as
# regsvr32 does, registers the browser extension's host for every user and writes the
# force-install policies its properties ask for (kept across the upgrade, dropped with "none"),
# upgrades an older package, repairs a deleted file, rolls back when cardsetup fails, refuses a
# downgrade and leaves nothing behind on removal. The package and its binaries
# are signed with a throwaway code-signing certificate and verified.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/tests/e2e/lib/preamble.sh"
die() { e2e_die "$@"; }
e2e_namespaces "$0" "$@"

host=${QARDEX_LOCAL_HOST:-local.qardex.example}
port=${QARDEX_LOCAL_PORT:-14443}
version=$(head -n 1 "$root/VERSION")
dir=${QARDEX_E2E_DIR:-$root/build/e2e}/msi
work=$dir/work
for tool in wixl msiinfo msiextract osslsigncode openssl curl; do
  command -v "$tool" >/dev/null || die "$tool is not installed (scripts/build installs it)"
done
mkdir -p "$dir"
e2e_private_hosts "$dir/hosts" "$host"

e2e_wine_env "$dir/wineprefix"
e2e_lock "$dir/prefix.lock" 600 "the package test's Wine prefix"
cleanup() {
  local status=$?
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  rm -rf "$dir/prefix.lock"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- Packages: the current version signed, an older one to upgrade from ------------------------
rm -rf "$work" && mkdir -p "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/sign.key" -out "$work/sign.crt" -days 2 \
  -subj "/CN=QARDEX test code signing" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1 || die "openssl could not make a certificate"
"$root/scripts/package-msi" --out "$work/new" --sign "$work/sign.crt" "$work/sign.key" \
  >"$work/package-new.log" 2>&1 || die "package-msi failed: $(tail -n 5 "$work/package-new.log")"
"$root/scripts/package-msi" --out "$work/old" --version 0.9.0 --fail-on-purpose >"$work/package-old.log" 2>&1 ||
  die "package-msi --version 0.9.0 failed: $(tail -n 5 "$work/package-old.log")"
"$root/scripts/package-msi" --out "$work/again" >"$work/package-again.log" 2>&1 ||
  die "package-msi (unsigned) failed: $(tail -n 5 "$work/package-again.log")"
new=$work/new/QARDEX-x64.msi     # this version, signed
again=$work/again/QARDEX-x64.msi # this version again, unsigned: another product code
old=$work/old/QARDEX-x64.msi

# --- Signatures ----------------------------------------------------------------------------------
QX_SCENARIO="signatures"
qx_say "== $QX_SCENARIO"
verified() { osslsigncode verify -in "$1" -CAfile "$work/sign.crt" >"$work/verify.log" 2>&1; }
check "the package's signature verifies" verified "$new"
mkdir -p "$work/extracted"
(cd "$work/extracted" && msiextract "$new" >/dev/null 2>&1)
binaries=0 unsigned=()
while IFS= read -r -d '' file; do
  binaries=$((binaries + 1))
  verified "$file" || unsigned+=("${file#"$work/extracted/"}")
done < <(find "$work/extracted" \( -name '*.exe' -o -name '*.dll' \) -print0)
check "every binary in it ($binaries) is signed" eval '[[ $binaries -eq 6 && ${#unsigned[@]} -eq 0 ]] || { qx_say "    unsigned: ${unsigned[*]}"; false; }'
cp "$new" "$work/tampered.msi"
printf 'X' | dd of="$work/tampered.msi" bs=1 seek=$(($(stat -c %s "$new") / 2)) conv=notrunc 2>/dev/null
check "a package changed after signing fails verification" eval '! verified "$work/tampered.msi"'
check "the unsigned package fails verification" eval '! verified "$old"'
"$root/scripts/package" --no-build --sign "$work/sign.crt" "$work/sign.key" >"$work/package.log" 2>&1
check "scripts/package --sign: exit code 0" eval '[[ $? -eq 0 ]] || { qx_say "    $(tail -n 3 "$work/package.log")"; false; }'
mkdir -p "$work/zip" && (cd "$work/zip" && unzip -q "$root/out/package/local-service.zip")
programs=$(find "$work/zip" -name '*.exe' | wc -l) unsigned=()
while IFS= read -r -d '' file; do verified "$file" || unsigned+=("${file#"$work/zip/"}"); done \
  < <(find "$work/zip" -name '*.exe' -print0)
check "... the edition's zip holds its four programs, signed" \
  eval '[[ $programs -eq 4 && ${#unsigned[@]} -eq 0 ]] || { qx_say "    $programs, unsigned: ${unsigned[*]}"; false; }'
check "... and the packages beside it verify" verified "$root/out/package/QARDEX-x64.msi"

# --- Prefix and a snapshot of the clean machine --------------------------------------------------
e2e_prefix "$WINEPREFIX"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" # no menu entries on this machine
e2e_tcp_owner "$dir/tcp-owner.log"
wineserver -p >/dev/null 2>&1 # the service lives as long as wineserver
drive=$WINEPREFIX/drive_c
app="$drive/Program Files/QARDEX"
rm -rf "$app"
! wine reg query 'HKLM\Software\Classes\QARDEX.twQARDEX' >/dev/null 2>&1 ||
  die "the prefix holds an earlier installation: run with QARDEX_E2E_FRESH=1"

# snapshot NAME: the machine's registry (as text, sorted by key) and files.
snapshot() {
  local hive
  for hive in HKLM HKCU; do
    wine reg export "$hive" "$work/$1.$hive.reg" /y >/dev/null 2>&1 || die "reg export $hive failed"
    iconv -f UTF-16LE -t UTF-8 "$work/$1.$hive.reg" | tr -d '\r' >"$work/$1.$hive.txt"
  done
  (cd "$drive" && find . -path ./windows/temp -prune -o -path ./users -prune -o -print | sort) >"$work/$1.files"
}

# msi LOGNAME ARGS...: msiexec ARGS silently, logging to msiexec-LOGNAME.log; at most 300 s.
msi() {
  local log=$work/msiexec-$1.log
  shift
  timeout 300 wine msiexec "$@" /qn /l*v "$(winepath -w "$log")" >/dev/null 2>&1
}

service_state() { wine sc query mQARDEX 2>/dev/null | tr -d '\r' | sed -n 's/^ *STATE *: [0-9]* *//p'; }
service_answers() { # /v1/version over TLS, trusted through the installed certpem\ZELRootCA.pem
  local code
  code=$(curl -sS --max-time 15 --cacert "$app/LocalService/certpem/ZELRootCA.pem" -o "$work/body" \
    -w '%{http_code}' -H "Origin: https://www.${host#*.}" "https://$host:$port/v1/version" 2>"$work/curl.err")
  [[ $code == 200 && $(cat "$work/body") == "{\"version\":\"0001\","* ]] || { qx_say "    $code $(cat "$work/curl.err")"; false; }
}
service_running() {
  local deadline=$((SECONDS + 15))
  until [[ $(service_state) == RUNNING ]]; do
    [[ $SECONDS -lt $deadline ]] || { qx_say "    service state: '$(service_state)'"; return 1; }
    sleep 0.3
  done
}
# "PRODUCTCODE VERSION" of every installed QARDEX product.
installed() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ {n = split($0, part, "\\"); key = part[n]} /DisplayName.*QARDEX$/ {found[key] = 1}
      /DisplayVersion/ {v[key] = $NF} END {for (k in found) print k, v[k]}'
}
installed_version() { installed | cut -d' ' -f2; }
product_code() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" {print $2}'; }
is() { [[ $1 == "$2" ]] || { qx_say "    got '$1', expected '$2'"; false; }; }

# The control's keys as one text: the class, the ProgIDs, the type library and the interface in
# both registry views, the categories.
clsid={F6885F44-A5ED-4F29-897A-52DFD31A5999}
control_keys() {
  local classes='HKLM\Software\Classes' key file=$work/$1.keys
  : >"$file"
  for key in "CLSID\\$clsid" QARDEX.twQARDEX QARDEX.twQARDEX.1 \
    "TypeLib\\{199A7ACB-CA3C-4352-A760-556EA08AB471}" "Interface\\{79998B7B-3525-40AE-B824-52111CDA5C36}" \
    "Wow6432Node\\TypeLib\\{199A7ACB-CA3C-4352-A760-556EA08AB471}" \
    "Wow6432Node\\Interface\\{79998B7B-3525-40AE-B824-52111CDA5C36}" \
    "Component Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}" \
    "Component Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}"; do
    printf '### %s\n' "$key" >>"$file"
    if wine reg export "$classes\\$key" "$work/key.reg" /y >/dev/null 2>&1; then
      iconv -f UTF-16LE -t UTF-8 "$work/key.reg" | tr -d '\r' | tail -n +2 | sed 's/\\Typelib\\/\\TypeLib\\/' >>"$file"
    else
      echo absent >>"$file"
    fi
  done
}

# Wine registers its script engines' type libraries on first use: use them once before the
# snapshot, so that the comparison after removal sees only what the package left.
printf 'WScript.Echo("warm");\n' >"$work/warm.js"
timeout 120 wine cscript //nologo "$(winepath -w "$work/warm.js")" >/dev/null 2>&1
# An administrator's own force-installed extension, which the package must leave alone.
chrome_list='HKLM\Software\Policies\Google\Chrome\ExtensionInstallForcelist'
wine reg add "$chrome_list" /v 1 /t REG_SZ /d "aaaabbbbccccddddeeeeffffgggghhhh;https://admin.example/u.xml" /f >/dev/null 2>&1
snapshot clean

# --- A failing cardsetup rolls the installation back ---------------------------------------------
QX_SCENARIO="cardsetup fails"
qx_say "== $QX_SCENARIO"
hosts=$drive/windows/system32/drivers/etc/hosts
rm -rf "$hosts.mQARDEX.Install.backup" && mkdir "$hosts.mQARDEX.Install.backup" # cardsetup cannot write its hosts backup: exit -1
msi rollback /i "$(winepath -w "$old")"
status=$?
rmdir "$hosts.mQARDEX.Install.backup"
check "msiexec fails (status $status)" test "$status" -ne 0
# (Wine logs a deferred action's failure as return value 0, Windows as 3.)
check "the log names cardsetup's failure" grep -aqE "ended .*: RunCardSetup\. Return value [03]\." "$work/msiexec-rollback.log"
check "no installation folder left" test ! -e "$app"
check "no product registered" is "$(installed_version)" ""
check "no class registered" eval '! wine reg query "HKLM\\Software\\Classes\\CLSID\\$clsid" >/dev/null 2>&1'
# The rollback action is logged once when scheduled and once more when the rollback runs it.
check "cardremove ran in the rollback, after cardsetup failed" eval 'awk "/RunCardSetup\\. Return value [03]\\./ {failed = 1}
  failed && /ended .*: UndoCardSetup\\./ {ran = 1} END {exit !ran}" "$work/msiexec-rollback.log"'

# --- Install the older package, then upgrade -----------------------------------------------------
QX_SCENARIO="install 0.9.0, forcing the extension"
qx_say "== $QX_SCENARIO"
update_url=https://ext.qardex.example/chromium/updates.xml xpi_url=https://ext.qardex.example/firefox/qardex.xpi
check "msiexec /i exit code 0" msi old /i "$(winepath -w "$old")" \
  CHROMIUM_EXTENSION_UPDATE_URL="$update_url" FIREFOX_EXTENSION_URL="$xpi_url"
check "version 0.9.0 registered" is "$(installed_version)" 0.9.0
check "service running" service_running
crt_before=$(cat "$app/LocalService/ZELServerCert.crt" 2>/dev/null)
# The root cardsetup imported: the first certificate of ZELServerCert.crt.
thumbprint() { openssl x509 -in "$app/LocalService/ZELServerCert.crt" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g'; }
roots=("$(thumbprint)")

QX_SCENARIO="upgrade to $version"
qx_say "== $QX_SCENARIO"
check "msiexec /i exit code 0" msi upgrade /i "$(winepath -w "$again")"
check "only version $version registered" is "$(installed_version)" "$version"
check "service running again" service_running
check "cardsetup ran again: a new certificate set" \
  eval '[[ -s $app/LocalService/ZELServerCert.crt && $(cat "$app/LocalService/ZELServerCert.crt") != "$crt_before" ]]'
roots+=("$(thumbprint)")
check "the service program lies in Program Files" \
  eval 'wine reg query "HKLM\\System\\CurrentControlSet\\Services\\mQARDEX" /v ImagePath 2>/dev/null |
    grep -qF "C:\\Program Files\\QARDEX\\LocalService\\mQARDEXService.exe"'

QX_SCENARIO="the same version rebuilt (and signed) replaces it"
qx_say "== $QX_SCENARIO"
check "msiexec /i exit code 0" msi rebuilt /i "$(winepath -w "$new")"
check "only the rebuilt product registered" is "$(installed)" "$(product_code "$new") $version"
check "its signed files installed" \
  eval 'osslsigncode verify -in "$app/QARDEX.dll" -CAfile "$work/sign.crt" >/dev/null 2>&1'
check "service running" service_running
roots+=("$(thumbprint)")

QX_SCENARIO="downgrade"
qx_say "== $QX_SCENARIO"
check "msiexec refuses 0.9.0 over $version" eval '! msi downgrade /i "$(winepath -w "$old")"'
check "still $version" is "$(installed_version)" "$version"

# --- The installed product -----------------------------------------------------------------------
QX_SCENARIO="installed control and service"
qx_say "== $QX_SCENARIO"
control_keys msi
timeout 120 wine cscript //nologo "$(winepath -w "$root/examples/demo.js")" >"$work/demo.out" 2>"$work/demo.err"
check "the demo page script creates the control and runs to its end" \
  eval 'tr -d "\r" <"$work/demo.out" | grep -qx "GetVersion() = 0001" && grep -q "^GetLastError() = " "$work/demo.out"'
check "the service answers over TLS, trusted through certpem\\ZELRootCA.pem" service_answers
# (grep reads to the end in these checks: with pipefail, a grep -q that quits early can fail the
# pipeline by the writer's SIGPIPE.)
# The shortcut's diagnostics.cmd, answered "y", on a Desktop of the prefix's own (not this machine's home).
desktop=$drive/users/root/Desktop && rm -rf "$desktop" && mkdir "$desktop"
(cd "$app/LocalService" && timeout 120 wine cmd /c 'C:\Program Files\QARDEX\LocalService\diagnostics.cmd' <<<$'y\r' >"$work/diagnostics.out" 2>&1)
check "diagnostics.cmd, answered y, writes a zip of the diagnosis on the Desktop" \
  eval 'unzip -l "$desktop/QARDEX-bundle.zip" 2>/dev/null | grep " checks.txt$" >/dev/null || { qx_say "    $(tr -d "\r" <"$work/diagnostics.out" | tail -n 3)"; false; }'

QX_SCENARIO="repair"
qx_say "== $QX_SCENARIO"
crt_installed=$(cat "$app/LocalService/ZELServerCert.crt")
rm -f "$app/LocalService/cardremove.exe" "$app/QARDEX.dll"
# (Wine's msiexec /f does not find the product; the properties are the same repair.)
check "repair (REINSTALL=ALL REINSTALLMODE=omus) exit code 0" \
  msi repair /i "$(winepath -w "$new")" REINSTALL=ALL REINSTALLMODE=omus
check "cardremove.exe restored" cmp -s "$app/LocalService/cardremove.exe" "$work/extracted/QARDEX/LocalService/cardremove.exe"
check "QARDEX.dll restored" cmp -s "$app/QARDEX.dll" "$work/extracted/QARDEX/QARDEX.dll"
check "service still running" service_running
check "cardsetup did not run again (same certificate)" \
  eval '[[ $(cat "$app/LocalService/ZELServerCert.crt") == "$crt_installed" ]]'

# --- The browser extension ------------------------------------------------------------------------
QX_SCENARIO="the extension's host for every user, and the policies kept from 0.9.0"
qx_say "== $QX_SCENARIO"
chromium_id=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["allowed_origins"][0].split("/")[2])' \
  "$app/Host/com.qardex.host.json" 2>/dev/null)
host_files() {
  local file
  for file in QARDEXHost.exe com.qardex.host.json com.qardex.host.firefox.json; do
    cmp -s "$app/Host/$file" "$work/extracted/QARDEX/Host/$file" || { qx_say "    $file differs"; return 1; }
  done
}
check "QARDEXHost.exe and its manifests installed in Host\\" host_files
# value KEY NAME: the REG_SZ data ("" for the default value).
value() {
  local which=(/ve)
  [[ -z ${2:-} ]] || which=(/v "$2")
  wine reg query "$1" "${which[@]}" 2>/dev/null | tr -d '\r' | sed -n 's/^ *[^ ]* *REG_SZ *//p'
}
chromium_keys=('Google\Chrome' Chromium 'Microsoft\Edge')
manifest='C:\Program Files\QARDEX\Host\com.qardex.host'
chromium_hosts() {
  local key
  for key in "${chromium_keys[@]}"; do
    is "$(value "HKLM\\Software\\$key\\NativeMessagingHosts\\com.qardex.host")" "$manifest.json" || return 1
  done
}
check "Chrome, Chromium and Edge find the host's manifest for every user" chromium_hosts
check "... and Firefox its own" is "$(value 'HKLM\Software\Mozilla\NativeMessagingHosts\com.qardex.host')" "$manifest.firefox.json"
forcelists() {
  local key
  for key in "${chromium_keys[@]}"; do
    is "$(value "HKLM\\Software\\Policies\\$key\\ExtensionInstallForcelist" 727339)" "$chromium_id;$update_url" || return 1
  done
}
check "Chrome, Chromium and Edge force-install it from the URL given to 0.9.0 (entry 727339)" forcelists
check "... beside the administrator's entry 1, unchanged" is "$(value "$chrome_list" 1)" "aaaabbbbccccddddeeeeffffgggghhhh;https://admin.example/u.xml"
firefox_ours='HKLM\Software\Policies\Mozilla\Firefox\ExtensionSettings\qardex@qardex.example'
check "Firefox force-installs it from its URL" is "$(value "$firefox_ours" installation_mode)/$(value "$firefox_ours" install_url)" "force_installed/$xpi_url"
host_diagnose() {
  (cd "$app/Host" && timeout 60 wine 'C:\Program Files\QARDEX\Host\QARDEXHost.exe' --diagnose "$@" >"$work/host-diagnose.out" 2>"$work/host-diagnose.err")
}
host_diagnose
status=$?
check "QARDEXHost.exe --diagnose: exit code 0" eval '[[ $status -eq 0 ]] || { qx_say "    $status: $(head -c 600 "$work/host-diagnose.out")"; false; }'
diagnosed_for_machine() {
  local browser text
  text=$(tr -d '\r' <"$work/host-diagnose.out")
  for browser in CHROME CHROMIUM EDGE FIREFOX; do
    grep -q "^PASS HOST_$browser .* for every user of the machine" <<<"$text" &&
      grep -q "^PASS FORCE_INSTALL_$browser .* force-installs the QARDEX extension from https://" <<<"$text" ||
      { qx_say "    $(grep "_$browser " <<<"$text")"; return 1; }
  done
}
check "... the host registered for every user in each browser, each forcing the extension" diagnosed_for_machine
host_diagnose --json
check "... and as JSON: eight checks, none failed" python3 -c 'import json, sys
report = json.load(open(sys.argv[1]))
sys.exit(not (len(report["checks"]) == 8 and report["failed"] == 0))' "$work/host-diagnose.out"

QX_SCENARIO="the package again with FIREFOX_EXTENSION_URL=none"
qx_say "== $QX_SCENARIO"
check "msiexec /i exit code 0" msi firefox-none /i "$(winepath -w "$again")" FIREFOX_EXTENSION_URL=none
check "Firefox's policy gone" eval '! wine reg query "$firefox_ours" >/dev/null 2>&1'
check "Chrome's entry kept" is "$(value "$chrome_list" 727339)" "$chromium_id;$update_url"
roots+=("$(thumbprint)")

# --- Add/Remove Programs, the shortcut, features ---------------------------------------------------
QX_SCENARIO="Add/Remove Programs, the shortcut, REMOVE=LocalService"
qx_say "== $QX_SCENARIO"
key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$(installed | cut -d' ' -f1)"
check "the build's help link, no Change, the cached icon" is "$(value "$key" HelpLink) $(wine reg query "$key" /v NoModify |
  tr -d '\r' | awk '/NoModify/ {print $3}') $(od -An -N4 -tx1 "$drive/windows/Installer/${key##*\\}/QARDEX.ico" | tr -d ' ')" \
  "$(head -n 1 "$root/build/win64/generated/package/help-url.txt") 0x1 00000100"
shortcut=$drive/users/root/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/QARDEX\ diagnostics.lnk
check "the Programs menu holds 'QARDEX diagnostics'" test -f "$shortcut"
check "REMOVE=LocalService: exit code 0" msi remove-service /i "$(winepath -w "$again")" REMOVE=LocalService
check "service, LocalService\\ and the shortcut gone" eval '[[ -z $(service_state) && ! -e $app/LocalService && ! -e $shortcut ]]'
check "the control kept, registered" is "$(value "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32")" 'C:\Program Files\QARDEX\QARDEX.dll'

QX_SCENARIO="ADDLOCAL=LocalService BROWSER_POLICIES=none"
qx_say "== $QX_SCENARIO"
check "msiexec exit code 0" msi add-service /i "$(winepath -w "$again")" ADDLOCAL=LocalService BROWSER_POLICIES=none
check "service running" service_running
check "no Firefox certificate policy, the service started with --no-browser-policies" eval '! wine reg query "HKLM\\Software\\Policies\\Mozilla\\Firefox\\Certificates\\Install" 2>/dev/null | grep REG_SZ >/dev/null &&
  wine reg query "HKLM\\System\\CurrentControlSet\\Services\\mQARDEX" /v ImagePath | tr -d "\r" | grep -- "--no-browser-policies$" >/dev/null'
roots+=("$(thumbprint)")

# --- Removal -------------------------------------------------------------------------------------
QX_SCENARIO="removal"
qx_say "== $QX_SCENARIO"
check "msiexec /x exit code 0" msi remove /x "$(winepath -w "$again")"
check "service gone" is "$(service_state)" ""
check "installation folder gone" test ! -e "$app"
check "no product registered" is "$(installed_version)" ""
snapshot removed
# What the edition's own programs leave by design: the hosts entry and its backup, the service's
# own log (cardremove takes our roots out of the machine store again; Wine fills the store with
# its own on first use). Wine's package cache folder, the
# installer's empty bookkeeping keys and the certificate stores' empty keys appear on first use;
# the service manager counts starts in ServiceCurrent.
leftover_files=$(comm -13 "$work/clean.files" "$work/removed.files" | grep -v -x \
  -e './windows/system32/drivers/etc/hosts.mQARDEX.Install.backup' -e './windows/Installer' \
  -e './ProgramData/QARDEX' -e './ProgramData/QARDEX/mQARDEXService.log')
check "no file left but the hosts backup and the service's log" eval '[[ -z $leftover_files ]] || { qx_say "    $leftover_files"; false; }'
# Every key and every value as one line "[KEY]" or "[KEY] NAME=DATA" (continued lines joined).
registry_lines() {
  awk '/^\[/ {key=$0; print key; next} /^$/ {next}
    {line=$0; while (line ~ /\\$/ && (getline more) > 0) line=substr(line, 1, length(line) - 1) more
     print key " " line}' "$1" | sort
}
for hive in HKLM HKCU; do
  comm -13 <(registry_lines "$work/clean.$hive.txt") <(registry_lines "$work/removed.$hive.txt")
done >"$work/new-keys"
leftover_keys=$(grep -v -E -e '\\SystemCertificates\\(CA|My|Root|Trust)(\\(CRLs|CTLs|Certificates))?\]$' \
  -e '\\Control\\ServiceCurrent\] @=dword:' -e '\\SystemCertificates\]$' -e '\\Root\\Certificates\\[0-9A-F]{40}\]( "Blob"=.*)?$' \
  -e '\\Installer(\\(Features|Products|UpgradeCodes|UserData(\\S-1-5-18(\\Components|\\Products)?)?))?\]$' \
  "$work/new-keys")
check "no registry key or value left but the root store's" eval '[[ -z $leftover_keys ]] || { qx_say "    $leftover_keys"; false; }'
check "the administrator's force-installed extension kept" is "$(value "$chrome_list" 1)" "aaaabbbbccccddddeeeeffffgggghhhh;https://admin.example/u.xml"
root_kept() { wine reg query "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$1" >/dev/null 2>&1; }
roots_gone() {
  local root
  [[ ${#roots[@]} -eq 5 && $(printf '%s\n' "${roots[@]}" | sort -u | wc -l) -eq 5 ]] || return 1
  for root in "${roots[@]}"; do ! root_kept "$root" || return 1; done
}
check "none of the roots of the five cardsetup runs stays in the machine store" roots_gone

# --- A category the system describes itself -----------------------------------------------------
QX_SCENARIO="a category the system describes stays the system's"
qx_say "== $QX_SCENARIO"
scripting='HKLM\Software\Classes\Component Categories\{7DD95801-9882-11CF-9FA9-00AA006C42C4}'
initialising='HKLM\Software\Classes\Component Categories\{7DD95802-9882-11CF-9FA9-00AA006C42C4}'
description() { wine reg query "$1" /v 409 2>/dev/null | tr -d '\r' | sed -n 's/^ *409 *REG_SZ *//p'; }
wine reg add "$scripting" /v 409 /t REG_SZ /d "Scriptable (system)" /f >/dev/null 2>&1
check "msiexec /i ADDLOCAL=Control INSTALLFOLDER=... exit code 0" \
  msi system-category /i "$(winepath -w "$new")" ADDLOCAL=Control 'INSTALLFOLDER=C:\Program Files\QARDEX Control'
check "the class names the control in INSTALLFOLDER, alone there, and no service" is \
  "$(value "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32") $(ls "$drive/Program Files/QARDEX Control") $(service_state)" 'C:\Program Files\QARDEX Control\QARDEX.dll QARDEX.dll '
check "the system's description unchanged" is "$(description "$scripting")" "Scriptable (system)"
check "the other description not written either" is "$(description "$initialising")" ""
check "the class still records both categories" eval 'wine reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\Implemented Categories" /s 2>/dev/null | grep -c "Implemented Categories\\\\{7DD9580[12]" | grep -qx 2'
check "msiexec /x exit code 0" msi system-category-remove /x "$(winepath -w "$new")"
check "the system's description still there" is "$(description "$scripting")" "Scriptable (system)"
wine reg delete "$scripting" /f >/dev/null 2>&1

# --- What regsvr32 writes ------------------------------------------------------------------------
QX_SCENARIO="registry equals regsvr32's"
qx_say "== $QX_SCENARIO"
mkdir -p "$app"
cp "$work/extracted/QARDEX/QARDEX.dll" "$app/"
timeout 120 wine regsvr32 /s 'C:\Program Files\QARDEX\QARDEX.dll' >/dev/null 2>&1
check "regsvr32 exit code 0" test $? -eq 0
control_keys regsvr32
check "the package's keys under the class, ProgIDs, type library and categories equal regsvr32's" \
  eval 'diff "$work/regsvr32.keys" "$work/msi.keys" >"$work/keys.diff" || { head -n 20 "$work/keys.diff" | sed "s/^/    /"; false; }'
check "... and hold the class" grep -q "InprocServer32" "$work/msi.keys"
wine regsvr32 /s /u 'C:\Program Files\QARDEX\QARDEX.dll' >/dev/null 2>&1
rm -rf "$app"

# --- The 32-bit package, checked by its tables (32-bit code cannot run here) ---------------------
QX_SCENARIO="x86 package tables"
qx_say "== $QX_SCENARIO"
x86=$work/new/QARDEX-x86.msi
if [[ ! -f $x86 ]]; then
  qx_say "  skip: no out/win32 build, so no QARDEX-x86.msi"
else
  table() { msiinfo export "$1" "$2" | tr -d "\r" | tail -n +4 | sort; }
  check "its signature verifies" verified "$x86"
  check "the package's summary names Intel" eval 'msiinfo suminfo "$x86" | grep -x "Template: Intel;1033" >/dev/null'
  no_64bit_component() {
    local attributes
    for attributes in $(table "$x86" Component | cut -f4); do ((!(attributes & 256))) || return 1; done
    [[ -n ${attributes:-} ]]
  }
  check "no 64-bit component" no_64bit_component
  check "installs under ProgramFilesFolder" eval 'table "$x86" Directory | grep "^INSTALLFOLDER	ProgramFilesFolder	QARDEX$" >/dev/null'
  # Root, key, name and value of every row, the 32-bit-view copy of the 64-bit package aside.
  rows() { table "$1" Registry | awk -F'\t' -v OFS='\t' '$6 != "TypeLibrary32" {print $2, $3, $4, $5}' | sort; }
  check "registry rows as the 64-bit package's (win32 path, no 32-bit-view copy)" \
    eval 'diff <(rows "$x86") <(rows "$new" | sed "s/ProgramFiles64Folder/ProgramFilesFolder/; s/\\\\win64\t/\\\\win32\t/") >/dev/null'
fi

# --- A removal that fails after cardremove -------------------------------------------------------
QX_SCENARIO="a removal that fails after cardremove"
qx_say "== $QX_SCENARIO"
# The rollback that keeps the older version when an upgrade fails on Windows. Wine drops the
# product's registration, not its components', on any failure (platform.md): a fresh prefix.
{ wineserver -k; wineserver -w; } >/dev/null 2>&1
QARDEX_E2E_FRESH=1 e2e_prefix "$dir/rollback-prefix"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" app=$WINEPREFIX/drive_c/Program\ Files/QARDEX
e2e_tcp_owner "$dir/tcp-owner.log" && wineserver -p >/dev/null 2>&1
check "msiexec /i 0.9.0 exit code 0" msi rollback-install /i "$(winepath -w "$old")"
msi removal-fails /x "$(winepath -w "$old")" QARDEX_FAIL_ON_PURPOSE=1
check "msiexec /x QARDEX_FAIL_ON_PURPOSE=1 fails" test $? -ne 0
check "... and its rollback's cardsetup sets the service up again: it answers over TLS" service_answers
finish
