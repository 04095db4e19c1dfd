#!/usr/bin/env bash
# End to end under Wine (service manager, certificate store, command interpreter) in a Wine
# prefix of its own: cardsetup.exe and cardremove.exe from an installation folder with the real
# service program, which must answer HTTPS with the folder's certificates, and the test-bed
# stand-ins cert\KeyMint.exe, FoxTrust.cmd and FoxUntrust.cmd (and, where a service has to stop
# slowly, mQARDEXService.exe).
source "$(dirname "${BASH_SOURCE[0]}")/installer/lib.sh"
installer_init

entry=$'\r\n127.0.0.1       '"$QI_HOST"$' #mQARDEX use this. \r\n'
stamp='[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}'
log_start="^mQARDEX Install Start in $stamp"
log_end="mQARDEX Install End in $stamp\$"
tools_ok=$'KeyMint stand-in: 4 files, exit 0\nFoxTrust stand-in: exit 0\n'
created=$'CreateService() for mQARDEX looks OK.\nCloseServiceHandle() is OK.\nService start pending...\n'
service_line() {
  printf 'state=running type=0x10 start=2 error=1 account=LocalSystem display=mQARDEX path="%s"' \
    "$QI_APP_WIN\\mQARDEXService.exe"
}
service_as_installed() { service_running && [[ $(probe service "$QI_SERVICE") == "$(service_line)" ]]; }
hosts_is() { printf '%s' "$1" >"$QI_FILES/hosts.expected" && same_bytes "$QI_HOSTS" "$QI_FILES/hosts.expected"; }
hosts_unchanged() { same_bytes "$QI_HOSTS" "$QI_FILES/hosts.before"; }
backup_is_old_hosts() { same_bytes "$QI_HOSTS.mQARDEX.Install.backup" "$QI_FILES/hosts.before"; }
no_backup() { [[ ! -e $QI_HOSTS.mQARDEX.Install.backup ]]; }
copied() { same_bytes "$QI_APP/$2" "$QI_APP/cert/$1"; }
absent() { [[ ! -e $QI_APP/$1 ]]; }
size_of() { stat -c %s "$1"; }

# Comments, a mention in a comment, another address for the host, a longer name, LF and CR LF
# mixed, and a last line without a line end.
hosts_before=$'# Hosts of the test machine\r\n127.0.0.1 localhost\r\n'
hosts_before+="# 10.9.8.7 $QI_HOST (an old mapping)"$'\r\n'
other_mapping="10.20.30.40   $QI_HOST"$'\r\n'
longer_name="10.20.30.41   $QI_HOST.corp"$'\n'
last_line='192.0.2.10 files.example'

for program in cardsetup cardremove; do
  check "$program.exe carries the asInvoker manifest" \
    grep -qa '<requestedExecutionLevel level="asInvoker"' "$QI_WIN64/$program.exe"
done

scenario "first install"
mint
set_hosts --text "$hosts_before$other_mapping$longer_name$last_line"
run_setup
check "exit code 0" status_is 0
check "console lines in order" output_is "read file size $(size_of "$QI_FILES/hosts.before")"$'\n'"$tools_ok"$'OpenSCManager() looks OK.\nOpenService failed (1060)\n'"$created"
check "hosts: other mapping commented out, entry appended byte for byte" \
  hosts_is "$hosts_before#$other_mapping$longer_name$last_line$entry"
check "backup byte-identical to the old hosts file" backup_is_old_hosts
check "service mQARDEX: own process, auto start, LocalSystem, running" service_as_installed
check "the service answers HTTPS with the certificate of the installation folder" answers_https
check "certificate in the LocalMachine root store" in_root_store "$QI_FILES/crt.sha1"
check "log: start, tool results, end" log_matches "${log_start}KeyMint 0 "$'\n'"FoxTrust 0 "$'\n'"$log_end"
check "ZELServerCert.crt copied" copied ZELServerCert.crt ZELServerCert.crt
check "ZELServerCert.key copied, the tool's copy deleted" \
  eval 'same_bytes "$QI_APP/ZELServerCert.key" "$QI_APP/cert/mint/ZELServerCert.key" && absent cert/ZELServerCert.key'
check "ZELServerCert.key: for SYSTEM, Administrators and its owner only" system_only ZELServerCert.key
check "certpem\\ZELRootCA.pem copied" copied ZELRootCA.pem 'certpem/ZELRootCA.pem'
check "certpem\\ZELServerCert.pem copied" copied ZELServerCert.pem 'certpem/ZELServerCert.pem'
check "FoxTrust.cmd ran" test -s "$QI_APP/FoxTrust.ran"
first_app=$QI_APP_NAME

scenario "repeated install" "$first_app"
mint
set_hosts --keep
run_setup
check "exit code 0" status_is 0
check "console: earlier service deleted, new one created" output_is "read file size $(size_of "$QI_FILES/hosts.before")"$'\n'"$tools_ok"$'OpenSCManager() looks OK.\nService deleted successfully\n'"$created"
check "hosts file left exactly as it was" hosts_unchanged
check "backup rewritten from the current hosts file" backup_is_old_hosts
check "service running again" service_as_installed
check "the new service answers with the new certificate (the earlier one let the port go)" \
  answers_https
check "the new root the only one of ours in the store, the earlier one gone" \
  roots_of_ours_are "$QI_FILES/crt.sha1"
check "log: a complete second run" log_matches "${log_start}KeyMint 0 "$'\n'"FoxTrust 0 "$'\n'"$log_end"

scenario "repeated install while the service takes 3 s to stop"
make_app "$QI_APP_NAME" --service-stand-in
mint
set_hosts --keep
run_setup
check "installed with the service stand-in (exit code 0)" status_is 0
echo 3000 >"$QI_APP/mQARDEXService.stop-delay"
run_setup
rm -f "$QI_APP/mQARDEXService.stop-delay"
check "exit code 0" status_is 0
check "console: deleted, then created" output_is "read file size $(size_of "$QI_FILES/hosts.before")"$'\n'"$tools_ok"$'OpenSCManager() looks OK.\nService deleted successfully\n'"$created"
check "the run waited for the service to go away (${QI_ELAPSED} s)" test "$QI_ELAPSED" -ge 3
check "service running again" service_as_installed
# The order is what this checks: under load, Wine's service manager has been seen to start the new
# service a second time after the first (cardsetup asks once).
check "the earlier service stopped before the new one started" \
  diff <(printf 'start\nstop\nstart\n') <(head -n 3 "$QI_APP/mQARDEXService.log")

scenario "certificate sources of exactly 1000 and 1001 bytes"
# Certificates the real service cannot serve: the stand-in runs instead, since the installer
# insists that the service runs and holds its port.
make_app "$QI_APP_NAME" --service-stand-in
mint crt=1001 key=1000 root=1000 pem=1001
set_hosts --keep
run_setup
check "exit code 0" status_is 0
check "ZELServerCert.crt of 1001 bytes copied" copied ZELServerCert.crt ZELServerCert.crt
check "ZELServerCert.key of 1000 bytes not copied" absent ZELServerCert.key
check "ZELRootCA.pem of 1000 bytes not copied" absent certpem/ZELRootCA.pem
check "ZELServerCert.pem of 1001 bytes copied" copied ZELServerCert.pem certpem/ZELServerCert.pem
check "the 1001-byte certificate imported" in_root_store "$QI_FILES/crt.sha1"

scenario "certificate of 8191 bytes"
make_app "$QI_APP_NAME" --service-stand-in
mint crt=8191
set_hosts --keep
run_setup
check "exit code 0" status_is 0
check "imported" in_root_store "$QI_FILES/crt.sha1"

scenario "certificate of 8192 bytes"
make_app "$QI_APP_NAME" --service-stand-in
mint crt=8192
set_hosts --keep
run_setup
check "exit code 0" status_is 0
check "copied" copied ZELServerCert.crt ZELServerCert.crt
check "not imported" not_in_root_store "$QI_FILES/crt.sha1"

scenario "a CA without name constraints"
make_app "$QI_APP_NAME" --service-stand-in
mint --unconfined
set_hosts --keep
run_setup
refused="ZELServerCert.crt is not a CA certificate whose critical name constraints permit only $QI_HOST and 127.0.0.1: nothing imported into the root store."
check "exit code 0" status_is 0
check "console: not imported" grep -qzP "Service start pending\.\.\.\r\n\Q$refused\E\r\n\$" "$QI_OUT"
check "log: not imported" log_matches "FoxTrust 0 "$'\n'"$refused"$'\n'"$log_end"
check "not in the root store" not_in_root_store "$QI_FILES/crt.sha1"

scenario "FoxTrust.cmd swaps the certificate for another CA's"
mint
# Another CA, then the tool's certificates (the service still finds its own).
pem_of_size "$QI_APP/swap.crt" 1500 "$QI_HOST swap"
cat "$QI_APP/cert/mint/ZELServerCert.crt" >>"$QI_APP/swap.crt"
set_hosts --keep
run_setup QX_FOXTRUST_SWAP=swap.crt
check "exit code 0" status_is 0
check "the script did swap it" same_bytes "$QI_APP/ZELServerCert.crt" "$QI_APP/swap.crt"
check "the other CA not imported" not_in_root_store "$QI_APP/swap.crt.sha1"
check "the tool's root imported, the only one of ours" roots_of_ours_are "$QI_FILES/crt.sha1"

scenario "missing hosts file"
mint
set_hosts --missing
run_setup
check "exit code 0" status_is 0
check "console starts with size 0" grep -q $'^read file size 0\r$' "$QI_OUT"
check "hosts file created holding just the entry" hosts_is "$entry"
check "empty backup" test -f "$QI_HOSTS.mQARDEX.Install.backup" -a ! -s "$QI_HOSTS.mQARDEX.Install.backup"

scenario "tool and script fail"
mint
set_hosts --keep
run_setup QX_KEYMINT_EXIT=3 QX_FOXTRUST_EXIT=4
check "exit code 0" status_is 0
check "the stand-ins ended with 3 and 4" grep -qzP 'files, exit 3\r\nFoxTrust stand-in: exit 4\r\n' "$QI_OUT"
# The log holds the interpreter's exit code; Wine's cmd reports 1 for any failing `call "..."`.
check "log: the interpreter's exit codes" \
  log_matches "${log_start}KeyMint (3|1) "$'\n'"FoxTrust (4|1) "$'\n'"$log_end"

scenario "COMSPEC names a planted program"
mint
# The planted program is a copy of the tool stand-in: if it runs, planted.ran appears beside it.
mkdir -p "$QI_APP/planted/mint"
cp "$QI_TOOLS/KeyMint.exe" "$QI_APP/planted/planted.exe"
echo ran >"$QI_APP/planted/mint/planted.ran"
set_hosts --keep
run_setup "win:COMSPEC=$QI_APP_WIN\\planted\\planted.exe"
check "exit code 0" status_is 0
check "cardsetup: the system interpreter ran the tool and the script, the planted program did not" \
  eval 'grep -qzP "stand-in: 4 files, exit 0\r\nFoxTrust stand-in: exit 0\r\n" "$QI_OUT" && absent planted/planted.ran'
check "the script's own COMSPEC names the system interpreter" \
  eval '[[ $(tr -d "\r" <"$QI_APP/FoxTrust.comspec") == "C:\\windows\\system32\\cmd.exe" ]]'
run_remove "win:COMSPEC=$QI_APP_WIN\\planted\\planted.exe"
check "cardremove: the script ran, the planted program did not" \
  eval 'grep -q "FoxUntrust stand-in: exit 0" "$QI_OUT" && absent planted/planted.ran'

scenario "a DLL of the certificate store planted in the installation folder"
# The service stand-in imports no such DLL: only the installer can load it.
make_app "$QI_APP_NAME" --service-stand-in
mint
cp "$QI_TOOLS/planted.dll" "$QI_APP/crypt32.dll"
set_hosts --keep
# Wine prefers its own DLLs even to a copy beside the program; the override makes it take such
# a copy first, as Windows does for a DLL that is not one of its known DLLs.
run_setup "WINEDLLOVERRIDES=$WINEDLLOVERRIDES;crypt32=n,b"
# The marker takes the name the DLL was loaded by, in any case.
check "installed (exit code 0) with the system's crypt32.dll, the planted one never loaded" \
  eval 'status_is 0 && in_root_store "$QI_FILES/crt.sha1" &&
    ! ls "$QI_APP" | grep -qix crypt32.dll.loaded || { ls "$QI_APP" | grep -i loaded; false; }'

# Wine keeps no access list of its own: what the probe grants Everyone shows as the Unix mode.
writable_by_everyone() {
  probe grant S-1-1-0 2 "$1" >/dev/null
  refused="$1 can be written by Everyone, not only by SYSTEM, Administrators and TrustedInstaller: stopped."
}
scenario "installation folder that everyone can write"
mint
set_hosts --keep
writable_by_everyone "$QI_APP_WIN"
run_setup
check "exit code -1 (255), the console names the folder and who can write it" \
  eval 'status_is 255 && output_is "$refused"$'"'\n'"
check "the install log says why" grep -qF "$refused" "$QI_LOG"
check "nothing changed: hosts, no backup, the tool did not run" \
  eval 'hosts_unchanged && no_backup && absent cert/ZELServerCert.crt'
run_remove
check "cardremove: exit code -1 (255), the script refused and not run" eval 'status_is 255 &&
  grep -qF "$refused" "$QI_OUT" && grep -q "FoxUntrust.cmd not run" "$QI_OUT" && absent FoxUntrust.ran'

scenario "store script that everyone can write"
writable_by_everyone "$QI_APP_WIN\\FoxTrust.cmd"
run_setup
check "exit code -1 (255), the console names the script" \
  eval 'status_is 255 && output_is "$refused"$'"'\n'"

scenario "certificate tool missing"
make_app "$QI_APP_NAME" --service-stand-in
mint
rm "$QI_APP/cert/KeyMint.exe"
set_hosts --keep
run_setup
check "exit code 0" status_is 0
check "log: the interpreter's failure for the tool" \
  log_matches "${log_start}KeyMint [1-9][0-9]* "$'\n'"FoxTrust 0 "$'\n'"$log_end"
check "nothing copied" eval 'absent ZELServerCert.crt && absent certpem/ZELServerCert.pem'

scenario "certificate left from before, the tool writes nothing new"
make_app "$QI_APP_NAME" --service-stand-in
mint
# Files of an earlier run (or planted) in the cert folder and in the installation folder.
mv "$QI_APP"/cert/mint/* "$QI_APP/cert/"
cp "$QI_APP/cert/ZELServerCert.crt" "$QI_APP/ZELServerCert.crt"
set_hosts --keep
run_setup
check "exit code 0" status_is 0
check "console: nothing fresh to import" \
  grep -qzP 'Service start pending\.\.\.\r\nKeyMint wrote no ZELServerCert\.crt in this run: nothing imported into the root store\.\r\n$' "$QI_OUT"
check "the old certificate not imported" not_in_root_store "$QI_FILES/crt.sha1"

scenario "backup cannot be written"
mint
set_hosts --text "$hosts_before"
mkdir "$QI_HOSTS.mQARDEX.Install.backup"
run_setup
rmdir "$QI_HOSTS.mQARDEX.Install.backup"
check "exit code -1 (255)" status_is 255
check "console: size, then the backup failure" \
  grep -qzP '^read file size [0-9]+\r\nHosts File Backup failed, error: [1-9][0-9]*\.\r\n$' "$QI_OUT"
check "hosts file untouched" hosts_unchanged
check "log holds only the start entry" log_matches "${log_start}\$"
check "the certificate tool did not run" absent cert/ZELServerCert.crt

scenario "hosts file cannot be replaced"
mint
set_hosts --text "$hosts_before"
mkdir "$QI_HOSTS.mQARDEX.Install.new"
run_setup
rmdir "$QI_HOSTS.mQARDEX.Install.new"
check "exit code -1 (255)" status_is 255
check "console: size, then the write failure" \
  grep -qzP '^read file size [0-9]+\r\nHosts File Write failed, error: [1-9][0-9]*\.\r\n$' "$QI_OUT"
check "hosts file untouched" hosts_unchanged
check "backup written" backup_is_old_hosts

long_name=$(printf 'L%.0s' {1..219}) # "C:\QARDEX Test\" and this: 234 bytes
make_app "$long_name"
scenario "installation folder too long for its paths" "$long_name"
set_hosts --keep
run_setup
check "exit code -1 (255)" status_is 255
check "console names the path that does not fit" \
  output_is "Path longer than 259 bytes: $QI_APP_WIN\\certpem\\ZELServerCert.pem"$'\n'
check "hosts file untouched, no backup" eval 'hosts_unchanged && no_backup'
rm -rf "$QI_APP"

scenario "temporary folder too long for the install log"
mint
set_hosts --keep
# The log path does not fit. (A TMP too long for its buffer makes Wine's GetTempPathA fail
# outright, which never ended the run.)
temp="C:\\$(printf 'T%.0s' {1..246})\\" # 250 bytes
run_setup "win:TMP=$temp" "win:TEMP=$temp"
check "exit code 0, service installed, no log" \
  eval 'status_is 0 && grep -q "Service start pending" "$QI_OUT" && service_as_installed && [[ ! -e $QI_LOG ]]'

scenario "install logs others made first"
# What Wine shows (measured): the number of names, a folder and another Unix account's file as
# another owner; a Unix symbolic link it follows without a word (no reparse point), and the
# protected descriptor of the new log it does not keep (it reports one made from the Unix
# mode), so those are left to the unit tests. Each is moved aside beside the log, and a new log
# holds the reason and then a whole run; what a link led to is left as it was.
elsewhere=$QI_PREFIX/drive_c/elsewhere.txt # a hard link stays on its volume
for kind in hard-link folder other-owner; do
  mint
  set_hosts --keep
  printf 'planted\n' >"$elsewhere"
  rm -rf "$QI_LOG" "$QI_LOG".*.aside
  case $kind in
    hard-link) ln "$elsewhere" "$QI_LOG" ;;
    folder) mkdir "$QI_LOG" ;;
    other-owner) printf 'planted\n' >"$QI_LOG" && chown 4321 "$QI_LOG" ;;
  esac
  run_setup
  check "$kind: exit code 0, the reason on the console" \
    eval 'status_is 0 && grep -q "^install log: .* was .*, moved aside to .*\.aside" "$QI_OUT"'
  check "... the file it led to untouched" test "$(cat "$elsewhere")" == planted
  check "... a new log: the reason, then a whole run" \
    log_matches "^install log: [^"$'\n'"]*moved aside[^"$'\n'"]*"$'\n'"${log_start#^}KeyMint 0 "$'\n'"FoxTrust 0 "$'\n'"$log_end"
  ls -d "$QI_LOG".*.aside >"$QI_FILES/aside-$kind" 2>/dev/null
  check "... what was there kept beside it" test "$(wc -l <"$QI_FILES/aside-$kind")" == 1
done
rm -rf "$elsewhere" "$QI_LOG".*.aside

scenario "service program missing"
mint
rm "$QI_APP/mQARDEXService.exe"
set_hosts --keep
run_setup
check "exit code -1 (255)" status_is 255
check "console ends with the start failure" \
  grep -qzP 'Service deleted successfully\r\nCreateService\(\) for mQARDEX looks OK\.\r\nCloseServiceHandle\(\) is OK\.\r\nStartService mQARDEX failed \([1-9][0-9]*\)\r\n$' "$QI_OUT"
check "log ends with the start failure, no end entry" \
  log_matches "${log_start}KeyMint 0 "$'\n'"FoxTrust 0 "$'\n'"StartService mQARDEX failed \\([1-9][0-9]*\\)"$'\n$'

scenario "the tool's key from before, held open by another program without delete sharing"
mint
cp "$QI_APP/cert/mint/ZELServerCert.key" "$QI_APP/cert/ZELServerCert.key"
set_hosts --keep
hold_meanwhile held hold "$QI_APP_WIN\\cert\\ZELServerCert.key" 60
run_setup
release_held
refused="$QI_APP_WIN\\cert\\ZELServerCert.key cannot be deleted, error: [0-9]+: stopped."
check "exit code -1 (255), the console's last line: the key cannot be deleted" \
  eval 'status_is 255 && tr -d "\r" <"$QI_OUT" | tail -n 1 | grep -qxE "${refused//\\/\\\\}"'
check "the install log's last line likewise" eval 'tail -n 1 "$QI_LOG" | grep -qxE "${refused//\\/\\\\}"'
check "no copy made from it, the service not replaced" \
  eval 'absent ZELServerCert.key && ! grep -q CreateService "$QI_OUT"'

scenario "cardremove after an install"
mint
set_hosts --keep
run_setup
check "installed (exit code 0)" status_is 0
check "the service answers HTTPS" answers_https
run_remove QX_FOXUNTRUST_EXIT=5
check "exit code 0" status_is 0
check "console: folder, deletion, restart message, then the script" \
  output_is $'\n'"$QI_APP_WIN"$'Service deleted successfully\n\n'"$(big5 '服務移除：服務移除成功，須重新開機。')"$'FoxUntrust stand-in: exit 5\n'
check "service gone (within 10 s)" probe wait-gone "$QI_SERVICE" 10
check "nothing answers on the service's port any more" service_refused
check "FoxUntrust.cmd ran" test -s "$QI_APP/FoxUntrust.ran"
check "hosts entry still there" grep -qF "127.0.0.1       $QI_HOST #mQARDEX use this." "$QI_HOSTS"
check "no root of ours left in the store" roots_of_ours_are

scenario "cardremove without the service"
run_remove
gone=$(big5 '服務移除：已經移除或從未安裝，無法重複移除服務 (1060)')
check "exit code 0" status_is 0
check "console: the service-gone message twice around OpenService failed (1060)" \
  output_is $'\n'"$QI_APP_WIN"$'\n'"$gone"$'\nOpenService failed (1060)\n\n'"$gone"$'\nFoxUntrust stand-in: exit 0\n'
check "FoxUntrust.cmd ran" test -s "$QI_APP/FoxUntrust.ran"

scenario "cardremove from a folder too long for the script's command"
mint
set_hosts --keep
run_setup
check "installed (exit code 0)" status_is 0
long_name=$(printf 'R%.0s' {1..222}) # "C:\QARDEX Test\" and this: 237 bytes, the command 260
make_app "$long_name"
QI_APP=$QI_APPS/$long_name QI_APP_WIN="$QI_APPS_WIN\\$long_name" run_remove
check "exit code -1 (255)" status_is 255
check "service gone (within 10 s)" probe wait-gone "$QI_SERVICE" 10
check "console: deleted, then the command that does not fit and the skipped script" \
  env LC_ALL=C grep -qzP 'Service deleted successfully\r\n\r\n.*\r\nCommand longer than 259 bytes: call ".*\\FoxUntrust\.cmd" \r\nFoxUntrust\.cmd not run\.\r\n$' "$QI_OUT"
rm -rf "${QI_APPS:?}/$long_name"

scenario "a program holds the service's port when the service starts"
mint
set_hosts --keep
probe purge "$QI_SERVICE" >/dev/null
hold_meanwhile listening listen "$service_port" 120
run_setup
release_held
held="127.0.0.1:$service_port is held by installer_probe.exe \\(process [1-9][0-9]*\\), not by the service mQARDEX: stopped."
check "exit code -1 (255) after the service gave up on the port (${QI_ELAPSED} s)" \
  eval 'status_is 255 && ((QI_ELAPSED >= 30))'
check "console: created and started, then the program that holds the port" \
  eval 'tr -d "\r" <"$QI_OUT" | tail -n 2 | tr "\n" "|" | grep -qxE "Service start pending\\.\\.\\.\\|$held\\|"'
check "the install log's last line likewise" eval 'tail -n 1 "$QI_LOG" | grep -qxE "$held"'
# Last of the file: under Wine a service made again right after this scenario was seen (in about
# one run of five, mostly with another file running beside it) to log its start, refuse every
# connection and never log a stop, although the holder, the service that gave up and its socket
# were gone; what in the wineserver or its service manager keeps that is not known yet.
port_let_go() {
  local _
  for _ in {1..50}; do
    [[ -z $(ss -Hltn "sport = :$service_port") ]] && ! pgrep --ns $$ --nslist net -f mQARDEXService.exe >/dev/null && return 0
    sleep 0.2
  done
  false
}
check "the holder and the service that gave up are gone, the port free (within 10 s)" port_let_go

finish
