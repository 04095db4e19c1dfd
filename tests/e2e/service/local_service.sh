# shellcheck shell=bash
# The local service in a card scenario file, sourced after testbed/scenario.sh, network.sh and
# card_data/bytes.sh, once prepare_wine ran:
#
#   service_app                         # $QX_SERVICE_APP: the program and a KeyMint set
#   start_service / stop_service        # mQARDEXService.exe --console in the shared prefix
#   localhost_ports TEXT                # the LocalhostPorts policy (set before start_service)
#   normalised FILE CONNECTION...       # an answer record made comparable (see below)
#   same_records DESCRIPTION COUNT WANT GOT   # two normalised records, line by line
#   take_log FILE                       # the daily log so far, made comparable, moved to FILE
#
# Answer records have one line per call, "Method S:UNITS LASTERROR" (a text as UTF-16 code units
# in hex) or "Method N:VALUE LASTERROR", as tests/e2e/service/control_answers.js writes them.

QX_SERVICE_APP=""
QX_SERVICE_PID=""      # the launcher (cmd), to wait for
QX_SERVICE_UNIX_PID="" # the service's own Wine process, for /proc
QX_CARD_NUMBER=000012345678 # the virtual card's default

service_app() {
  QX_SERVICE_APP=$QX_WORK/app
  mkdir -p "$QX_SERVICE_APP"
  cp "$QX_NATIVE/KeyMint" "$QX_ROOT/out/win64/mQARDEXService.exe" "$QX_SERVICE_APP/" &&
    (cd "$QX_SERVICE_APP" && ./KeyMint) >"$QX_WORK/keymint.log" 2>&1 ||
    qx_die "no certificate set: $QX_WORK/keymint.log"
}

# localhost_ports TEXT: the machine policy value LocalhostPorts, the ports on which the service
# serves pages on http://localhost; the prefix keeps it for later files of the lane.
localhost_ports() {
  wine reg add 'HKLM\SOFTWARE\Policies\QARDEX' /v LocalhostPorts /t REG_SZ /d "$1" /f \
    >"$QX_WORK/localhost-ports.log" 2>&1 || qx_die "cannot set LocalhostPorts: $QX_WORK/localhost-ports.log"
}

# start_service [ARGS...]: starts the service (--console ARGS) and waits for its "listening" line.
# Its temporary folder is the system's, as a LocalSystem service's is: only its workers, started
# with the user's environment, have the user's. Its standard input is a FIFO that a
# process of its own keeps open: a descriptor of this shell would be inherited by every later
# program (Wine's explorer.exe among them), and the service would never see the end of it. As
# a peer of network.sh, the holder ends with the scenario (or the file) at the latest.
start_service() {
  rm -f "$QX_WORK/stdin" && mkfifo "$QX_WORK/stdin"
  # env: the file's wine_env applies.
  (cd "$QX_SERVICE_APP" && exec env "${QX_WINE_ENV[@]}" wine cmd /c \
    "set TEMP=C:\\windows\\temp&& set TMP=C:\\windows\\temp&& mQARDEXService.exe --console $*" \
    <"$QX_WORK/stdin" >"$QX_FILES/service.out" 2>"$QX_FILES/service.err") &
  QX_SERVICE_PID=$!
  sleep 3600 >"$QX_WORK/stdin" &
  QX_NET_PIDS[service-input]=$!
  for _ in $(seq 300); do
    if grep -q listening "$QX_FILES/service.out" 2>/dev/null; then
      QX_SERVICE_UNIX_PID=$(pgrep --ns $$ --nslist net -n -f 'mQARDEXService.exe --console')
      return 0
    fi
    kill -0 "$QX_SERVICE_PID" 2>/dev/null || break
    sleep 0.1
  done
  qx_die "the service did not start: $(head -c 300 "$QX_FILES/service.err")"
}

# Stops the service by closing its standard input and waits for it.
stop_service() {
  [[ -n $QX_SERVICE_PID ]] || return 0
  stop_net_peer service-input
  wait "$QX_SERVICE_PID"
  QX_SERVICE_PID="" QX_SERVICE_UNIX_PID=""
}

# worker_count: how many workers of the service run now (in this file's network namespace: a
# scenario file of the other lane may run a service too).
worker_count() { pgrep --ns $$ --nslist net -c -f 'mQARDEXService.exe --worker' || true; }

qx_text_of_units() { bytes_of_hex "$1" | iconv -f UTF-16BE -t UTF-8; }

# normalised FILE CONNECTION...: the record with the results that differ by design replaced:
# H_Sign's by "signed" when it is the 256 characters the authentication server computed on the
# next CONNECTION; EnCrypt's and SecureGetBasicWithParam's by their deciphered bytes; GetRandom's
# by "random" when it has the form of four groups 0000-9998 (every control seeds its own).
normalised() {
  local file=$1 method value error text
  shift
  tr -d '\r' <"$file" | while read -r method value error; do
    case $method:$value in
      H_Sign:S:*)
        text=$(qx_text_of_units "${value#S:}")
        [[ ${#text} == 256 && $text == "$(auth_value "$1" result)" ]] && value=signed
        shift ;;
      EnCrypt:S:*)
        value=plain:$("$QX_NATIVE/qardex-tool" decrypt-encrypt --card-number "$QX_CARD_NUMBER" \
          --date "$(date +%Y%m%d)" "$(qx_text_of_units "${value#S:}")" 2>/dev/null | hex_of_stdin) ;;
      SecureGetBasicWithParam:S:*)
        value=plain:$("$QX_NATIVE/qardex-tool" decrypt-basic --date "$(date -u +%Y%m%d)" \
          "$(qx_text_of_units "${value#S:}")" 2>/dev/null | hex_of_stdin) ;;
      GetRandom:S:*)
        [[ $(qx_text_of_units "${value#S:}") =~ ^(([0-8][0-9]{3}|9[0-8][0-9]{2}|99[0-8][0-9]|999[0-8])){4}$ ]] &&
          value=random ;;
    esac
    echo "$method $value $error"
  done
}

# same_records DESCRIPTION COUNT WANT GOT: both records have COUNT lines, and GOT each line of WANT.
same_records() {
  local -a want got
  local i
  mapfile -t want <"$3"
  mapfile -t got <"$4"
  check "$1: all $2 calls answered on both sides" test "${#want[@]}" -eq "$2" -a "${#got[@]}" -eq "$2"
  for i in "${!want[@]}"; do
    if [[ ${got[i]:-} == "${want[i]}" ]]; then
      pass "$1: ${want[i]:0:60}"
    else
      fail "$1: call $((i + 1)): wanted '${want[i]}', got '${got[i]:-}'"
    fi
  done
}

# take_log FILE: moves the daily log written so far (the user's or the system's temporary folder)
# into FILE, without what differs between two processes: the time stamps, the buffer addresses
# of the key steps and the C runtime's error text that ends each entry (the caller thread's
# errno, which in a page's thread still holds what the first use of libcrypto left there).
take_log() {
  local system=$QX_PREFIX/drive_c/windows/temp
  cat "$QX_TEMP_DIR"/QARDEX.err.*.log "$system"/QARDEX.err.*.log 2>/dev/null | tr -d '\r' |
    sed -E -e 's/^ [0-9]{8} [0-9]{6} //' -e '/^: [A-Z][a-z ]*$/d' -e 's/: [A-Z][a-z ]*$//' \
      -e 's/^(get_written_BIO_data:|open_publice_key:|set_read_BIO_from_buf) [0-9a-f]+/\1 ADDRESS/' >"$1"
  rm -f "$QX_TEMP_DIR"/QARDEX.err.*.log "$system"/QARDEX.err.*.log
}
