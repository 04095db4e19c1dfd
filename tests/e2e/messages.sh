#!/usr/bin/env bash
# ZEL_FormatMessage end to end under the ANSI code page 950: the catalogue's Traditional Chinese
# texts, the parameter-error text, and the system's texts for every other number.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../testbed/scenario.sh"
source "$here/../../testbed/scenario_wine_env.sh"
source "$here/card_data/bytes.sh"
scenario_init "$@"
prepare_wine
wine_env LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8

parameter_error="參數錯誤!!!所傳入的參數不是異常代碼"
catalogue=(
  "4061 04061|無法連接服務網站"
  "7001|PC/SC 環境異常"
  "7002 7003|無法存取讀卡機"
  "7004|未置入KAVO卡"
  "8001 8002|讀卡異常"
  "8003 8004 8005 8007 8008|認卡傳輸異常"
  "8006|卡片回傳無法認卡"
  "8009|資料長度不對"
  "8010 8011|讀取基本資料失敗"
  "8013|無法存取KAVO卡，請查明讀卡機是否已插好或是否已置入KAVO卡"
  "8302 8303 8306|PKCS#11異常"
  "8304 8305|Session 建立異常"
)
# Not digits only, or longer than five characters (１２ is fullwidth: not ASCII digits).
not_codes=("123456" "000001" "12a" "-1" " 1" "1 " "+1" "0x10" "１２")
# Numbers without a text of their own: neighbours of the catalogue, 8300/8301, a Winsock number,
# a Windows error with a text ("2"), and the empty string, which reads as 0.
system_codes=("" 0 00000 2 4060 7000 7005 8000 8012 8014 8300 8301 8307 10060 99999)

pair() { printf '%s=%s' "$(units_of_utf8 "$1")" "$(units_of_utf8 "$2")"; }

# system_texts CODE...: "CODE HEX" lines from FormatMessageA in this file's Wine locale.
system_texts() {
  local tool=$QX_E2E_DIR/tools/qardex-e2e-system-message.exe source=$here/card_data/system_message.c
  if [[ ! -f $tool || $source -nt $tool ]]; then
    mkdir -p "$(dirname "$tool")"
    x86_64-w64-mingw32-gcc -O2 -s -o "$tool.$$" "$source" && mv -f "$tool.$$" "$tool" ||
      qx_die "cannot build $tool"
  fi
  wine "$tool" "$@" >"$QX_FILES/system-texts.txt" 2>"$QX_FILES/system-texts.err" ||
    qx_die "$tool failed: $(cat "$QX_FILES/system-texts.err")"
  tr -d '\r' <"$QX_FILES/system-texts.txt"
}

scenario "message texts"
pairs=()
for entry in "${catalogue[@]}"; do
  for code in ${entry%%|*}; do pairs+=("$(pair "$code" "${entry#*|}")"); done
done
for input in "${not_codes[@]}"; do pairs+=("$(pair "$input" "$parameter_error")"); done
declare -A system_text
numbers=()
for input in "${system_codes[@]}"; do numbers+=($((10#${input:-0}))); done
while read -r code hex; do system_text[$code]=$hex; done < <(system_texts "${numbers[@]}")
for input in "${system_codes[@]}"; do
  hex=${system_text[$((10#${input:-0}))]}
  units=$(units_of_cp950 "$hex")
  [[ -n $units || -z $hex ]] || qx_die "iconv cannot read the system text $hex"
  pairs+=("$(units_of_utf8 "$input")=$units")
done
check "the system has a text for 0 and for 2" test -n "${system_text[0]}" -a -n "${system_text[2]}"
run_js card_data/messages.js "${pairs[@]}"

finish
