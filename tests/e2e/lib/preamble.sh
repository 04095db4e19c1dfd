# The preamble every end-to-end scenario runner sources (the control's testbed/scenario.sh and
# the installer's tests/e2e/installer/lib.sh): pass and fail counting (every check prints one
# line, and a file ends with "N passed, M failed" from finish), leaving on a broken set-up,
# the Wine environment and the lock of a Wine prefix.

QX_PASSED=0
QX_FAILED=0
QX_SCENARIO="" # named in failure lines

qx_say() { printf '%s\n' "$*"; }

pass() {
  QX_PASSED=$((QX_PASSED + 1))
  qx_say "  ok   $*"
}

fail() {
  QX_FAILED=$((QX_FAILED + 1))
  qx_say "  FAIL ${QX_SCENARIO:+[$QX_SCENARIO] }$*"
}

# check DESCRIPTION COMMAND [ARGS...]: passes when the command succeeds.
check() {
  local description=$1
  shift
  if "$@"; then pass "$description"; else fail "$description"; fi
}

# Prints the summary line and leaves with status 1 if anything failed.
finish() {
  qx_say "$QX_PASSED passed, $QX_FAILED failed"
  [[ $QX_FAILED -eq 0 ]] && exit 0
  exit 1
}

# Leaves at once on a broken set-up (not a failed check): status 2.
e2e_die() {
  printf 'scenario: %s\n' "$*" >&2
  exit 2
}

# e2e_wine_env PREFIX: 64-bit Wine in PREFIX, quiet, no display, no proxy from the host.
e2e_wine_env() {
  export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy
}

# Wine 8 keeps no event log: a program run with WINEDEBUG=$E2E_EVENT_DEBUG prints, for each
# ReportEventW, its event number on the advapi channel's fixme line and its text on the next, the
# eventlog channel's. e2e_events FILE: those events of a standard error, in order, one line each:
# the number, then the text. e2e_event_id NAME: the number as the programs have it, from the header
# windmc made of the message file.
E2E_EVENT_DEBUG=-all,+eventlog,fixme+advapi
E2E_EVENT_HEADER=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)/build/win64/generated/events/service_events.h
e2e_events() {
  awk '/fixme:advapi:ReportEventW/ { split($0, a, ","); id = a[4]; next }
    id != "" && /:eventlog:ReportEventW/ { sub(/^[^"]*"/, ""); sub(/"$/, ""); print id, $0; id = "" }' "$1"
}
e2e_event_id() {
  awk -v name="$1" '$2 == name { print tolower($4) }' "$E2E_EVENT_HEADER"
}

# e2e_prefix PREFIX: WINEPREFIX=PREFIX (e2e_wine_env), a booted 64-bit prefix in a moment: a
# copy-on-write layer (overlayfs) over a prefix booted once per Wine version and kept in
# QARDEX_WINE_TEMPLATES (a cache like OpenSSL's). Needs a private mount namespace. The layer
# (PREFIX.layer) keeps the scenario's changes between runs; QARDEX_E2E_FRESH=1 or a new template
# starts it empty. The template's boot ends with its wineserver stopped: the session that boots a
# prefix keeps the service database locked and fails program starts for a while.
e2e_prefix() {
  local prefix=$1 layer=$1.layer templates=${QARDEX_WINE_TEMPLATES:-/var/cache/qardex/wine-prefix}
  local template version
  [[ $(readlink /proc/self/ns/mnt) != "$(readlink /proc/1/ns/mnt)" ]] ||
    e2e_die "e2e_prefix needs a private mount namespace"
  version=$(wine --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' _)
  [[ -n $version ]] || e2e_die "wine is not installed"
  template=$templates/$version-win64
  if [[ ! -f $template/complete ]]; then
    e2e_lock "$templates/lock" 300 "the Wine prefix template"
    if [[ ! -f $template/complete ]]; then
      rm -rf "$template" && mkdir -p "$template/prefix"
      (
        e2e_wine_env "$template/prefix"
        wineboot --init >"$template/boot.log" 2>&1 && wineserver -k >/dev/null 2>&1
        wineserver -w >/dev/null 2>&1
        [[ -f $WINEPREFIX/system.reg ]]
      ) || { rm -rf "$templates/lock"; e2e_die "wineboot of the template failed, see $template/boot.log"; }
      touch "$template/complete"
    fi
    rm -rf "$templates/lock"
  fi
  e2e_wine_env "$prefix"
  if mountpoint -q "$prefix"; then
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    umount "$prefix" || e2e_die "cannot unmount $prefix"
  fi
  if [[ ${QARDEX_E2E_FRESH:-} == 1 || $(cat "$layer/template" 2>/dev/null) != "$template" ]]; then
    rm -rf "$layer" "$prefix"
    mkdir -p "$layer/upper" "$layer/work" && echo "$template" >"$layer/template"
  fi
  mkdir -p "$prefix"
  mount -t overlay qardex-prefix \
    -o "lowerdir=$template/prefix,upperdir=$layer/upper,workdir=$layer/work" "$prefix" ||
    e2e_die "cannot mount the prefix layer on $prefix"
}

# e2e_tcp_owner LOG: the test bed's stand-in that tells which process owns a TCP connection (the
# service asks for every caller), installed into $WINEPREFIX unless the same module is there.
e2e_tcp_owner() {
  local top module
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
  module=${QX_NATIVE:-$top/out/native}/iphlpapi.dll.so
  cmp -s "$module" "$WINEPREFIX/.tcp-owner" && return 0
  "$top/testbed/tcp_owner/install-tcp-owner" "$WINEPREFIX" "$module" >"$1" 2>&1 ||
    e2e_die "installing the TCP owner stand-in failed: $(tail -n 5 "$1")"
  cp "$module" "$WINEPREFIX/.tcp-owner"
}

# e2e_lock LOCK SECONDS WHAT: takes the lock directory LOCK, recording this process, so that
# two scenario files never share one wineserver; waits at most SECONDS for another owner. A
# lock whose owner is gone is taken over. (A flock descriptor would be inherited by wineserver
# and pcscd and outlive the owner.)
e2e_lock() {
  local lock=$1 deadline=$((SECONDS + $2)) owner
  mkdir -p "$(dirname "$lock")"
  until mkdir "$lock" 2>/dev/null; do
    owner=$(cat "$lock/pid" 2>/dev/null)
    # No owner recorded a few seconds after the lock was made: its owner died in between.
    if [[ -n $owner ]] && ! kill -0 "$owner" 2>/dev/null ||
      [[ -z $owner && -n $(find "$lock" -maxdepth 0 -mmin +0.1 2>/dev/null) ]]; then
      rm -rf "$lock"
      continue
    fi
    [[ $SECONDS -lt $deadline ]] || e2e_die "$3 stays locked by process $owner"
    sleep 0.2
  done
  echo $$ >"$lock/pid"
}

# e2e_namespaces SCRIPT [ARGS...]: re-executes the scenario file in private mount and network
# namespaces (once; the loopback interface up), so that its programs may listen on the local
# service's fixed port and a private /etc/hosts may map names.
e2e_namespaces() {
  [[ $(id -u) -eq 0 ]] || e2e_die "needs root (private namespaces)"
  if [[ -z ${QX_IN_NAMESPACE:-} ]]; then
    export QX_IN_NAMESPACE=1
    # Without address-space randomisation: with it, about one Wine process start in 3,000 failed
    # under load (the new process died in its start-up, CreateProcess: ERROR_INTERNAL_ERROR),
    # and a batch file then went on without the command it could not start.
    exec setarch "$(uname -m)" --addr-no-randomize unshare --mount --net --propagation private \
      bash "$@"
  fi
  ip link set lo up || e2e_die "cannot bring up the loopback interface"
}

# e2e_private_hosts FILE [NAME...]: FILE, mapping localhost and each NAME to 127.0.0.1, takes the
# place of /etc/hosts in the namespace (Wine and curl resolve names through it).
e2e_private_hosts() {
  local file=$1 name
  shift
  printf '127.0.0.1 localhost\n::1 localhost\n' >"$file"
  for name in "$@"; do printf '127.0.0.1 %s\n' "$name" >>"$file"; done
  mount --bind "$file" /etc/hosts || e2e_die "cannot bind a private /etc/hosts"
}
