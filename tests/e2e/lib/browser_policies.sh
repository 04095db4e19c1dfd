# shellcheck shell=bash
# Batch files and browser-policy checks under Wine, for the scenario files that look at what
# FoxTrust.cmd and FoxUntrust.cmd leave in the registry (tests/e2e/keymint.sh,
# tests/e2e/local_install.sh). Needs WINEPREFIX (e2e_wine_env), QX_ROOT_DIR (the checkout) and
# work, a folder for the batch files and their output.
#
#   run NAME LINES...     the lines as NAME.cmd, run by Wine's cmd; output (CR removed) in
#                         $work/NAME.out, exit code in $status
#   state                 every policy key and value, and the installer's record
#   values KEY            "NAME TYPE DATA" lines of one key
#   list_is KEY DATA...   the numbered values 1, 2, ... of KEY hold exactly DATA
#   origins               the approved sites with fixed names ("scheme://host"), table order
#   listed PORT...        what FoxTrust lists when LocalhostPorts names PORT...: http://localhost
#                         with each port, then the other fixed names

policies='HKLM\SOFTWARE\Policies'
firefox="$policies\\Mozilla\\Firefox\\Certificates"
chrome="$policies\\Google\\Chrome\\LocalNetworkAccessAllowedForUrls"
edge="$policies\\Microsoft\\Edge\\LocalNetworkAccessAllowedForUrls"
chrome_loopback="$policies\\Google\\Chrome\\LoopbackNetworkAllowedForUrls"
edge_loopback="$policies\\Microsoft\\Edge\\LoopbackNetworkAllowedForUrls"
firefox_skip="$policies\\Mozilla\\Firefox\\LocalNetworkAccess\\SkipDomains"
# Read from the table by a parser of the tests' own.
mapfile -t origins < <(grep -oE '\{SiteKind::Allow, L"[a-z]+", L"[^"*]+"' "$QX_ROOT_DIR/sitelock/approved_sites.h" |
  sed -E 's/.*L"([a-z]+)", L"([^"]+)"/\1:\/\/\2/')
((${#origins[@]} > 1)) || e2e_die "no fixed-name approved sites found"
[[ ${origins[0]} == http://localhost ]] || e2e_die "the approved-site list no longer begins with http://localhost"
listed() { local port; for port in "$@"; do echo "http://localhost:$port"; done; printf '%s\n' "${origins[@]:1}"; }

run() {
  local name=$1
  shift
  printf '%s\r\n' "$@" >"$work/$name.cmd"
  (cd "$work" && wine cmd /c "$(winepath -w "$work/$name.cmd")" >"$work/$name.raw" 2>&1)
  status=$?
  tr -d '\r' <"$work/$name.raw" >"$work/$name.out"
}
state() { run state "@reg query $policies /s" '@reg query HKLM\SOFTWARE\QARDEX /s'; cat "$work/state.out"; }
values() { run values "@reg query $1"; sed -nE 's/^    (.*)    (REG_[A-Z_]+)    (.*)$/\1 \2 \3/p' "$work/values.out"; }
list_is() {
  local expected="" i=0 data
  for data in "${@:2}"; do i=$((i + 1)); expected+="$i REG_SZ $data"$'\n'; done
  [[ $(values "$1")$'\n' == "$expected" ]] || { qx_say "    $1: $(values "$1" | tr '\n' ';')"; false; }
}
