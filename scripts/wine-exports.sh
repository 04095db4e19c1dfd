# The export lists of the installed Wine's DLLs (in Wine's Debian source package, each DLL's list
# is dlls/NAME/NAME with the extension of Wine's export-list format): scripts/check-win32 checks
# the Windows binaries' imports against them. Fetched once per Wine version into a cache outside
# the checkout, under a lock.
source "$(dirname "${BASH_SOURCE[0]}")/openssl-mingw.sh"  # qardex_enable_deb_src
QARDEX_WINE_EXPORTS_CACHE=${QARDEX_WINE_EXPORTS_CACHE:-/var/cache/qardex/wine-exports}
# Matches the extension of Wine's export lists, and nothing else under dlls/.
QARDEX_WINE_EXPORTS_PATTERN='*.s[p]ec'

# Prints the folder with the export lists (dlls/NAME/NAME.*) of the installed Wine's source,
# fetching it once.
qardex_wine_export_lists() {
  local version dir
  version=$(dpkg-query -W -f='${source:Version}' wine 2>/dev/null)
  [ -n "$version" ] || { echo "wine is not installed" >&2; return 1; }
  dir=$QARDEX_WINE_EXPORTS_CACHE/$version
  mkdir -p "$QARDEX_WINE_EXPORTS_CACHE"
  (
    flock 9
    [ -f "$dir/.complete" ] && exit 0
    qardex_enable_deb_src >&2
    local work
    work=$(mktemp -d "$QARDEX_WINE_EXPORTS_CACHE/work.XXXXXX")
    (
      set -e
      cd "$work"
      apt-get source -qq --download-only "wine=$version" >/dev/null 2>&1 ||
        apt-get source --download-only "wine=$version" >&2
      mkdir lists
      tar -xJf wine_*.orig.tar.xz -C lists --strip-components=1 --wildcards --no-anchored \
        "dlls/$QARDEX_WINE_EXPORTS_PATTERN"
      touch lists/.complete
      rm -rf "$dir"
      mv lists "$dir"
    )
    local rc=$?
    rm -rf "$work"
    exit $rc
  ) 9>"$QARDEX_WINE_EXPORTS_CACHE/.lock" || return 1
  printf '%s\n' "$dir"
}
