# shellcheck shell=bash
# Byte conversions for the card-data scenario files. Hexadecimal is lowercase without separators;
# text for a page script is UTF-16, 4 hex digits per code unit, the form the scripts print with
# unitsHex. Code page 950 conversions go through glibc's iconv, independent of Wine's tables.

hex_of_stdin() { od -An -v -tx1 | tr -d ' \n'; }

# Writes the bytes of HEX to stdout (NULs included).
bytes_of_hex() { printf '%b' "$(sed 's/../\\x&/g' <<<"$1")"; }

ascii_hex() { printf '%s' "$1" | hex_of_stdin; }

# The UTF-16 code units of a text written in UTF-8 (this file's own encoding).
units_of_utf8() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16BE | hex_of_stdin; }

# The code page 950 bytes of a text written in UTF-8.
cp950_of_utf8() { printf '%s' "$1" | iconv -f UTF-8 -t CP950 | hex_of_stdin; }

# Code page 950 bytes to UTF-16 code units and back; empty output when iconv refuses the input.
units_of_cp950() { bytes_of_hex "$1" | iconv -f CP950 -t UTF-16BE 2>/dev/null | hex_of_stdin; }
cp950_of_units() { bytes_of_hex "$1" | iconv -f UTF-16BE -t CP950 2>/dev/null | hex_of_stdin; }

# UTF-8 bytes of code page 950 text.
utf8_of_cp950() { bytes_of_hex "$1" | iconv -f CP950 -t UTF-8 2>/dev/null | hex_of_stdin; }

# HEX repeated COUNT times.
repeat_hex() {
  local out="" i
  for ((i = 0; i < $2; i++)); do out+=$1; done
  printf '%s' "$out"
}

# log_has_bytes HEX: the control's daily log holds these bytes (compared byte for byte).
log_has_bytes() { daily_log_text | LC_ALL=C grep -qF -- "$(bytes_of_hex "$1")"; }
