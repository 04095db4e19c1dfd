#!/usr/bin/env bash
# GetBasic and GetName end to end under the ANSI code page 950: the six-field line, the name in
# its UTF-8-through-code-page form, NULs inside fields, the failure codes and the log lines.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/scenario_wine_env.sh"
source "$here/card_data/bytes.sh"
scenario_init "$@"
prepare_wine
wine_env LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8

# 張家秀 in Big5. Its UTF-8 bytes pair up into valid code page 950 characters (with a final 0x80,
# a one-byte character there), so iconv can compute GetName's expected text.
name=$(cp950_of_utf8 "張家秀")
blank=20
record_tail=$(ascii_hex "B9876543210781231F1050101") # id, birth date, sex, issue date

# expect_units HEX: the text a page script sees for code page 950 bytes; dies if iconv refuses.
expect_units() {
  local units
  units=$(units_of_cp950 "$1")
  [[ -n $units || -z $1 ]] || qx_die "iconv cannot read $1 as code page 950"
  printf '%s' "${units:--}"
}

# GetName's text: the UTF-8 bytes of the name, read again through code page 950.
expect_name_units() {
  [[ -n $1 ]] || { printf -- '-'; return; }
  local utf8
  utf8=$(utf8_of_cp950 "$1")
  [[ -n $utf8 ]] || qx_die "iconv cannot read the name $1 as code page 950"
  expect_units "$utf8"
}

scenario "three-character Big5 name and 14 blanks"
add_reader "QX Solo"
insert_card 0 0 - <<EOF_CARD
card_number = 000011112222
holder_name_hex = $name $(repeat_hex $blank 14)
id_number = B987654321
birth_date = 0781231
sex = F
card_data_flag = 2
card_data_tail = 345
EOF_CARD
start_pcscd
padded_name=$name$(repeat_hex $blank 14)
run_js card_data/basic_results.js \
  "$(expect_units "$(ascii_hex "000011112222,B987654321,")$padded_name$(ascii_hex ",0781231,F,2")")" \
  "$(expect_name_units "$name")" 0
check "daily log has the basic-data record" \
  log_has_bytes "$(ascii_hex "basic [000011112222")$padded_name$record_tail$(ascii_hex "]")"
check_log_has "hc card data [2345]"

scenario "name of 20 blanks"
add_reader "QX Solo"
insert_card 0 0 - <<<'holder_name = "                    "'
start_pcscd
run_js card_data/basic_results.js \
  "$(units_of_utf8 "000012345678,A123456789,                    ,0650412,M,1")" - 0

# A NUL ends a field: the NUL-padded name keeps its leading blanks, the identity number stops
# at its NUL, and a NUL card-data flag leaves the sixth field empty.
scenario "NUL bytes inside fields"
add_reader "QX Solo"
insert_card 0 0 - <<EOF_CARD
holder_name_hex = 2020 $name $(repeat_hex 00 12)
id_number_hex = $(ascii_hex A1234) 00 $(ascii_hex 6789)
card_data_flag_hex = 00
EOF_CARD
start_pcscd
run_js card_data/basic_results.js \
  "$(expect_units "$(ascii_hex "000012345678,A1234,  ")$name$(ascii_hex ",0650412,M,")")" \
  "$(expect_name_units "2020$name")" 0
check "daily log has the record up to the first NUL" \
  log_has_bytes "$(ascii_hex "basic [000012345678  ")$name$(ascii_hex "]")"
check_log_has "hc card data []"

scenario "basic-data read refused"
add_reader "QX Solo"
insert_card 0 0 - <<<"refuse.read_basic = 6A82"
start_pcscd
run_js card_data/basic_results.js "$(units_of_utf8 8011)" "$(units_of_utf8 8011)" 8011
check_log_has "Select HC OK!"
check_log_lacks "basic ["

scenario "card-data read refused"
add_reader "QX Solo"
insert_card 0 0 - <<<"refuse.read_card_data = 6A82"
start_pcscd
run_js card_data/basic_results.js "$(units_of_utf8 8010)" "$(units_of_utf8 8010)" 8010
check_log_has "basic [000012345678"
check_log_lacks "hc card data ["

scenario "basic-data record one byte short"
add_reader "QX Solo"
insert_card 0 0 - <<<"short.read_basic = 56"
start_pcscd
run_js card_data/basic_results.js "$(units_of_utf8 8011)" "$(units_of_utf8 8011)" 8011
check_log_lacks "basic ["

scenario "card data without its flag byte"
add_reader "QX Solo"
insert_card 0 0 - <<<"short.read_card_data = 0"
start_pcscd
run_js card_data/basic_results.js "$(units_of_utf8 8010)" "$(units_of_utf8 8010)" 8010
check_log_lacks "hc card data ["

scenario "reader without a card"
add_reader "QX Solo"
start_pcscd
run_js card_data/basic_results.js "$(units_of_utf8 8013)" "$(units_of_utf8 8013)" 8013

scenario "a card inserted after a failure"
add_reader "QX Solo"
start_pcscd
insert_card_step() { [[ $1 == insert-card ]] && insert_card 0; }
run_js --steps insert_card_step card_data/later_success.js

scenario "pcscd absent"
run_js card_data/basic_results.js "$(units_of_utf8 8013)" "$(units_of_utf8 8013)" 8013

finish
