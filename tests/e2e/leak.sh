#!/usr/bin/env bash
# Resource use under load: 2,000 calls of each implemented method in one script host, with a
# card present, must leave its handle count and private bytes flat (within a tolerance). The
# numbers are printed for the record. ServiceStatus is left out: each call prints three proxy
# lines, which would swamp the output.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/scenario_wine_env.sh"
source "$here/card_data/bytes.sh"
scenario_init "$@"
prepare_wine
wine_env LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8

calls=2000
warm_up_calls=100
# Measured growth was 0 handles and 0 bytes for every method. Keeping 2,000 script strings of 16
# characters grows private bytes by about 290 KB, so 256 KB catches a leak of ~128 bytes a call.
handle_bound=5
byte_bound=$((256 * 1024))

scenario "$calls calls of each method"
add_reader "QX Solo"
insert_card 0 0 - <<EOF_CARD
holder_name_hex = $(cp950_of_utf8 "張家秀") $(repeat_hex 20 14)
EOF_CARD
start_pcscd
run_js card_data/leak.js "$calls" "$warm_up_calls" \
  "$(winepath -w "$QX_ROOT/out/win64/procstat.exe")" "$(winepath -w "$QX_FILES/procstat.txt")" \
  "$handle_bound" "$byte_bound"

finish
