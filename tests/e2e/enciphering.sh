#!/usr/bin/env bash
# EnCrypt and SecureGetBasicWithParam end to end under the ANSI code page 950: results deciphered
# with qardex-tool (and, for the single-DES equivalence, with openssl), the length limits, which
# touch no card, and the failure codes.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/scenario_wine_env.sh"
source "$here/card_data/bytes.sh"
scenario_init "$@"
prepare_wine

# A zone whose date differs from the UTC date for at least an hour from now, so that a key made
# from the wrong one of the two dates cannot decipher.
if (($(date -u +%-H) < 11)); then zone=Etc/GMT+12; else zone=Etc/GMT-14; fi
wine_env LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8 TZ=$zone

card_number=000098765432
name=$(cp950_of_utf8 "張家秀")
double12="張家秀張家秀張家秀張家秀"
double6="張家秀張家秀"
inputs=(ABCDEF ABCDEFG ABCDEFGH ABCDEFGHIJKL "$double12" "$double6")
digits=(32 32 48 48 80 48)

# check_same DESCRIPTION GOT EXPECTED
check_same() {
  if [[ $2 == "$3" ]]; then pass "$1"; else fail "$1: got '$2', expected '$3'"; fi
}

# des_ecb_decrypt HEX KEY: single-DES ECB deciphering without padding, as hex.
des_ecb_decrypt() {
  bytes_of_hex "$1" | openssl enc -d -des-ecb -nopad -nosalt -K "$2" \
    -provider legacy -provider default | hex_of_stdin
}

# The plaintext of spread blocks: seven data bytes and a filler of 0 to 98 (0x62) per block.
# Prints the data bytes; fails when a filler is out of range.
spread_data() {
  local hex=$1 data="" i
  for ((i = 0; i < ${#hex}; i += 16)); do
    data+=${hex:i:14}
    ((16#${hex:i+14:2} <= 0x62)) || return 1
  done
  printf '%s' "$data"
}

# check_encrypt INDEX LOCALDATE HEX (INDEX counts the inputs from 1)
check_encrypt() {
  local input=${inputs[$1 - 1]} deciphered
  deciphered=$("$QX_NATIVE/qardex-tool" decrypt-encrypt --card-number "$card_number" \
    --date "$2" "$3" | hex_of_stdin)
  check_same "EnCrypt of \"$input\" deciphers to its code page 950 bytes" \
    "${deciphered%0a}" "$(cp950_of_utf8 "$input")"
}

# check_secure UTCDATE HEX: the line through qardex-tool, then through single DES under the
# key's first third ("MMDDYYYY"), is GetBasic's line followed by zero bytes.
check_secure() {
  local day=$1 hex=$2 deciphered plain data blocks
  deciphered=$("$QX_NATIVE/qardex-tool" decrypt-basic --date "$day" "$hex" | hex_of_stdin)
  check_same "SecureGetBasicWithParam deciphers to GetBasic's bytes" "${deciphered%0a}" "$basic"
  plain=$(des_ecb_decrypt "$hex" "$(ascii_hex "${day:4:2}${day:6:2}${day:0:4}")")
  blocks=$(((${#basic} / 2 + 6) / 7))
  if data=$(spread_data "$plain"); then
    pass "every eighth byte is a filler of 0 to 98"
  else
    fail "every eighth byte is a filler of 0 to 98: $plain"
  fi
  check_same "single DES under the date's first 8 bytes gives the line and zero bytes" \
    "$data" "$basic$(repeat_hex 00 $((blocks * 7 - ${#basic} / 2)))"
}

scenario "card present"
add_reader "QX Solo"
insert_card 0 0 - <<EOF_CARD
card_number = $card_number
holder_name_hex = $name $(repeat_hex 20 14)
EOF_CARD
start_pcscd
args=()
for i in "${!inputs[@]}"; do args+=("$(units_of_utf8 "${inputs[i]}")=${digits[i]}"); done
results=$QX_FILES/enciphered.txt
run_js card_data/encipher.js "$(winepath -w "$results")" "${args[@]}"
tr -d '\r' <"$results" >"$results.unix"
basic=$(cp950_of_units "$(awk '$1 == "basic" { print $2 }' "$results.unix")")
check_same "GetBasic gave the card's line" "$basic" \
  "$(ascii_hex "$card_number,A123456789,")$name$(repeat_hex 20 14)$(ascii_hex ",0650412,M,1")"
read -r _ local_day utc_day < <(grep '^days ' "$results.unix")
check "the run's local date ($local_day, $zone) differs from its UTC date ($utc_day)" \
  test "$local_day" != "$utc_day"
while read -r -u 3 kind a b c; do
  case $kind in
    encrypt) check_encrypt "$a" "$b" "$c" ;;
    secure) check_secure "$a" "$b" ;;
  esac
done 3<"$results.unix"
check "two SecureGetBasicWithParam results have one length" \
  test "$(awk '$1 == "secure" { print length($3) }' "$results.unix" | sort -u | wc -l)" = 1

scenario "wrong lengths"
add_reader "QX Solo"
insert_card 0
start_pcscd
no_apdus_step() {
  [[ $1 == no-apdus ]] && check "the card saw no APDU from those calls" test ! -s "$(apdu_log 0)"
}
run_js --steps no_apdus_step card_data/encrypt_lengths.js
check "the card then saw READ BASIC DATA" grep -q '^00CA110002000000 -> ' "$(apdu_log 0)"

scenario "card-data read refused"
add_reader "QX Solo"
insert_card 0 0 - <<<"refuse.read_card_data = 6A82"
start_pcscd
run_js card_data/encipher_refusals.js hex 8010

scenario "basic-data read refused"
add_reader "QX Solo"
insert_card 0 0 - <<<"refuse.read_basic = 6A82"
start_pcscd
run_js card_data/encipher_refusals.js 8011 8011

scenario "reader without a card"
add_reader "QX Solo"
start_pcscd
run_js card_data/encipher_refusals.js 8013 8013

finish
