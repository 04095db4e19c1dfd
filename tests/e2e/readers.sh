#!/usr/bin/env bash
# End to end through Wine, the winscard bridge, pcscd and vpcd: version, random numbers, the
# reader list, the reader scan and the error code they leave behind.
source "$(dirname "${BASH_SOURCE[0]}")/../../testbed/scenario.sh"
scenario_init "$@"
prepare_wine

apdu_log_has() { grep -q "^$2" "$(apdu_log "$1" "${3:-0}")" 2>/dev/null; }
select_hc=00A4040010D1580000010000000000000000001100

scenario "pcscd absent"
run_js readers/basics.js
run_js readers/scan.js "N/A" -1 7001

scenario "no reader"
start_pcscd
run_js readers/scan.js "N/A" -1 7002

scenario "one reader without a card"
add_reader "QX Solo"
start_pcscd
run_js readers/scan.js "QX Solo 00 00" -1 7004
check_log_has "QX Solo 00 00"
check_log_lacks "Select HC OK!"

scenario "two readers, card in the second"
add_reader "QX Alpha"
add_reader "QX Beta"
insert_card 1
start_pcscd
run_js readers/scan.js "QX Alpha 00 00,QX Beta 00 00" 1 0
check_log_has "QX Alpha 00 00"
check_log_has "QX Beta 00 00"
check_log_has "Select HC OK!"
check_log_has ": No error" # the text for error number 0 on every runtime
check "the card saw SELECT HC answered 90 00" apdu_log_has 1 "$select_hc -> 9000$"

scenario "cards in both slots of one vpcd reader"
add_reader "QX Dual" 2
insert_card 0 0
insert_card 0 1
start_pcscd
run_js readers/scan.js "QX Dual 00 00,QX Dual 00 01" 0 0
check "the scan stopped at the first card" \
  bash -c "[[ ! -s '$(apdu_log 0 1)' ]]"

scenario "card refusing SELECT HC"
add_reader "QX Solo"
insert_card 0 0 - <<<"refuse.select = 6A82"
start_pcscd
run_js readers/scan.js "QX Solo 00 00" -1 7004
check "the card answered SELECT HC with 6A 82" apdu_log_has 0 "$select_hc -> 6A82$"
check_log_lacks "Select HC OK!"

scenario "reader name with a comma"
add_reader "QX Reader, Left"
add_reader "QX Right"
insert_card 0
start_pcscd
run_js readers/scan.js "QX Reader, Left 00 00,QX Right 00 00" 0 0
check_log_has "QX Reader, Left 00 00"

scenario "a later success keeps the first failure"
add_reader "QX Solo"
start_pcscd
insert_card_step() { [[ $1 == insert-card ]] && insert_card 0; }
run_js --steps insert_card_step readers/last_error_sticks.js

scenario "pcscd stops while the control lives"
add_reader "QX Solo"
insert_card 0
start_pcscd
stop_pcscd_step() { [[ $1 == stop-pcscd ]] && stop_pcscd; }
run_js --steps stop_pcscd_step readers/service_stops.js "QX Solo 00 00"

finish
