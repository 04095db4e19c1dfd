# The export lists (.spec files) of the installed Wine's DLLs, from Wine's Debian source package:
# scripts/check-win32 checks the Windows binaries' imports against them. Fetched once per Wine
# version into a cache outside the checkout, under a lock.
source "$(dirname "${BASH_SOURCE[0]}")/openssl-mingw.sh"  # qardex_enable_deb_src
QARDEX_WINE_SPEC_CACHE=${QARDEX_WINE_SPEC_CACHE:-/var/cache/qardex/wine-spec}

# Prints the folder with dlls/NAME/NAME.spec of the installed Wine's source, fetching it once.
qardex_wine_specs() {
  local version dir
  version=$(dpkg-query -W -f='${source:Version}' wine 2>/dev/null)
  [ -n "$version" ] || { echo "wine is not installed" >&2; return 1; }
  dir=$QARDEX_WINE_SPEC_CACHE/$version
  mkdir -p "$QARDEX_WINE_SPEC_CACHE"
  (
    flock 9
    [ -f "$dir/.complete" ] && exit 0
    qardex_enable_deb_src >&2
    local work
    work=$(mktemp -d "$QARDEX_WINE_SPEC_CACHE/work.XXXXXX")
    (
      set -e
      cd "$work"
      apt-get source -qq --download-only "wine=$version" >/dev/null 2>&1 ||
        apt-get source --download-only "wine=$version" >&2
      mkdir specs
      tar -xJf wine_*.orig.tar.xz -C specs --strip-components=1 --wildcards --no-anchored \
        'dlls/*.spec'
      touch specs/.complete
      rm -rf "$dir"
      mv specs "$dir"
    )
    local rc=$?
    rm -rf "$work"
    exit $rc
  ) 9>"$QARDEX_WINE_SPEC_CACHE/.lock" || return 1
  printf '%s\n' "$dir"
}
