# Network peers for the end-to-end tests, sourced after testbed/scenario.sh by scenario files that
# need the authentication server or a proxy. Call net_init once after prepare_wine, and start each
# scenario with net_scenario (instead of scenario), which also ends the previous scenario's peers
# and sets the Windows proxy configuration back to a direct connection.
#
#   start_authserver [--modes LIST] [OPTIONS...]  # qardex-authserver on 127.0.0.1:443
#   auth_events                                   # its event log ("N KEY VALUE" lines)
#   auth_connections                              # how many connections it has seen
#   start_tinyproxy open|basic PORT               # Debian's tinyproxy on 127.0.0.1:PORT
#   start_scripted_proxy PORT MODES [OPTIONS...]  # qardex-proxy (see testbed/proxy)
#   start_pac_server PORT "PROXY 127.0.0.1:P"     # serves proxy.pac returning that answer
#   start_stalled_listener PORT                   # connects to PORT hang (never answered)
#   set_proxy_direct | set_proxy_static TEXT [BYPASS] | set_proxy_script URL
#   set_proxy_settings FLAGS PROXY BYPASS SCRIPT  # any combination (flags as documented below)
#   hosts_without_server / hosts_with_server      # the namespace's /etc/hosts
#
# Every peer is bounded (lifetime, connection count) and is stopped at the end of its scenario
# and when the file exits. All of them listen on loopback inside the scenario's namespace.

QX_AUTH_PORT=443
QX_NET_WAIT_SECONDS=10
QX_NET_SETTINGS_COUNTER=0
declare -A QX_NET_PIDS # name -> process of a running peer

net_init() {
  [[ -n ${QX_WINE_READY:-} ]] || qx_die "net_init: call prepare_wine first"
  local tool
  for tool in qardex-authserver qardex-proxy qardex-tool; do
    [[ -x $QX_NATIVE/$tool ]] || qx_die "missing $QX_NATIVE/$tool (build the native preset)"
  done
  command -v tinyproxy >/dev/null || qx_die "tinyproxy is not installed"
  # Peers and the proxy setting are cleaned up before scenario.sh's own clean-up runs.
  trap 'qx_net_status=$?; qx_net_cleanup; (exit $qx_net_status); qx_cleanup' EXIT
  set_proxy_direct
}

qx_net_cleanup() {
  stop_net_peers
  [[ -n ${QX_WINE_READY:-} ]] && set_proxy_direct >/dev/null 2>&1
  return 0
}

# net_scenario NAME: stops the peers of the previous scenario, starts NAME (scenario.sh) with a
# direct connection and the namespace's normal hosts file.
net_scenario() {
  stop_net_peers
  scenario "$1"
  hosts_with_server
  set_proxy_direct
}

stop_net_peers() {
  local name
  for name in "${!QX_NET_PIDS[@]}"; do stop_net_peer "$name"; done
}

stop_net_peer() {
  local pid=${QX_NET_PIDS[$1]:-}
  [[ -n $pid ]] || return 0
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  unset "QX_NET_PIDS[$1]"
}

# qx_net_wait_ready NAME FILE: waits until the peer created FILE (it listens then).
qx_net_wait_ready() {
  local name=$1 file=$2 deadline=$((SECONDS + QX_NET_WAIT_SECONDS))
  until [[ -e $file ]]; do
    if ! kill -0 "${QX_NET_PIDS[$name]}" 2>/dev/null; then
      fail "$name ended at start: $(tail -n 3 "$QX_FILES/$name.out" 2>/dev/null)"
      unset "QX_NET_PIDS[$name]"
      return 1
    fi
    if [[ $SECONDS -ge $deadline ]]; then
      fail "$name was not ready within ${QX_NET_WAIT_SECONDS}s"
      return 1
    fi
    sleep 0.05
  done
}

# qx_net_wait_port NAME PORT: for peers without a ready file (tinyproxy).
qx_net_wait_port() {
  local name=$1 port=$2 deadline=$((SECONDS + QX_NET_WAIT_SECONDS))
  until ss -Hltn "sport = :$port" 2>/dev/null | grep -q .; do
    if ! kill -0 "${QX_NET_PIDS[$name]}" 2>/dev/null; then
      fail "$name ended at start: $(tail -n 3 "$QX_FILES/$name.out" 2>/dev/null)"
      unset "QX_NET_PIDS[$name]"
      return 1
    fi
    if [[ $SECONDS -ge $deadline ]]; then
      fail "$name did not listen on port $port within ${QX_NET_WAIT_SECONDS}s"
      return 1
    fi
    sleep 0.05
  done
}

# --- The authentication server -----------------------------------------------------------------

QX_AUTH_EVENTS=""

# start_authserver [OPTIONS...]: options of qardex-authserver (--modes LIST, --port, ...). Its
# events go to $QX_FILES/authserver.events (auth_events prints them).
start_authserver() {
  [[ -z ${QX_NET_PIDS[authserver]:-} ]] || qx_die "start_authserver: the server runs already"
  QX_AUTH_EVENTS=$QX_FILES/authserver.events
  local ready=$QX_FILES/authserver.ready
  rm -f "$ready"
  "$QX_NATIVE/qardex-authserver" --port "$QX_AUTH_PORT" --hello-key-tool "$QX_NATIVE/qardex-tool" \
    --log "$QX_AUTH_EVENTS" --ready-file "$ready" --lifetime 600 "$@" \
    >>"$QX_FILES/authserver.out" 2>&1 &
  QX_NET_PIDS[authserver]=$!
  qx_net_wait_ready authserver "$ready"
}

stop_authserver() { stop_net_peer authserver; }

auth_events() { cat "$QX_AUTH_EVENTS" 2>/dev/null; }
# auth_connections: how many connections the server has seen.
auth_connections() { auth_events | awk '$1 > 0 { seen[$1] = 1 } END { print length(seen) }'; }

# auth_value CONNECTION KEY: the value of the server's event KEY on that connection.
auth_value() {
  auth_events | awk -v c="$1" -v k="$2" '$1 == c && $2 == k { sub(/^[^ ]+ [^ ]+ ?/, ""); print; exit }'
}

# --- Proxies -----------------------------------------------------------------------------------

# start_tinyproxy open|basic PORT: "open" allows CONNECT to port 443 only; "basic" also demands
# Basic authentication (user/secret), so it answers 407 with Proxy-Authenticate: Basic.
start_tinyproxy() {
  local kind=$1 port=$2 name=tinyproxy-$1
  [[ $kind == open || $kind == basic ]] || qx_die "start_tinyproxy: open or basic, not '$kind'"
  local conf=$QX_FILES/$name.conf
  {
    printf 'Port %d\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\n' "$port"
    printf 'ConnectPort 443\nLogLevel Info\nLogFile "%s"\nPidFile "%s"\n' \
      "$QX_FILES/$name.log" "$QX_FILES/$name.pid"
    printf 'User root\nGroup root\nDisableViaHeader Yes\n'
    [[ $kind == basic ]] && printf 'BasicAuth user secret\n'
  } >"$conf"
  tinyproxy -d -c "$conf" >>"$QX_FILES/$name.out" 2>&1 &
  QX_NET_PIDS[$name]=$!
  qx_net_wait_port "$name" "$port"
}

tinyproxy_log() { cat "$QX_FILES/tinyproxy-$1.log" 2>/dev/null; }

# start_scripted_proxy PORT MODES [OPTIONS...]: qardex-proxy; its record of every request goes to
# $QX_FILES/proxy-PORT.events ("N request BYTES" with \r and \n escaped).
start_scripted_proxy() {
  local port=$1 modes=$2 name=proxy-$1
  shift 2
  local ready=$QX_FILES/$name.ready
  rm -f "$ready"
  "$QX_NATIVE/qardex-proxy" --port "$port" --modes "$modes" --log "$QX_FILES/$name.events" \
    --ready-file "$ready" --lifetime 600 "$@" >>"$QX_FILES/$name.out" 2>&1 &
  QX_NET_PIDS[$name]=$!
  qx_net_wait_ready "$name" "$ready"
}

proxy_events() { cat "$QX_FILES/proxy-$1.events" 2>/dev/null; }

# start_stalled_listener PORT: a listener that never accepts, its one queue place taken by a
# connection of its own: the kernel leaves every further handshake unanswered, so a connect
# to PORT neither succeeds nor fails until the client gives up.
start_stalled_listener() {
  local port=$1 name=stalled-$1 ready=$QX_FILES/stalled-$1.ready
  rm -f "$ready"
  /usr/bin/python3 -c '
import socket, sys, time
listener = socket.socket()
listener.bind(("127.0.0.1", int(sys.argv[1])))
listener.listen(0)
first = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
open(sys.argv[2], "w").close()
time.sleep(600)' "$port" "$ready" >>"$QX_FILES/$name.out" 2>&1 &
  QX_NET_PIDS[$name]=$!
  qx_net_wait_ready "$name" "$ready"
}

# start_pac_server PORT ANSWER: serves a proxy auto-configuration script whose FindProxyForURL
# returns ANSWER (e.g. "PROXY 127.0.0.1:18080") at http://127.0.0.1:PORT/proxy.pac.
start_pac_server() {
  local port=$1 answer=$2 pac=$QX_FILES/proxy-$1.pac
  printf 'function FindProxyForURL(url, host) {\n  return "%s";\n}\n' "$answer" >"$pac"
  start_scripted_proxy "$port" "serve-file*50" --file "$pac"
}

# --- The Windows proxy configuration -----------------------------------------------------------

# WinHTTP reads the user's configuration from one binary registry value: little-endian 32-bit
# numbers 0x46, a change counter and the flags (1 direct, 2 proxy, 4 script URL, 8 detect
# automatically), then the proxy text, the bypass text and the script URL, each as its length
# in bytes followed by its bytes, and 32 zero bytes at the end as Windows writes them.
QX_PROXY_KEY='HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections'

qx_le32() {
  printf '%02x,%02x,%02x,%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255))
}

qx_counted_text() {
  local text=$1 i out
  out=$(qx_le32 ${#text})
  for ((i = 0; i < ${#text}; i++)); do out+=$(printf ',%02x' "'${text:i:1}"); done
  printf '%s' "$out"
}

# proxy_settings_reg FLAGS PROXY BYPASS SCRIPT: the .reg text setting that value (ASCII texts).
proxy_settings_reg() {
  local flags=$1 proxy=$2 bypass=$3 script=$4 tail="" i
  QX_NET_SETTINGS_COUNTER=$((QX_NET_SETTINGS_COUNTER + 1))
  for ((i = 0; i < 32; i++)); do tail+=",00"; done
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n' "$QX_PROXY_KEY"
  printf '"DefaultConnectionSettings"=hex:%s,%s,%s,%s,%s,%s%s\r\n' "$(qx_le32 0x46)" \
    "$(qx_le32 "$QX_NET_SETTINGS_COUNTER")" "$(qx_le32 "$flags")" "$(qx_counted_text "$proxy")" \
    "$(qx_counted_text "$bypass")" "$(qx_counted_text "$script")" "$tail"
}

# set_proxy_settings FLAGS PROXY BYPASS SCRIPT: imports the value with regedit.
set_proxy_settings() {
  local reg=$QX_FILES/proxy-settings.reg
  proxy_settings_reg "$@" >"$reg"
  wine regedit /S "$(winepath -w "$reg")" >>"$QX_FILES/regedit.log" 2>&1 || {
    fail "regedit could not import the proxy settings ($*)"
    return 1
  }
}

set_proxy_direct() { set_proxy_settings 1 "" "" ""; }
# set_proxy_static TEXT [BYPASS]: e.g. "127.0.0.1:18080" or "127.0.0.1:18080;127.0.0.1:18081".
set_proxy_static() { set_proxy_settings 3 "$1" "${2:-}" ""; }
set_proxy_script() { set_proxy_settings 5 "" "" "$1"; }

# --- Name resolution ---------------------------------------------------------------------------

# The namespace's /etc/hosts is a bind mount of $QX_WORK/hosts: rewritten in place (same file),
# the change shows at once.
hosts_without_server() {
  printf '127.0.0.1 localhost\n::1 localhost\n127.0.0.1 %s\n' "$QX_LOCAL_HOST" >"$QX_WORK/hosts"
}

hosts_with_server() {
  printf '127.0.0.1 localhost\n::1 localhost\n127.0.0.1 %s\n127.0.0.1 %s\n' \
    "$QX_AUTH_HOST" "$QX_LOCAL_HOST" >"$QX_WORK/hosts"
}

# --- Checks --------------------------------------------------------------------------------------

# check_lines_have DESCRIPTION TEXT LINE: passes when TEXT (several lines) has LINE exactly.
check_lines_have() {
  if grep -qxF -- "$3" <<<"$2"; then
    pass "$1"
  else
    fail "$1 (no line '$3' in: ${2//$'\n'/ | })"
  fi
}

check_lines_lack() {
  if grep -qF -- "$3" <<<"$2"; then
    fail "$1 (found '$3')"
  else
    pass "$1"
  fi
}

# stage_launch_page LIBRARY DIR: testbed/web/launch.html in DIR with LIBRARY's extension tag; a
# browser with the extension starts with http://ORIGIN/launch.html?to=URL (launch_url ORIGIN URL).
stage_launch_page() {
  local tag
  tag=$(grep -o 'EXTENSION_TAG = "[^"]*"' "$1" | cut -d'"' -f2)
  [[ -n $tag ]] && sed "s/@QARDEX_EXTENSION_TAG@/$tag/" \
    "$(dirname "${BASH_SOURCE[0]}")/web/launch.html" >"$2/launch.html"
}
launch_url() {
  python3 -c 'import sys, urllib.parse; print(sys.argv[1] + "/launch.html?to=" + urllib.parse.quote(sys.argv[2], safe=""))' "$1" "$2"
}

