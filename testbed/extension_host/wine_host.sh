#!/usr/bin/env bash
# The real host for the test bed's browsers, as echo_host.py is the canned one: a profile's
# NativeMessagingHosts/com.qardex.host.json names this file as its path, and it runs
# out/win64/QARDEXHost.exe under Wine with the caller's arguments. The browser hands on the
# environment of the scenario file that started it: WINEPREFIX and the rest of e2e_wine_env (the
# test bed's prefix holds the winscard bridge, so PC/SC reaches the scenario's pcscd). Each start
# ("started ARGUMENTS") and the host's log lines (its standard error) go to $QARDEX_HOST_LOG.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
log=${QARDEX_HOST_LOG:-/dev/null}
[[ -n ${WINEPREFIX:-} ]] || { echo "wine_host.sh: no WINEPREFIX" >>"$log"; exit 1; }
printf 'started %s\n' "$*" >>"$log"
exec wine "$here/../../out/win64/QARDEXHost.exe" "$@" 2>>"$log"
