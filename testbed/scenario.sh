# Scenario runner for the end-to-end tests, sourced by tests/e2e/*.sh.
#
# A scenario file calls scenario_init "$@" first: it re-executes itself in private mount and
# network namespaces (loopback up, a tmpfs over /run so pcscd's socket is private, a private
# /etc/hosts), so scenarios may bind 127.0.0.1:443 and start pcscd without touching the host.
# Then, per scenario:
#
#   scenario "two readers, card in the second"   # stops the previous scenario's pcscd and cards
#   add_reader "QX Alpha"                         # one reader "QX Alpha 00 00"
#   add_reader "QX Dual" 2                        # two readers "QX Dual 00 00" and "... 00 01"
#   insert_card 1 [SLOT] [PROFILE|-]              # a qardex-vcard (profile file, '-' for stdin)
#   start_pcscd                                   # waits until pcscd lists readers and cards
#   run_js readers/file.js [ARGS...]              # a page script with tests/e2e/lib/check.js
#   check_log_has "Select HC OK!"                 # the control's daily log in the Wine prefix
#   finish                                        # summary "N passed, M failed", exit status
#
# Also: prepare_wine (once, after scenario_init), remove_card, stop_pcscd, reader_name,
# apdu_log READER [SLOT] (the card's "COMMAND -> RESPONSE" lines), check_log_lacks, and
# check DESCRIPTION COMMAND... for checks made in bash.
#
# Environment: QARDEX_E2E_DIR (default build/e2e of the checkout) holds the Wine prefix and the
# work folders; QARDEX_E2E_PREFIX overrides the prefix; QARDEX_E2E_FRESH=1 rebuilds it.

QX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QX_NATIVE=$QX_ROOT/out/native
QX_DLL=$QX_ROOT/out/win64/QARDEX.dll
QX_E2E_LIB=$QX_ROOT/tests/e2e/lib
QX_E2E_DIR=${QARDEX_E2E_DIR:-$QX_ROOT/build/e2e}
# One prefix per lane of tests/e2e/run-all: files of one lane take turns in it.
QX_PREFIX=${QARDEX_E2E_PREFIX:-$QX_E2E_DIR/wineprefix${QARDEX_E2E_LANE:+-$QARDEX_E2E_LANE}}
QX_VPCD_DRIVER=/usr/lib/pcsc/drivers/serial/libifdvpcd.so
QX_AUTH_HOST=auth.qardex.example
QX_LOCAL_HOST=local.qardex.example
QX_FIRST_PORT=35000 # reader i listens on 35000 + 10*i (+ slot)
QX_WAIT_SECONDS=10    # bound of every wait for pcscd
QX_SCRIPT_SECONDS=120 # bound of one page script

QX_SCENARIO_COUNT=0
QX_READER_NAMES=() # friendly names, in the order pcscd lists them
QX_READER_SLOTS=()
declare -A QX_CARD_PIDS # "READER:SLOT" -> process of the card in that slot
QX_PCSCD_PID=""

qx_die() { e2e_die "$@"; }

# --- Results: pass, fail, check, finish ---------------------------------------------------------

source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/lib/preamble.sh"

# --- Namespaces --------------------------------------------------------------------------------

scenario_init() {
  [[ $(id -u) -eq 0 ]] || qx_die "needs root (private namespaces, pcscd)"
  e2e_namespaces "$0" "$@"
  mount -t tmpfs -o mode=0755 qardex-run /run || qx_die "cannot mount a private /run"

  QX_WORK=$QX_E2E_DIR/work/$(basename "$0" .sh)
  rm -rf "$QX_WORK"
  mkdir -p "$QX_WORK/sync" || qx_die "cannot create $QX_WORK"
  QX_FILES=$QX_WORK
  printf '127.0.0.1 localhost\n::1 localhost\n127.0.0.1 %s\n127.0.0.1 %s\n' \
    "$QX_AUTH_HOST" "$QX_LOCAL_HOST" >"$QX_WORK/hosts"
  mount --bind "$QX_WORK/hosts" /etc/hosts || qx_die "cannot bind a private /etc/hosts"

  for tool in qardex-vcard qardex-pcsc-readers libqardex-single-slot-ifd.so winscard.dll.so \
    iphlpapi.dll.so; do
    [[ -e $QX_NATIVE/$tool ]] || qx_die "missing $QX_NATIVE/$tool (build the native preset)"
  done
  [[ -f $QX_DLL ]] || qx_die "missing $QX_DLL (build the win64 preset)"
  trap qx_cleanup EXIT
  trap 'exit 130' INT TERM
}

qx_cleanup() {
  local status=$?
  qx_stop_devices
  if [[ -n ${QX_WINE_READY:-} ]]; then
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    rm -rf "$QX_LOCK"
  fi
  exit "$status"
}

# --- Readers and cards -------------------------------------------------------------------------

# Ends the previous scenario's devices and starts a new scenario with no reader and a fresh log.
# Its files (card logs, pcscd's output, page-script output) go to a folder of its own in $QX_WORK.
scenario() {
  QX_SCENARIO=$1
  qx_say "== $QX_SCENARIO"
  qx_stop_devices
  QX_SCENARIO_COUNT=$((QX_SCENARIO_COUNT + 1))
  local slug=${QX_SCENARIO//[^A-Za-z0-9]/-}
  QX_FILES=$QX_WORK/$(printf '%02d' "$QX_SCENARIO_COUNT")-${slug:0:40}
  mkdir -p "$QX_FILES"
  QX_READER_NAMES=()
  QX_READER_SLOTS=()
  [[ -n ${QX_WINE_READY:-} ]] && rm -f "$QX_TEMP_DIR"/QARDEX.err.*.log
  rm -f "$QX_WORK"/sync/*
}

# add_reader NAME [SLOTS]: NAME may hold blanks and commas; SLOTS is 1 (default) or 2.
add_reader() {
  local name=$1 slots=${2:-1} existing
  [[ $slots == 1 || $slots == 2 ]] || qx_die "add_reader: a reader has 1 or 2 slots, not '$slots'"
  [[ -n $name && $name != *'"'* ]] || qx_die "add_reader: pcscd cannot take the name '$name'"
  [[ -z $QX_PCSCD_PID ]] || qx_die "add_reader: add readers before start_pcscd"
  for existing in "${QX_READER_NAMES[@]}"; do
    [[ $existing != "$name" ]] || qx_die "add_reader: '$name' is there already"
  done
  QX_READER_NAMES+=("$name")
  QX_READER_SLOTS+=("$slots")
}

# reader_name INDEX [SLOT]: the name PC/SC lists for that reader ("NAME 00 0SLOT").
reader_name() {
  printf '%s 00 %02d\n' "${QX_READER_NAMES[$1]}" "${2:-0}"
}

# insert_card READER [SLOT] [PROFILE]: PROFILE is a file (see testbed/vcard/README.md), '-' to
# read it from stdin, or nothing for the default card. The card's APDUs go to apdu_log READER.
# A profile's "hold.COMMAND = STEP" makes run_js's step handler run STEP while the card holds
# that command in the middle of a call.
insert_card() {
  local reader=$1 slot=${2:-0} profile=${3:-}
  qx_check_slot insert_card "$reader" "$slot"
  [[ -z ${QX_CARD_PIDS[$reader:$slot]:-} ]] || qx_die "insert_card: slot $reader:$slot is taken"
  local args=(--port $((QX_FIRST_PORT + 10 * reader + slot)) --apdu-log "$(apdu_log "$reader" "$slot")"
    --sync-dir "$QX_WORK/sync")
  if [[ $profile == - ]]; then
    profile=$QX_FILES/card-$reader-$slot.conf
    cat >"$profile"
  fi
  [[ -z $profile ]] || args+=(--profile "$profile")
  "$QX_NATIVE/qardex-vcard" "${args[@]}" >>"$QX_FILES/cards.log" 2>&1 &
  QX_CARD_PIDS[$reader:$slot]=$!
  [[ -z $QX_PCSCD_PID ]] || qx_wait_for_devices
}

# remove_card READER [SLOT]: pulls the card; vpcd then reports the slot empty.
remove_card() {
  local reader=$1 slot=${2:-0} pid
  qx_check_slot remove_card "$reader" "$slot"
  pid=${QX_CARD_PIDS[$reader:$slot]:-}
  [[ -n $pid ]] || qx_die "remove_card: slot $reader:$slot holds no card"
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  unset "QX_CARD_PIDS[$reader:$slot]"
  [[ -z $QX_PCSCD_PID ]] || qx_wait_for_devices
}

qx_check_slot() {
  [[ $2 =~ ^[0-9]+$ && $2 -lt ${#QX_READER_NAMES[@]} ]] || qx_die "$1: no reader $2"
  [[ $3 =~ ^[0-9]+$ && $3 -lt ${QX_READER_SLOTS[$2]} ]] || qx_die "$1: reader $2 has no slot $3"
}

apdu_log() {
  printf '%s/apdu-%s-%s.log\n' "$QX_FILES" "$1" "${2:-0}"
}

# Writes pcscd's reader configuration. vpcd always offers two slots and keeps its state per slot
# number in the loaded library, so every reader gets its own copy of the driver, and a one-slot
# reader loads it through qardex's single-slot driver.
qx_write_reader_config() {
  local config=$QX_FILES/pcscd/reader.conf.d i dir library
  rm -rf "$QX_FILES/pcscd"
  mkdir -p "$config"
  : >"$config/readers"
  for i in "${!QX_READER_NAMES[@]}"; do
    dir=$QX_FILES/pcscd/reader-$i
    mkdir -p "$dir"
    cp "$QX_VPCD_DRIVER" "$dir/libifdvpcd.so"
    library=$dir/libifdvpcd.so
    if [[ ${QX_READER_SLOTS[$i]} == 1 ]]; then
      cp "$QX_NATIVE/libqardex-single-slot-ifd.so" "$dir/"
      library=$dir/libqardex-single-slot-ifd.so
    fi
    printf 'FRIENDLYNAME "%s"\nDEVICENAME /dev/null:%d\nLIBPATH %s\n\n' \
      "${QX_READER_NAMES[$i]}" $((QX_FIRST_PORT + 10 * i)) "$library" >>"$config/readers"
  done
}

start_pcscd() {
  [[ -z $QX_PCSCD_PID ]] || qx_die "start_pcscd: pcscd runs already"
  qx_write_reader_config
  rm -rf /run/pcscd
  pcscd -f -c "$QX_FILES/pcscd/reader.conf.d" >>"$QX_FILES/pcscd.log" 2>&1 &
  QX_PCSCD_PID=$!
  qx_wait_for_devices
}

# Stops pcscd (vpcd closes its links, so the cards end as well).
stop_pcscd() {
  [[ -n $QX_PCSCD_PID ]] || return 0
  kill "$QX_PCSCD_PID" 2>/dev/null
  wait "$QX_PCSCD_PID" 2>/dev/null
  QX_PCSCD_PID=""
  rm -rf /run/pcscd
  qx_stop_cards
}

qx_stop_cards() {
  local pid
  for pid in "${QX_CARD_PIDS[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  QX_CARD_PIDS=()
}

qx_stop_devices() {
  if [[ -n $QX_PCSCD_PID ]]; then stop_pcscd; else qx_stop_cards; fi
}

# Polls pcscd until it lists exactly the configured readers, in order, and every inserted card
# is present. A card becomes visible about a second after pcscd starts.
qx_wait_for_devices() {
  local expected="" i slot listing slot_key deadline=$((SECONDS + QX_WAIT_SECONDS))
  for i in "${!QX_READER_NAMES[@]}"; do
    for ((slot = 0; slot < QX_READER_SLOTS[i]; slot++)); do
      if [[ -n ${QX_CARD_PIDS[$i:$slot]:-} ]]; then expected+="card"; else expected+="empty"; fi
      expected+=$'\t'"$(reader_name "$i" "$slot")"$'\n'
    done
  done
  while :; do
    listing=$("$QX_NATIVE/qardex-pcsc-readers" 2>&1) && [[ $listing$'\n' == "$expected" ||
      (-z $expected && -z $listing) ]] && return 0
    for slot_key in "${!QX_CARD_PIDS[@]}"; do
      kill -0 "${QX_CARD_PIDS[$slot_key]}" 2>/dev/null && continue
      fail "the card in slot $slot_key ended: $(tail -n 2 "$QX_FILES/cards.log")"
      return 1
    done
    if [[ $SECONDS -ge $deadline ]]; then
      fail "pcscd did not show the expected readers within ${QX_WAIT_SECONDS}s" \
        "(expected: ${expected//$'\n'/; } seen: ${listing//$'\n'/; })"
      return 1
    fi
    sleep 0.1
  done
}

# --- Wine --------------------------------------------------------------------------------------

qx_wine_env() { e2e_wine_env "$QX_PREFIX"; }

# Makes the shared prefix ready: created once (wineboot), the winscard bridge and the TCP owner
# stand-in installed and the control registered whenever they changed. Holds a lock so that two
# scenario files never share one wineserver.
prepare_wine() {
  qx_wine_env
  qx_lock_prefix
  QX_WINE_READY=1
  local stamp=$QX_PREFIX/.qardex-stamps
  e2e_prefix "$QX_PREFIX"
  mkdir -p "$stamp"
  wineserver -p >/dev/null 2>&1 # stays up between the scenario's Wine runs
  if ! cmp -s "$QX_NATIVE/winscard.dll.so" "$stamp/bridge"; then
    "$QX_ROOT/testbed/winscard_bridge/install-bridge" "$QX_PREFIX" >"$QX_WORK/bridge.log" 2>&1 ||
      qx_die "installing the winscard bridge failed: $(cat "$QX_WORK/bridge.log")"
    cp "$QX_NATIVE/winscard.dll.so" "$stamp/bridge"
  fi
  if ! cmp -s "$QX_NATIVE/iphlpapi.dll.so" "$stamp/tcp-owner"; then
    "$QX_ROOT/testbed/tcp_owner/install-tcp-owner" "$QX_PREFIX" "$QX_NATIVE/iphlpapi.dll.so" \
      >"$QX_WORK/tcp-owner.log" 2>&1 ||
      qx_die "installing the TCP owner stand-in failed: $(cat "$QX_WORK/tcp-owner.log")"
    cp "$QX_NATIVE/iphlpapi.dll.so" "$stamp/tcp-owner"
  fi
  if ! cmp -s "$QX_DLL" "$stamp/control"; then
    wine regsvr32 /s "$(winepath -w "$QX_DLL")" >"$QX_WORK/regsvr32.log" 2>&1 ||
      qx_die "regsvr32 of $QX_DLL failed with status $?"
    cp "$QX_DLL" "$stamp/control"
  fi
  QX_TEMP_DIR=$QX_PREFIX/drive_c/users/$(id -un)/Temp
  mkdir -p "$QX_TEMP_DIR"
  rm -f "$QX_TEMP_DIR"/QARDEX.err.*.log
  qx_build_wait_tool
}

qx_lock_prefix() {
  QX_LOCK=$QX_PREFIX.lock
  e2e_lock "$QX_LOCK" 900 "the Wine prefix"
}

# The Windows program page scripts run to wait for a step of the scenario runner.
qx_build_wait_tool() {
  QX_WAIT_TOOL=$QX_E2E_DIR/tools/qardex-e2e-wait.exe
  local source=$QX_ROOT/tests/e2e/tools/wait_for_file.c
  if [[ ! -f $QX_WAIT_TOOL || $source -nt $QX_WAIT_TOOL ]]; then
    mkdir -p "$(dirname "$QX_WAIT_TOOL")"
    # Built beside and renamed: a file of the other lane may be building it too.
    x86_64-w64-mingw32-gcc -O2 -s -o "$QX_WAIT_TOOL.$$" "$source" &&
      mv -f "$QX_WAIT_TOOL.$$" "$QX_WAIT_TOOL" || qx_die "cannot build $QX_WAIT_TOOL"
  fi
}

qx_js_string() {
  local text=${1//\\/\\\\}
  printf '"%s"' "${text//\"/\\\"}"
}

# qx_page_script SOURCE NAME: writes $QX_FILES/NAME.js, tests/e2e/SOURCE with the check library
# in front and done() behind, and prints its path.
qx_page_script() {
  local source=$QX_ROOT/tests/e2e/$1 script=$QX_FILES/$2.js
  [[ -f $source ]] || qx_die "run_js: no $source"
  {
    printf 'var scenarioSyncDir = %s;\n' "$(qx_js_string "$(winepath -w "$QX_WORK/sync")")"
    printf 'var scenarioWaitTool = %s;\n' "$(qx_js_string "$(winepath -w "$QX_WAIT_TOOL")")"
    cat "$QX_E2E_LIB/check.js" "$source"
    printf '\ndone();\n'
  } >"$script"
  printf '%s\n' "$script"
}

# qx_serve_steps HANDLER PID...: while any of the processes runs, runs "HANDLER step" for each
# step a page script or a card asks for; stops them all after QX_SCRIPT_SECONDS.
qx_serve_steps() {
  local handler=$1 name=$2
  shift 2
  local request step pid running deadline=$((SECONDS + QX_SCRIPT_SECONDS))
  while :; do
    running=""
    for pid in "$@"; do kill -0 "$pid" 2>/dev/null && running=1; done
    [[ -n $running ]] || break
    for request in "$QX_WORK"/sync/*.request; do
      [[ -e $request ]] || continue
      step=$(basename "$request" .request)
      rm -f "$request"
      if [[ -z $handler ]]; then
        fail "$name asked for step '$step' but run_js got no --steps handler"
      elif ! "$handler" "$step"; then
        fail "$name: step '$step' failed"
      fi
      touch "$QX_WORK/sync/$step.done"
    done
    if [[ $SECONDS -ge $deadline ]]; then
      kill "$@" 2>/dev/null
      fail "$name still ran after ${QX_SCRIPT_SECONDS}s and was stopped"
    fi
    sleep 0.05
  done
}

# run_js [--steps HANDLER] FILE [ARGS...]: runs tests/e2e/FILE with the check library in front
# and done() behind; its checks count towards this file's summary. With --steps, the script's
# handOver(step) calls (and a card's held steps) run "HANDLER step" here while the script waits.
run_js() {
  local handler=""
  if [[ $1 == --steps ]]; then
    handler=$2
    shift 2
  fi
  local name script output
  name=$(basename "$1" .js)
  script=$(qx_page_script "$1" "$name") || exit 2
  shift
  output=$QX_FILES/$name.out
  # Wine's output goes to files: a pipe can stay open as long as wineserver's helpers live.
  wine cscript //nologo "$(winepath -w "$script")" "$@" >"$output" 2>"$QX_FILES/$name.err" &
  local pid=$!
  qx_serve_steps "$handler" "$name" "$pid"
  wait "$pid"
  local status=$?
  qx_count_js_results "$name" "$status" "$output"
}

# run_js_together [--steps HANDLER] FILE ARGS_A... -- ARGS_B...: two script hosts run FILE at
# the same time (as NAME-a and NAME-b), one with each argument list.
run_js_together() {
  local handler=""
  if [[ $1 == --steps ]]; then
    handler=$2
    shift 2
  fi
  local file=$1 base
  base=$(basename "$file" .js)
  shift
  local first=() second=() side
  while [[ $# -gt 0 && $1 != -- ]]; do first+=("$1"); shift; done
  [[ ${1:-} == -- ]] || qx_die "run_js_together: no '--' between the two argument lists"
  shift
  second=("$@")
  local pids=() names=() statuses=()
  for side in a b; do
    local name=$base-$side script
    script=$(qx_page_script "$file" "$name") || exit 2
    if [[ $side == a ]]; then set -- "${first[@]}"; else set -- "${second[@]}"; fi
    wine cscript //nologo "$(winepath -w "$script")" "$@" >"$QX_FILES/$name.out" \
      2>"$QX_FILES/$name.err" &
    pids+=($!)
    names+=("$name")
  done
  qx_serve_steps "$handler" "$base" "${pids[@]}"
  local i
  for i in 0 1; do
    wait "${pids[i]}"
    qx_count_js_results "${names[i]}" $? "$QX_FILES/${names[i]}.out"
  done
}

qx_count_js_results() {
  local name=$1 status=$2 output=$3 line summary=""
  while IFS= read -r line; do
    line=${line%$'\r'}
    case $line in
      "ok   "*) qx_say "  $line" ;;
      "FAIL "*) qx_say "  FAIL [$QX_SCENARIO] $name: ${line#FAIL }" ;;
      *" passed, "*" failed") summary=$line ;;
      *) qx_say "  | $line" ;;
    esac
  done <"$output"
  if [[ ! $summary =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    fail "$name ended without its summary line (script error or crash, status $status)"
    return 1
  fi
  QX_PASSED=$((QX_PASSED + BASH_REMATCH[1]))
  QX_FAILED=$((QX_FAILED + BASH_REMATCH[2]))
  if [[ ${BASH_REMATCH[2]} -eq 0 && $status -ne 0 ]]; then
    fail "$name reported no failure but ended with status $status"
  fi
}

# --- The control's daily log -------------------------------------------------------------------

# The log of the current scenario (every scenario starts without one). Named after the local date;
# a scenario that runs over midnight leaves two files, read in order.
daily_log_text() {
  cat "$QX_TEMP_DIR"/QARDEX.err.*.log 2>/dev/null
}

check_log_has() {
  if daily_log_text | grep -qF -- "$1"; then
    pass "daily log has '$1'"
  else
    fail "daily log lacks '$1'"
  fi
}

check_log_lacks() {
  if daily_log_text | grep -qF -- "$1"; then
    fail "daily log has '$1', which it should not"
  else
    pass "daily log lacks '$1'"
  fi
}

# check_log_well_formed: every line of the daily log is either a whole entry (" YYYYMMDD hhmmss
# text") or the error-number suffix (": text") that follows an entry whose message ended in a
# line break, and the file ends with a line feed. Torn or interleaved writes break this.
check_log_well_formed() {
  local problems
  problems=$(daily_log_text | LC_ALL=C awk '
    function bad(why, line) {
      line = $0; gsub(/\r/, "\\r", line)
      if (shown++ < 3) printf "line %d %s: %s; ", NR, why, line
    }
    BEGIN { d = "[0-9]"; stamp = " " d d d d d d d d " " d d d d d d " " }  # mawk: no {n}
    $0 ~ ("^" stamp) {
      if (substr($0, 17) ~ stamp) bad("holds two stamps")
      previous = "entry"; next
    }
    /^: [A-Z][A-Za-z ]*\r?$/ {
      if (previous != "entry") bad("is a suffix without its entry")
      previous = "suffix"; next
    }
    { bad("is no entry"); previous = "" }
    END { if (NR == 0) printf "the log is empty; " }')
  [[ $(daily_log_text | tail -c 1 | od -An -tx1) == " 0a" ]] ||
    problems+="the last entry lacks its line feed"
  if [[ -n $problems ]]; then
    fail "the daily log is torn: $problems"
  else
    pass "the daily log holds only whole entries ($(daily_log_text | grep -c '^ [0-9]') entries)"
  fi
}
