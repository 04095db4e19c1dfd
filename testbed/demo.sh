#!/usr/bin/env bash
# The demonstration behind scripts/demo: one reader with the sample card, the
# test authentication server on auth.qardex.example:443, and examples/demo.js
# run by Wine's script host against the registered control.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/scenario.sh"
source "$here/network.sh"
scenario_init "$@"
prepare_wine
net_init

net_scenario "demo"
add_reader "QARDEX Demo Reader"
insert_card 0
start_pcscd
# One connection for ServiceStatus, one for H_Sign.
start_authserver --modes "accept-close,normal"

output=$QX_WORK/demo.out
wine cscript //nologo "$(winepath -w "$QX_ROOT/examples/demo.js")" >"$output" 2>&1
status=$?
echo "== examples/demo.js (exit $status)"
tr -d '\r' <"$output" | grep -v -E '^$|^Proxy'
echo "== the control's daily log (last lines)"
daily_log_text | tail -n 12
exit "$status"
