#!/usr/bin/env bash
# The extension road in headless Chromium, without Wine: the unpacked extension as scripts/package
# stages it (package_extension) and a profile whose NativeMessagingHosts names the echo host
# (testbed/extension_host/echo_host.py). A page on an approved origin (http://localhost, served
# by testbed/web/page_server.py) gets GetVersion through the extension, the watch's events in
# order, an aborted call cancelled at the host, host-ended when the host ends mid-call and an
# answer on the next call; the host is told the page's origin by the browser. An unlisted origin
# gets no content script, and a page without the extension or without the host takes the service
# road (not run here: "service-not-running").
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$here/../..
source "$here/lib/preamble.sh"
source "$root/testbed/network.sh" # check_lines_have
source "$root/scripts/package"     # package_extension
e2e_namespaces "$0" "$@"
command -v chromium >/dev/null || e2e_die "needs chromium"
library=$root/out/native/web/qardex.js
[[ -f $library ]] || e2e_die "missing $library (scripts/build)"
work=${QARDEX_E2E_DIR:-$root/build/e2e}/work/extension_road
rm -rf "$work" && mkdir -p "$work/site" "$work/results" || e2e_die "cannot create $work"
package_extension "$work/package" "$root/out/native" >/dev/null || e2e_die "cannot stage the extension"
extension=$work/package/extension/chromium
tag=$(grep -o 'EXTENSION_TAG = "[^"]*"' "$library" | cut -d'"' -f2)
cp "$library" "$work/site/" && stage_launch_page "$library" "$work/site" &&
  sed "s/@QARDEX_EXTENSION_TAG@/$tag/" "$here/extension/road_page.html" >"$work/site/road.html"
port=8080
/usr/bin/python3 "$root/testbed/web/page_server.py" --root "$work/site" --results "$work/results" \
  --http "$port" --ready-file "$work/pages.ready" --log "$work/pages.log" --lifetime 110 &
pages=$!
trap 'kill "$pages" 2>/dev/null' EXIT
for _ in {1..50}; do [[ -e $work/pages.ready ]] && break; sleep 0.1; done
export QARDEX_ECHO_LOG=$work/host.log

# run_page NAME URL-QUERY [CHROMIUM-FLAG...]: road.html of $origin in headless Chromium with a
# profile of its own (the host's manifest, pointed at the echo host, in it unless $host_manifest
# is empty; with the extension, through testbed/web/launch.html); the record is left in
# $work/NAME.txt, the browser stopped once it came or after 20 s.
origin=http://localhost:$port
host_manifest=$(ls "$work/package/extension/host/chromium/"*.json)
run_page() {
  local name=$1 profile=$work/profile-$1 deadline=$((SECONDS + 20))
  local url="$origin/road.html?name=$name&$2"
  [[ " ${*:3} " != *" --load-extension="* ]] || url=$(launch_url "http://localhost:$port" "$url")
  mkdir -p "$profile/NativeMessagingHosts"
  [[ -z $host_manifest ]] || sed "s|\"path\": \"[^\"]*\"|\"path\": \"$root/testbed/extension_host/echo_host.py\"|" \
    "$host_manifest" >"$profile/NativeMessagingHosts/${host_manifest##*/}"
  setsid chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-sync \
    --disable-background-networking --disable-component-update --disable-dev-shm-usage \
    --user-data-dir="$profile" "${@:3}" "$url" >"$work/chromium-$name.log" 2>&1 &
  local browser=$!
  until [[ -e $work/results/$name || $SECONDS -ge $deadline ]]; do sleep 0.1; done
  kill -- -"$browser" 2>/dev/null
  wait "$browser" 2>/dev/null
  mv "$work/results/$name" "$work/$name.txt" 2>/dev/null ||
    { fail "the page $name posted no record within 20 s" && : >"$work/$name.txt"; }
}
says() { check_lines_have "$1: '$2'" "$(cat "$work/$1.txt")" "$2"; }

with=(--load-extension="$extension")
run_page road "transport=extension&step=GetVersion&step=watch&step=abort&step=die&step=GetVersion" "${with[@]}"
ms=$(sed -n 's/^probe \([0-9.]*\)$/\1/p' "$work/road.txt")
bound=$(grep -o 'PROBE_TIMEOUT_MS = [0-9]*' "$library" | grep -o '[0-9]*$')
check "road: the probe answered in ${ms:-no} ms (the library waits $bound)" \
  awk -v ms="${ms:-99999}" -v bound="$bound" 'BEGIN { exit !(ms < bound) }'
says road "connect extension"
says road "GetVersion 0001 0"
says road "watch state,card-inserted"
says road "abort error TimeoutError"
says road "die error host-ended"
check "road: the host ended once and was started again" test "$(grep -c '^argv ' "$work/host.log")" -eq 2
check "road: the host was told the page's origin" grep -q "\"origin\": \"$origin\"" "$work/host.log"
hung=$(grep -o '"args": \["hang"\], "ask": "call", "id": [0-9]*' "$work/host.log" | grep -o '[0-9]*$')
check "road: the aborted call was cancelled at the host" grep -qx "{\"cancel\": true, \"id\": ${hung:-x}}" "$work/host.log"
check "road: after the host ended, the next call is answered (a new host, a new session)" \
  test "$(tail -n 1 "$work/road.txt")" = "GetVersion 0001 0"

seen=$(wc -l <"$work/host.log")
run_page chosen "step=GetVersion&reload=1" "${with[@]}"
says chosen "connect extension"
says chosen "GetVersion 0001 0"
check "chosen: the session the first load left was closed at the host" \
  grep -q '"ask": "close", "id": [0-9]*, "origin": "'"$origin"'", "session": "s-1"}' \
  <(tail -n +$((seen + 1)) "$work/host.log")
run_page without "step=GetVersion"
says without "probe none"
says without "connect error service-not-running"
keep=$host_manifest host_manifest=
run_page no-host "step=GetVersion" "${with[@]}"
says no-host "connect error service-not-running"
run_page no-host-forced "transport=extension" "${with[@]}"
says no-host-forced "connect error host-not-installed"
host_manifest=$keep
origin=http://127.0.0.1:$port
run_page unlisted "step=GetVersion" "${with[@]}"
says unlisted "probe none"
says unlisted "connect error service-not-running"
run_page unlisted-forced "transport=extension" "${with[@]}"
says unlisted-forced "connect error extension-not-installed"
finish
