#!/usr/bin/env bash
# ServiceStatus end to end: direct connections, the Windows proxy configuration read through
# WinHTTP (static proxy, proxy list, automatic configuration script), tinyproxy's CONNECT tunnel
# and refusals, and the scripted proxy's unusual answers. Two 30-second cases check the limit of
# the proxy dialogue (a slow and a flooding proxy); a 20-second case the limit of the connect, a
# 10-second one the limit of discovery.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/network.sh"
scenario_init "$@"
prepare_wine
net_init

open_proxy=18080
basic_proxy=18081
dead_port=18089
scripted_proxy=18090
pac_port=18099
request_line='CONNECT auth.qardex.example:443 HTTP/1.0\r\n'

log_count() { daily_log_text | grep -cF -- "$1"; }
check_log_count() {
  local count
  count=$(log_count "$2")
  if [[ $count -eq $1 ]]; then pass "daily log has '$2' $1 times"; else
    fail "daily log has '$2' $count times, expected $1"
  fi
}
script_output() { tr -d '\r' <"$QX_FILES/service_status.out"; }
server_connections() { auth_events | grep -c ' mode '; }

net_scenario "direct connection keeps an earlier error"
start_authserver --modes "accept-close*5"
run_js cloud/service_status.js 0/0 scan/-1/7001 0/7001
check "the server saw both connections" test "$(server_connections)" -eq 2
check_log_lacks "begin_http_relay()"
check_lines_have "the script saw a direct configuration" "$(script_output)" "ProxyAutoDetected: 0"

net_scenario "server down, then up"
server_step() {
  case $1 in
    start-server) start_authserver --modes "accept-close*5" ;;
    stop-server) stop_authserver ;;
    *) return 1 ;;
  esac
}
run_js --steps server_step cloud/service_status.js 4061/4061 step:start-server 0/4061 new 0/0
check_log_count 1 "Connect To [auth.qardex.example:443] Err 10061"
check_log_lacks "gethostbyname error"

net_scenario "tinyproxy tunnel although the bypass list names the server"
start_authserver --modes "accept-close*5"
start_tinyproxy open $open_proxy
set_proxy_static 127.0.0.1:$open_proxy "auth.qardex.example;<local>"
run_js --steps server_step cloud/service_status.js 0/0 step:stop-server 4061/4061
check_log_count 2 "begin_http_relay()"
check_log_count 1 "connected, start user session."
check_log_count 1 "http proxy is not allowed."
check "tinyproxy was asked for auth.qardex.example:443 twice" \
  test "$(tinyproxy_log open | grep -c 'CONNECT auth.qardex.example:443 HTTP/1.0')" -eq 2
check "the server's one connection came through tinyproxy" test "$(server_connections)" -eq 1
check_lines_have "the bypass list was seen" "$(script_output)" \
  "ProxyBypass: auth.qardex.example;<local>"

net_scenario "proxy lists and proxy texts without a port"
start_authserver --modes "accept-close*5"
start_tinyproxy open $open_proxy
proxy_text_step() {
  case $1 in
    dead-first) set_proxy_static "127.0.0.1:$dead_port;127.0.0.1:$open_proxy" ;;
    no-port) set_proxy_static "127.0.0.1" ;;
    *) return 1 ;;
  esac
}
set_proxy_static "127.0.0.1:$open_proxy;127.0.0.1:$dead_port"
run_js --steps proxy_text_step cloud/service_status.js 0/0 step:dead-first 4061/4061 \
  step:no-port 4061/4061
# Both name the server and its port although the attempts went to the proxy.
check_log_count 2 "Connect To [auth.qardex.example:443] Err "
check_log_has "Connect To [auth.qardex.example:443] Err 10061"
check "only the first call reached the server" test "$(server_connections)" -eq 1

net_scenario "a proxy that asks for basic authentication"
start_authserver --modes "accept-close*5"
start_tinyproxy basic $basic_proxy
start_scripted_proxy $scripted_proxy "403*3"
set_proxy_static 127.0.0.1:$basic_proxy
basic_step() {
  case $1 in
    scripted) set_proxy_static 127.0.0.1:$scripted_proxy ;;
    direct) set_proxy_direct ;;
    *) return 1 ;;
  esac
}
run_js --steps basic_step cloud/service_status.js 4061/4061 step:scripted 4061/4061 new \
  4061/4061 step:direct 0/4061
check_log_count 3 "begin_http_relay()"
check_log_lacks "Authentication failed."
check_log_lacks "http proxy is not allowed."
events=$(proxy_events $scripted_proxy)
for connection in 1 2; do
  check_lines_have "later attempt $connection sent the request line alone" "$events" \
    "$connection request $request_line"
  check_lines_have "later attempt $connection left out the blank line" "$events" \
    "$connection request-complete no"
done
check "the direct call reached the server" test "$(server_connections)" -eq 1

net_scenario "401 with a basic challenge"
start_scripted_proxy $scripted_proxy "401-basic,403"
set_proxy_static 127.0.0.1:$scripted_proxy
run_js cloud/service_status.js 4061/4061 4061/4061
events=$(proxy_events $scripted_proxy)
check_lines_have "the first request is the request line and a blank line" "$events" \
  "1 request ${request_line}\\r\\n"
check_lines_have "the second request is the request line alone" "$events" "2 request $request_line"
check_log_lacks "Can't find WWW-Authenticate: in response header."

net_scenario "proxy answers that end the dialogue"
start_scripted_proxy $scripted_proxy "302,407-ntlm,407-no-scheme,403,status-no-blank,200-close"
set_proxy_static 127.0.0.1:$scripted_proxy
run_js cloud/service_status.js 4061/4061 4061/4061 4061/4061 4061/4061 4061/4061 4061/4061
check_log_count 6 "begin_http_relay()"
check_log_has "Unsupported authentication type: ntlm"
check_log_has "Unsupported authentication type: negotiate"
check_log_count 1 "Can't find Proxy-Authenticate: in response header."
check_log_count 1 "Invalid format of Proxy-Authenticate: field."
check_log_count 2 "http proxy is not allowed."
check_log_count 1 "connected, start user session."
check_log_count 1 "Can't skip response headers"
events=$(proxy_events $scripted_proxy)
plain_requests=0
for connection in 1 2 3 4 5 6; do
  grep -qxF "$connection request ${request_line}\\r\\n" <<<"$events" && plain_requests=$((plain_requests + 1))
done
check "each request was the request line and a blank line, no header ($plain_requests of 6)" \
  test $plain_requests -eq 6

net_scenario "automatic configuration script on loopback"
start_authserver --modes "accept-close*5"
start_tinyproxy open $open_proxy
start_pac_server $pac_port "PROXY 127.0.0.1:$open_proxy"
set_proxy_script "http://127.0.0.1:$pac_port/proxy.pac"
run_js cloud/service_status.js 0/0
check_lines_have "the proxy came from the script" "$(script_output)" "ProxyAutoDetected: 1"
check_lines_have "the script's proxy was used" "$(script_output)" "ProxyURL: 127.0.0.1:$open_proxy"
check "tinyproxy tunnelled the call" \
  test "$(tinyproxy_log open | grep -c 'CONNECT auth.qardex.example:443 HTTP/1.0')" -eq 1
check "the script was fetched" grep -q '^1 request GET ' "$QX_FILES/proxy-$pac_port.events"

net_scenario "automatic detection that finds nothing falls back to the static proxy"
start_authserver --modes "accept-close*5"
start_tinyproxy open $open_proxy
# Detection is asked for besides a static proxy; offline, detection fails and the static one
# still applies.
set_proxy_settings $((2 | 8)) "127.0.0.1:$open_proxy" "" ""
run_js cloud/service_status.js 0/0
check "tinyproxy carried the call" \
  test "$(tinyproxy_log open | grep -c 'CONNECT auth.qardex.example:443 HTTP/1.0')" -eq 1
check "the server's connection came through tinyproxy" test "$(server_connections)" -eq 1
set_proxy_settings $((2 | 8)) "127.0.0.1:$dead_port" "" ""
run_js cloud/service_status.js 4061/4061
check_log_count 1 "Connect To [auth.qardex.example:443] Err 10061"
check "the server saw no direct connection" test "$(server_connections)" -eq 1

net_scenario "server name only the proxy can resolve"
hosts_without_server
start_scripted_proxy $scripted_proxy "200-tunnel*3"
name_step() { [[ $1 == proxy ]] && set_proxy_static 127.0.0.1:$scripted_proxy; }
run_js --steps name_step cloud/service_status.js 4061/4061 step:proxy 0/4061
check_log_count 1 "gethostbyname error"
check_lines_have "the proxy was asked for the server by name" "$(proxy_events $scripted_proxy)" \
  "1 request ${request_line}\\r\\n"

net_scenario "a proxy that never ends its headers"
start_scripted_proxy $scripted_proxy "endless-headers"
set_proxy_static 127.0.0.1:$scripted_proxy
run_js cloud/service_status.js 4061/4061@29-40
check_log_has "connected, start user session."
check_log_has "Can't skip response headers"

net_scenario "a proxy that floods header lines without a pause"
# Bytes are always waiting, so only the clock can end the dialogue.
start_scripted_proxy $scripted_proxy "flood-headers"
set_proxy_static 127.0.0.1:$scripted_proxy
run_js cloud/service_status.js 4061/4061@29-40
check_log_has "proxy did not answer in time"
check_log_has "Can't skip response headers"

net_scenario "a proxy whose connect is never answered"
stalled_port=18088
start_stalled_listener $stalled_port
set_proxy_static 127.0.0.1:$stalled_port
run_js cloud/service_status.js 4061/4061@19-26
check_log_has "Connect To [auth.qardex.example:443] Err 10060"

net_scenario "a configuration script server that accepts but never answers"
start_authserver --modes "accept-close*5"
start_scripted_proxy $pac_port "silent*5"
set_proxy_script "http://127.0.0.1:$pac_port/proxy.pac"
run_js cloud/service_status.js 0/0@9-15
check_log_has "proxy discovery did not finish in time"
check "the call went on directly" test "$(server_connections)" -eq 1

finish
