#!/usr/bin/env bash
# H_Sign end to end: the control under Wine, the virtual card behind pcscd, and the test server
# (testbed/authserver), which speaks the protocol with OpenSSL's ciphers and logs what it got.
# QARDEX_E2E_SLOW=1 adds the cases that wait out the 60-second limits (about two minutes).
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/network.sh"
scenario_init "$@"
prepare_wine
net_init

select_hc=00A4040010D1580000010000000000000000001100
select_hc31=00A4040010D1580000010000000000000000003100
hex_of() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n' | tr a-f A-F; }
zeros() { printf "%0$(($1 * 2))d" 0; }
events_arg() { printf 'events=%s' "$(winepath -w "$QX_FILES/authserver.events")"; }

# A scenario with one reader holding the default card, pcscd running, and the server in MODES.
card_and_server() {
  add_reader "QX Solo"
  insert_card 0
  start_pcscd
  start_authserver --modes "$1"
}

count_lines() { grep -c -- "$2" "$1" 2>/dev/null; }

net_scenario "one full call"
card_and_server "normal"
run_js cloud/h_sign.js "$(events_arg)" "sign|ABCDEFGHIJKLMNOPQRSTUVWXYZ|result|0"
for line in "Send Hello" "Remote InSAM_HC_AUTH OK!" "Local MuAuthHC_DC_SAM OK!" \
  "Remote ExSAM_HC_AUTH OK!" "Ret = 0"; do
  check_log_has "$line"
done
mapfile -t apdus <"$(apdu_log 0)"
check "the card saw 5 APDUs (${#apdus[@]})" test "${#apdus[@]}" -eq 5
check "1: SELECT HC" test "${apdus[0]}" == "$select_hc -> 9000"
check "2: READ ID" test "${apdus[1]}" == "00CA000002000000 -> $(hex_of 000012345678)9000"
check "3: GET CHALLENGE" grep -qE '^0084000008 -> [0-9A-F]{16}9000$' <<<"${apdus[2]}"
check "4: MUTUAL AUTHENTICATE" grep -qE '^0082111220[0-9A-F]{64}10 -> [0-9A-F]{32}9000$' \
  <<<"${apdus[3]}"
check "5: SELECT HC31 ends the call" test "${apdus[4]}" == "$select_hc31 -> 9000"
challenge=${apdus[2]#0084000008 -> }
check "the server got the card's challenge" test "$(auth_value 1 challenge)" == "${challenge:0:16}"
mutual=${apdus[3]}
check "the card got the server's SAM data" test "${mutual:10:64}" == "$(auth_value 1 sam-data)"
check "the server got the card's answer" test "$(auth_value 1 au)" == "${mutual:80:32}"
check "the server got the card identifier" test "$(auth_value 1 id)" == 000012345678
check "the client random is 16 digits" grep -qE '^[0-9]{16}$' <<<"$(auth_value 1 client-random)"
check "a long sRandom is cut to 20 bytes in the se field" \
  test "$(auth_value 1 se)" == "$(hex_of ABCDEFGHIJKLMNOPQRST)"

net_scenario "each server fault ends the call with its code"
card_and_server "hello-bad-padding,hello-close,hello-empty,hello-not-hello,bad-server-key,\
bad-secret-block,reply02-45,reply02-not02,reply02-close,wrong-sam-data,final-not-ok,final-close,\
normal,split,slow-hello:3,accept-close"
run_js cloud/h_sign.js "$(events_arg)" \
  "sign|r|8305|8305" "sign|r|8305|8305" "sign|r|8305|8305" "sign|r|8305|8305" \
  "sign|r|8305|8305" "sign|r|8302|8302" "sign|r|8004|8004" "sign|r|8005|8005" \
  "sign|r|8004|8004" "sign|r|8006|8006" "sign|r|8008|8008" "sign|r|8008|8008" \
  "sign|12345|result|8008" "sign|split reply|result|8008" "sign|slow|result|8008|3-10" \
  "sign|r|8305|8305"
check "the daily log names the failure: 'Private Decrypt failed  ERROR: ' and OpenSSL's text" eval \
  "daily_log_text | grep -qE 'Private Decrypt failed  ERROR: error:[0-9A-F]+:rsa routines::[a-z]'"
check "SELECT HC31 only after the 3 successes" test "$(count_lines "$(apdu_log 0)" "^$select_hc31")" -eq 3
check "the card refused the wrong SAM data with 69 82" grep -qE '^0082111220[0-9A-F]{66} -> 6982$' \
  "$(apdu_log 0)"
check "a short sRandom is zero-filled to 20 bytes in the se field" \
  test "$(auth_value 13 se)" == "$(hex_of 12345)$(zeros 15)"
check "the server saw every connection" test "$(auth_events | grep -c ' mode ')" -eq 16

net_scenario "card refusals"
add_reader "QX Solo"
insert_card 0 0 - <<<"refuse.read_id = 6A82"
start_pcscd
start_authserver --modes "normal*6"
swap_card() {
  remove_card 0
  case $1 in
    refuse-challenge) insert_card 0 0 - <<<"refuse.get_challenge = 6985" ;;
    refuse-auth) insert_card 0 0 - <<<"refuse.mutual_auth = 6982" ;;
    other-secret) insert_card 0 0 - <<<"sam_secret = not-the-servers" ;;
    short-challenge) insert_card 0 0 - <<<"short.get_challenge = 7" ;;
    short-auth) insert_card 0 0 - <<<"short.mutual_auth = 15" ;;
    good) insert_card 0 0 ;;
    none) ;;
    *) return 1 ;;
  esac
}
run_js --steps swap_card cloud/h_sign.js "$(events_arg)" \
  "sign|r|8001|8001" "step:refuse-challenge" "sign|r|8002|8002" \
  "step:refuse-auth" "sign|r|8006|8006" "step:other-secret" "sign|r|8006|8006" \
  "step:good" "sign|r|result|8006" "step:none" "sign|r|7004|7004"
check "the server made 5 connections, none for the empty reader" \
  test "$(auth_events | grep -c ' mode ')" -eq 5
check "SELECT HC31 was sent once" test "$(cat "$QX_FILES"/apdu-*.log | grep -c "^$select_hc31")" -eq 1

# Answers with 90 00 but fewer data bytes than asked: the step fails and nothing of it goes out.
net_scenario "short card answers"
add_reader "QX Solo"
insert_card 0 0 - <<<"short.read_id = 11"
start_pcscd
start_authserver --modes "normal*3"
run_js --steps swap_card cloud/h_sign.js "$(events_arg)" \
  "sign|r|8001|8001" "step:short-challenge" "sign|r|8002|8002" "step:short-auth" "sign|r|8006|8006"
check "no card data reached the server for a short identifier or challenge" \
  test -z "$(auth_value 1 id)$(auth_value 2 id)"
check "no card answer reached the server for a short MUTUAL AUTHENTICATE" \
  test -n "$(auth_value 3 id)" -a -z "$(auth_value 3 au)"
check_log_lacks "Local MuAuthHC_DC_SAM OK!"

net_scenario "no server"
add_reader "QX Solo"
insert_card 0
start_pcscd
run_js cloud/h_sign.js "sign|r|4061|4061"
check_log_has "Connect To [auth.qardex.example:443] Err 10061"
check_log_lacks "Remote InSAM_HC_AUTH OK!"

net_scenario "no card"
add_reader "QX Solo"
start_pcscd
start_authserver --modes "normal"
run_js cloud/h_sign.js "sign|r|7004|7004"
check "the server saw no connection" test -z "$(auth_events | grep ' mode ')"

net_scenario "through tinyproxy"
card_and_server "normal*2"
start_tinyproxy open 18080
set_proxy_static 127.0.0.1:18080 "auth.qardex.example"
run_js cloud/h_sign.js "$(events_arg)" "sign|via proxy|result|0" "sign|again|result|0"
check_log_has "connected, start user session."
check "tinyproxy tunnelled both calls" \
  test "$(tinyproxy_log open | grep -c 'CONNECT auth.qardex.example:443 HTTP/1.0')" -eq 2

net_scenario "silent server"
card_and_server "hello-silent"
run_js cloud/h_sign.js "sign|r|8305|8305|19-30"
check "the server saw the Hello" grep -q '^1 hello ' "$QX_FILES/authserver.events"

# Windows resets a card left 5 s in a transaction without a call; pcscd does not (the unit tests'
# fake PC/SC shows the reset), so here the call only has to outlast the wait.
net_scenario "an \"02\" reply 8 s late"
card_and_server "slow-02:8"
run_js cloud/h_sign.js "$(events_arg)" "sign|late|result|0|8-20"

# The administrator's pin list (a machine policy value): the server's key must be on it, in either
# case; a key that is not gets no key message. The value goes again afterwards. (A success keeps
# the code of the refusal before it as the last error.)
pins_key='HKLM\SOFTWARE\Policies\QARDEX'
clear_pins() { wine reg delete "$pins_key" /v ServerKeyPins /f >>"$QX_FILES/reg.log" 2>&1; }
set_pins() {
  wine reg add "$pins_key" /v ServerKeyPins /t REG_MULTI_SZ /d "$1" /f >>"$QX_FILES/reg.log" 2>&1
}
pin_step() {
  local other
  other=$(printf '%064d' 0)
  case $1 in
    server) set_pins "$server_pin" ;;
    other) set_pins "$other" ;;
    both) set_pins "$other\\0${server_pin^^}" ;; # a key being rolled over
    none) clear_pins ;;
    *) return 1 ;;
  esac
}
net_scenario "the administrator's pin list for the server's key"
card_and_server "normal*4"
clear_pins
# The pin by an outside reckoning: SHA-256 of the key's DER as the server logged it.
server_pin=$(auth_value 0 server-key | base64 -d | sha256sum | cut -c1-64)
check "the server told its key" test -n "$(auth_value 0 server-key)"
run_js --steps pin_step cloud/h_sign.js "$(events_arg)" \
  "sign|no list|result|0" "step:server" "sign|pinned|result|0" \
  "step:other" "sign|r|8303|8303" "step:both" "sign|two pins|result|8303" "step:none"
for connection in 1 2 4; do
  check "call $connection sent its key message" test -n "$(auth_value $connection client-random)"
done
check "the server saw the Hello of the refused call" test -n "$(auth_value 3 hello)"
check "the server saw no key message from the refused call" test -z "$(auth_value 3 client-random)"
check_log_has "Server key $server_pin is not in the pin list"
clear_pins

if [[ ${QARDEX_E2E_SLOW:-} == 1 ]]; then
  net_scenario "replies after the first take up to 60 s"
  card_and_server "slow-02:25,trickle-02"
  run_js cloud/h_sign.js "$(events_arg)" "sign|r|result|0|25-40"
  run_js cloud/h_sign.js "sign|r|8004|8004|59-75"
fi

finish
