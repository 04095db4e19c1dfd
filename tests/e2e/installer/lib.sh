# Runner for the installer's end-to-end tests (tests/e2e/installer.sh), sourced by it. The
# programs run under Wine with its service manager and certificate store, in a Wine prefix of
# their own (services live as long as its wineserver, which is ended at the end), in private
# mount and network namespaces where the installed service listens on its port.
#
#   installer_init              # namespaces, prefix, stand-ins, clean service manager; once
#   scenario "first install"    # a fresh installation folder: programs, stand-ins, cert folders
#   mint                        # a real certificate set the KeyMint stand-in will "make"
#   mint crt=1001 key=1000 ...  # or files of those sizes that only look like certificates
#   set_hosts FILE|--missing    # the hosts file before the run
#   run_setup [VAR=VALUE...]    # cardsetup.exe from the installation folder; QI_STATUS, QI_OUT
#                               # (win:VAR=VALUE: set inside Wine, e.g. COMSPEC or TMP)
#   run_remove [VAR=VALUE...]   # cardremove.exe likewise
#   hold_meanwhile SAYS ARGS... # installer_probe ARGS... in the background until release_held,
#                               # once it has said SAYS (a port, a file held open)
#   check DESCRIPTION COMMAND...; finish
#
# Environment: QARDEX_E2E_DIR (default build/e2e of the checkout); QARDEX_E2E_FRESH=1 makes
# the prefix anew.

QI_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
QI_WIN64=$QI_ROOT/out/win64
QI_NATIVE=$QI_ROOT/out/native
QI_DIR=${QARDEX_E2E_DIR:-$QI_ROOT/build/e2e}/installer
QI_PREFIX=$QI_DIR/wineprefix
QI_TOOLS=$QI_DIR/tools
QI_WORK=$QI_DIR/work
QI_SERVICE=mQARDEX
QI_HOST=${QARDEX_LOCAL_HOST:-local.qardex.example}
# Installation folders lie here; the blank in the name tests the quoting of paths.
QI_APPS_WIN='C:\QARDEX Test'

QI_COUNT=0

say() { printf '%s\n' "$*"; }
die() { e2e_die "$@"; }

source "$QI_ROOT/tests/e2e/lib/preamble.sh"
source "$QI_ROOT/tests/e2e/lib/local_service.sh" # service_answers, service_refused

# --- Prefix ------------------------------------------------------------------------------------

installer_init() {
  for program in "$QI_WIN64"/{cardsetup,cardremove,mQARDEXService}.exe "$QI_NATIVE/KeyMint"; do
    [[ -f $program ]] || die "missing $program (scripts/build)"
  done
  command -v wine >/dev/null || die "wine is not installed"
  command -v openssl >/dev/null || die "openssl is not installed"
  e2e_namespaces "$0"
  mkdir -p "$QI_DIR"
  e2e_private_hosts "$QI_DIR/etc-hosts" "$QI_HOST"
  e2e_wine_env "$QI_PREFIX"
  unset QX_KEYMINT_EXIT QX_FOXTRUST_EXIT QX_FOXTRUST_SWAP QX_FOXUNTRUST_EXIT
  qi_lock
  trap qi_cleanup EXIT
  trap 'exit 130' INT TERM

  "$QI_ROOT/testbed/installer/build-stand-ins" "$QI_TOOLS" >"$QI_DIR/stand-ins.log" 2>&1 ||
    die "building the stand-ins failed: $(tail -n 5 "$QI_DIR/stand-ins.log")"

  e2e_prefix "$QI_PREFIX"
  e2e_tcp_owner "$QI_DIR/tcp-owner.log"
  wineserver -p >/dev/null 2>&1 # stays up for the whole file: the services live in it
  QI_HOSTS=$QI_PREFIX/drive_c/windows/system32/drivers/etc/hosts
  QI_LOG=$QI_PREFIX/drive_c/users/$(id -un)/Temp/mQARDEX_Install.log
  QI_APPS=$QI_PREFIX/drive_c/${QI_APPS_WIN#C:\\}
  rm -rf "$QI_WORK" "$QI_APPS"
  mkdir -p "$QI_WORK" "$QI_APPS"
  service_probe_dir=$QI_WORK
  probe purge "$QI_SERVICE" >/dev/null || die "cannot remove an earlier $QI_SERVICE service"
}

qi_lock() {
  QI_LOCK=$QI_DIR/prefix.lock
  e2e_lock "$QI_LOCK" 600 "the installer's Wine prefix"
}

qi_cleanup() {
  local status=$?
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  rm -rf "$QI_LOCK"
  exit "$status"
}

# probe ARGS...: the test-bed probe; its output (CR removed) on stdout.
probe() {
  local out=$QI_WORK/probe.out status
  wine "$QI_TOOLS/installer_probe.exe" "$@" >"$out" 2>"$QI_WORK/probe.err"
  status=$?
  tr -d '\r' <"$out"
  return $status
}

# --- Scenarios ---------------------------------------------------------------------------------

# scenario NAME [FOLDER]: a new installation folder (or FOLDER, an existing one, again) with the
# programs and the stand-ins; no install log; environment variables of the stand-ins unset.
scenario() {
  QX_SCENARIO=$1
  say "== $QX_SCENARIO"
  QI_COUNT=$((QI_COUNT + 1))
  QI_FILES=$QI_WORK/$(printf '%02d' "$QI_COUNT")
  mkdir -p "$QI_FILES"
  rm -f "$QI_LOG"
  if [[ -n ${2:-} ]]; then
    QI_APP_NAME=$2
  else
    QI_APP_NAME=$(printf '%02d' "$QI_COUNT")
    make_app "$QI_APP_NAME"
  fi
  QI_APP=$QI_APPS/$QI_APP_NAME
  QI_APP_WIN="$QI_APPS_WIN\\$QI_APP_NAME"
}

# make_app NAME [--service-stand-in]: the installation folder as the edition is unpacked, with
# the real service program (or the stand-in, which can be told to stop slowly).
make_app() {
  local app=$QI_APPS/$1 service=$QI_WIN64/mQARDEXService.exe
  [[ ${2:-} == --service-stand-in ]] && service=$QI_TOOLS/mQARDEXService.exe
  rm -rf "$app"
  mkdir -p "$app/cert/mint" "$app/certpem"
  cp "$QI_WIN64/cardsetup.exe" "$QI_WIN64/cardremove.exe" "$service" \
    "$QI_TOOLS/FoxTrust.cmd" "$QI_TOOLS/FoxUntrust.cmd" "$app/"
  cp "$QI_TOOLS/KeyMint.exe" "$app/cert/"
}

# pem_of_size FILE SIZE NAME [--unconfined]: a fresh self-signed CA (subject CN=NAME) confined to
# the local service's names (--unconfined: not) in PEM, with explanatory text before its armour
# so that the file has exactly SIZE bytes; its SHA-1 thumbprint goes to FILE.sha1. A SIZE below
# the bare certificate's gives just filler text.
pem_of_size() {
  local file=$1 size=$2 name=$3 bare pad
  local confined=(-addext "nameConstraints=critical,permitted;DNS:$QI_HOST,permitted;IP:127.0.0.1/255.255.255.255")
  [[ ${4:-} == --unconfined ]] && confined=()
  openssl req -x509 -newkey rsa:1024 -nodes -keyout /dev/null -subj "/CN=$name" -days 30 \
    "${confined[@]}" -out "$file.bare" 2>/dev/null || die "openssl could not make a certificate"
  bare=$(stat -c %s "$file.bare")
  if ((size >= bare + 1)); then
    pad=$((size - bare))
    { head -c $((pad - 1)) /dev/zero | tr '\0' 'p'; printf '\n'; cat "$file.bare"; } >"$file"
  else
    head -c "$size" /dev/zero | tr '\0' 'q' >"$file"
  fi
  openssl x509 -in "$file.bare" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' >"$file.sha1"
  rm -f "$file.bare"
  [[ $(stat -c %s "$file") == "$size" ]] || die "pem_of_size: $file is not $size bytes"
}

# mint: what KeyMint.exe will leave in the cert folder: a real set made by the native KeyMint,
# which the service can serve. mint [crt=N] [key=N] [root=N] [pem=N]: files of those sizes
# (1500 bytes unless told) that hold a certificate or filler only (--unconfined: passed on for
# ZELServerCert.crt). The thumbprint of the certificate cardsetup imports: $QI_FILES/crt.sha1.
mint() {
  local crt=1500 key=1500 root=1500 pem=1500 arg dir=$QI_APP/cert/mint unconfined=
  if (($# == 0)); then
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$QI_NATIVE/KeyMint" "$dir/" && "$dir/KeyMint" >"$QI_FILES/keymint.out" 2>&1 ||
      die "the native KeyMint failed: $(cat "$QI_FILES/keymint.out")"
    rm "$dir/KeyMint"
    openssl x509 -in "$dir/ZELServerCert.crt" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' \
      >"$QI_FILES/crt.sha1"
    return
  fi
  for arg in "$@"; do
    case $arg in
      crt=*) crt=${arg#crt=} ;; key=*) key=${arg#key=} ;;
      root=*) root=${arg#root=} ;; pem=*) pem=${arg#pem=} ;; --unconfined) unconfined=$arg ;;
      *) die "mint: unknown '$arg'" ;;
    esac
  done
  rm -rf "$dir"
  mkdir -p "$dir"
  pem_of_size "$dir/ZELServerCert.crt" "$crt" "$QI_HOST test $QI_COUNT" $unconfined
  pem_of_size "$dir/ZELServerCert.key" "$key" "key $QI_COUNT"
  pem_of_size "$dir/ZELRootCA.pem" "$root" "root $QI_COUNT"
  pem_of_size "$dir/ZELServerCert.pem" "$pem" "pem $QI_COUNT"
  mv "$dir/ZELServerCert.crt.sha1" "$QI_FILES/crt.sha1"
  rm -f "$dir"/*.sha1
}

# set_hosts --missing | --text TEXT | --keep: the hosts file before the run (kept in
# $QI_FILES/hosts.before); no backup or staging file from earlier runs.
set_hosts() {
  case $1 in
    --missing) rm -f "$QI_HOSTS" ;;
    --text) printf '%s' "$2" >"$QI_HOSTS" ;;
    --keep) ;;
    *) die "set_hosts: unknown '$1'" ;;
  esac
  rm -rf "$QI_HOSTS.mQARDEX.Install.backup" "$QI_HOSTS.mQARDEX.Install.new"
  if [[ -e $QI_HOSTS ]]; then cp "$QI_HOSTS" "$QI_FILES/hosts.before"; else rm -f "$QI_FILES/hosts.before"; fi
}

# run_program EXE [VAR=VALUE...] [win:VAR=VALUE...]: runs the program of the installation
# folder from there, with its output in files (a pipe may stay open while wineserver's helpers
# live). win: variables are set by the probe, which starts the program (Wine takes some names
# from its registry).
run_program() {
  local exe=$1 name=${1%.exe} arg unix=() windows=()
  shift
  for arg in "$@"; do
    if [[ $arg == win:* ]]; then windows+=("${arg#win:}"); else unix+=("$arg"); fi
  done
  local command=(wine "$QI_APP_WIN\\$exe")
  ((${#windows[@]} == 0)) ||
    command=(wine "$QI_TOOLS/installer_probe.exe" run "${windows[@]}" "$QI_APP_WIN\\$exe")
  QI_OUT=$QI_FILES/$name.out
  local start=$SECONDS
  (cd "$QI_APP" && env "${unix[@]}" "${command[@]}" >"$QI_OUT" 2>"$QI_FILES/$name.err")
  QI_STATUS=$?
  QI_ELAPSED=$((SECONDS - start))
}

# hold_meanwhile SAYS ARGS...: the probe holds something (listen PORT SECONDS, hold PATH
# SECONDS) in the background; returns once it has said SAYS, within 15 s.
hold_meanwhile() {
  local says=$1 out=$QI_FILES/held.out deadline=$((SECONDS + 15))
  shift
  : >"$out"
  wine "$QI_TOOLS/installer_probe.exe" "$@" >"$out" 2>"$QI_FILES/held.err" &
  QI_HELD=$!
  until tr -d '\r' <"$out" | grep -qx "$says"; do
    [[ $SECONDS -lt $deadline ]] || die "the probe did not hold ($*): $(cat "$QI_FILES/held.err")"
    sleep 0.2
  done
}
release_held() {
  kill "$QI_HELD" 2>/dev/null
  wait "$QI_HELD" 2>/dev/null
  true
}

run_setup() { run_program cardsetup.exe "$@"; }
run_remove() { run_program cardremove.exe "$@"; }

# --- Checks ------------------------------------------------------------------------------------

status_is() { [[ $QI_STATUS == "$1" ]] || { say "    exit status $QI_STATUS, expected $1"; false; }; }

# same_bytes FILE FILE: byte-identical (shows a hex diff otherwise).
same_bytes() {
  cmp -s "$1" "$2" && return 0
  say "    $1 differs from $2:"
  diff <(od -c "$1") <(od -c "$2") | head -n 10 | sed 's/^/    /'
  false
}

# output_is TEXT: the program's whole standard output; each LF in TEXT stands for the console's
# CR LF.
output_is() {
  local expected=$QI_FILES/expected.out
  printf '%s' "$1" | perl -pe 's/\n/\r\n/g' >"$expected"
  same_bytes "$QI_OUT" "$expected"
}

# service_is PATTERN: the probe's line for the service matches the extended regex.
service_is() {
  local line
  line=$(probe service "$QI_SERVICE")
  [[ $line =~ $1 ]] || { say "    service: $line"; false; }
}

# service_running: waits (10 s at most) until the service reports running.
service_running() {
  local deadline=$((SECONDS + 10)) line
  while :; do
    line=$(probe service "$QI_SERVICE")
    [[ $line == state=running* ]] && return 0
    [[ $SECONDS -lt $deadline ]] || { say "    service: $line"; return 1; }
    sleep 0.2
  done
}

# answers_https: the service answers over TLS that verifies against this installation folder's
# root (certpem\ZELRootCA.pem).
answers_https() { service_answers "$QI_APP/certpem/ZELRootCA.pem"; }

in_root_store() { [[ $(probe root "$(cat "$1")") == present ]]; }
not_in_root_store() { [[ $(probe root "$(cat "$1")") == absent ]]; }
# roots_of_ours_are [SHA1FILE]: the local service's roots in the store are that one (or none).
roots_of_ours_are() { [[ $(probe roots 'QARDEX Local Service Root') == "$(cat "${1:-/dev/null}")" ]]; }
system_only() { system_and_administrators_only "$(probe dacl "$QI_APP_WIN\\$1")"; }

# log_matches REGEX: the whole install log (one string) matches the extended regex.
log_matches() {
  local text
  text=$(cat "$QI_LOG" 2>/dev/null; printf x)
  text=${text%x}
  [[ $text =~ $1 ]] || { say "    log: $(od -c "$QI_LOG" 2>/dev/null | head -n 8)"; false; }
}

# The console line for a system error text from the Windows program's output.
big5() { printf '%s' "$1" | iconv -f UTF-8 -t BIG5; }
