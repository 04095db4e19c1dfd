# shellcheck shell=bash
# Pages of the page library in headless Chromium or Firefox, for card scenario files (sourced
# after testbed/scenario.sh and network.sh): served by testbed/web/page_server.py from $pages,
# which posts their records to $results.
#
#   browser_pages_init                 # $pages with qardex.js, qardex.global.js, this folder's pages
#   start_page_server [FLAGS...]       # HTTP on localhost:$http_port (FLAGS: more of the server's)
#   run_page NAME ORIGIN [CALL...]     # browser_answers.html; its record in $QX_FILES/NAME.txt
#   page_says NAME LINE                # that record has LINE
#   start_browser NAME URL             # the headless browser in the background ($QX_BROWSER_PID)
#   act COMMAND... / event WHAT LIMIT-MS JSON   # a change, then the next event a watching page
#                                               # posted as $results/NAME-N (NAME $events_name)
#
# Every browser gets a profile of its own. $browser is chromium (the default) or firefox.
# Chromium gets the flags of the array browser_flags (with --load-extension it starts with
# testbed/web/launch.html, which opens the page once the extension is ready); with $profile_host_manifest set, the
# profile's NativeMessagingHosts/ holds that manifest. Firefox ESR gets a HOME of its own, whose
# .mozilla/native-messaging-hosts/ holds $profile_host_manifest when set, and the add-on
# $firefox_addon when set (an unsigned .xpi named ID.xpi): a file in the profile's extensions/
# folder, which Firefox installs at its start once user.js allows unsigned add-ons and lets that
# folder's add-ons start enabled.

http_port=8080
# What every page of the twelve methods calls, in the order the control is asked.
twelve_calls=(GetVersion GetRandom GetBasic H_Sign:12345678901234567890 GetReaders GetHCConnectNo
  ServiceStatus GetName ZEL_FormatMessage:8013 SecureGetBasicWithParam:x GetLastError
  EnCrypt:ABCDEFGH)
browser=chromium
browser_flags=()
profile_host_manifest=""
firefox_addon=""

browser_pages_init() {
  pages=$QX_WORK/site results=$QX_WORK/results
  [[ -f $QX_ROOT/out/win64/web/qardex.js ]] || qx_die "missing out/win64/web/qardex.js (scripts/build)"
  mkdir -p "$pages" "$results" "$QX_WORK/home" &&
    cp "$QX_ROOT/out/win64/web/qardex.js" "$QX_ROOT/out/win64/web/qardex.global.js" \
      "$QX_ROOT/tests/e2e/service/browser_answers.html" \
      "$QX_ROOT/tests/e2e/service/browser_events.html" \
      "$QX_ROOT/tests/e2e/service/browser_framed.html" "$pages/" &&
    stage_launch_page "$QX_ROOT/out/win64/web/qardex.js" "$pages" || qx_die "cannot stage the pages"
}

start_page_server() {
  rm -f "$QX_FILES/pages.ready"
  /usr/bin/python3 "$QX_ROOT/testbed/web/page_server.py" --root "$pages" --results "$results" \
    --http "$http_port" --ready-file "$QX_FILES/pages.ready" --log "$QX_FILES/pages.log" \
    --lifetime 300 "$@" >>"$QX_FILES/pages.out" 2>&1 &
  QX_NET_PIDS[pages]=$!
  qx_net_wait_ready pages "$QX_FILES/pages.ready"
}

start_browser() {
  local profile=$QX_FILES/profile-$1
  [[ $browser == chromium ]] || { start_firefox "$@"; return; }
  mkdir -p "$profile/NativeMessagingHosts"
  [[ -z $profile_host_manifest ]] || cp "$profile_host_manifest" "$profile/NativeMessagingHosts/"
  local url=$2
  [[ " ${browser_flags[*]} " != *" --load-extension="* ]] || url=$(launch_url "http://localhost:$http_port" "$2")
  HOME=$QX_WORK/home setsid chromium --headless --no-sandbox --disable-gpu --disable-quic \
    --no-first-run --disable-background-networking --disable-component-update --disable-sync \
    --disable-dev-shm-usage --user-data-dir="$profile" "${browser_flags[@]}" \
    "$url" >"$QX_FILES/chromium-$1.log" 2>&1 &
  QX_BROWSER_PID=$!
}

start_firefox() {
  local profile=$QX_FILES/profile-$1 home=$QX_FILES/home-$1
  mkdir -p "$profile/extensions" "$home/.mozilla/native-messaging-hosts"
  [[ -z $profile_host_manifest ]] ||
    cp "$profile_host_manifest" "$home/.mozilla/native-messaging-hosts/"
  [[ -z $firefox_addon ]] || cp "$firefox_addon" "$profile/extensions/"
  printf 'user_pref("%s", %s);\n' xpinstall.signatures.required false \
    extensions.autoDisableScopes 0 >"$profile/user.js"
  HOME=$home setsid firefox-esr --headless --no-remote --profile "$profile" \
    "$2" >"$QX_FILES/firefox-$1.log" 2>&1 &
  QX_BROWSER_PID=$!
}

stop_browser() {
  kill -- -"$QX_BROWSER_PID" 2>/dev/null
  wait "$QX_BROWSER_PID" 2>/dev/null
}

# run_page NAME ORIGIN [CALL...]: the browser is stopped once the record came, or after 60 s.
run_page() {
  local name=$1 url="$2/browser_answers.html?name=$1" call deadline=$((SECONDS + 60))
  shift 2
  for call in "$@"; do url+="&call=$call"; done
  rm -f "$results/$name"
  start_browser "$name" "$url"
  until [[ -e $results/$name || $SECONDS -ge $deadline ]]; do sleep 0.1; done
  stop_browser
  mv "$results/$name" "$QX_FILES/$name.txt" 2>/dev/null ||
    { fail "the page $name posted no record within 60 s" && : >"$QX_FILES/$name.txt"; }
}

page_says() {
  check_lines_have "page $1 says '$2'" "$(cat "$QX_FILES/$1.txt")" "$2"
}

events_name=events
events_seen=0
events_start=0
act() { events_start=${EPOCHREALTIME/./} && "$@"; }
event() {
  local file=$results/$events_name-$((++events_seen)) ms=$(((${EPOCHREALTIME/./} - events_start) / 1000))
  until [[ -e $file ]] || ((ms > $2)); do
    sleep 0.02 && ms=$(((${EPOCHREALTIME/./} - events_start) / 1000))
  done
  check_lines_have "event $events_seen ($1, $ms ms)" "$(cat "$file" 2>/dev/null)" "$3"
}
