# Static libcrypto and libssl for the Windows build, cross-built from Debian's
# OpenSSL source package. Sourced by scripts/build. The result is cached outside
# the checkout, keyed by source version, options and the libraries made, and
# built under a lock, so a warm run costs about a second (a cold one about seven
# minutes on two cores).
#
# libssl serves the local service's TLS 1.2 and 1.3: sockets and elliptic-curve
# key exchange (X25519, P-256) stay in; binary curves, finite-field DH and the
# rest of what neither the control nor the service uses are left out.
QARDEX_OPENSSL_CACHE=${QARDEX_OPENSSL_CACHE:-/var/cache/qardex/openssl-mingw}
QARDEX_OPENSSL_OPTIONS="no-shared no-tests no-engine no-module no-legacy no-autoload-config
  no-filenames no-ec2m no-dh no-dsa no-async no-ui-console no-srp no-psk no-comp
  no-ct no-ocsp no-cms no-ts no-srtp no-sm2 no-sm3 no-sm4 no-idea no-seed no-camellia
  no-aria no-bf no-cast no-rc2 no-rc4 no-rc5 no-md4 no-mdc2 no-whirlpool no-siphash
  no-chacha no-poly1305 no-blake2 no-scrypt no-ocb no-siv no-gost"

# Adds a deb-src stanza mirroring the bookworm deb stanza, once.
qardex_enable_deb_src() {
  local sources=/etc/apt/sources.list.d/qardex-src.sources
  [ -f "$sources" ] && return 0
  local stanza
  stanza=$(awk 'BEGIN{RS="";ORS="\n\n"} /Types: deb/ && /Suites: bookworm( |$)/' \
    /etc/apt/sources.list.d/debian.sources 2>/dev/null | sed 's/^Types: deb$/Types: deb-src/')
  if [ -z "$stanza" ]; then
    stanza="Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
  fi
  printf '%s\n' "$stanza" >"$sources"
  apt-get update -qq
}

QARDEX_OPENSSL_LIBRARIES="libcrypto.a libssl.a"

# Prints the folder holding include/, lib/libcrypto.a and lib/libssl.a, building them if needed.
qardex_openssl_mingw() {
  qardex_enable_deb_src >&2
  local version key dir
  version=$(apt-cache showsrc openssl 2>/dev/null | awk '/^Version:/{print $2; exit}')
  [ -n "$version" ] || { echo "cannot find the openssl source package" >&2; return 1; }
  key=$(printf '%s %s %s' "$version" "$QARDEX_OPENSSL_OPTIONS" "$QARDEX_OPENSSL_LIBRARIES" |
    sha256sum | cut -c1-16)
  dir=$QARDEX_OPENSSL_CACHE/$version-$key
  mkdir -p "$QARDEX_OPENSSL_CACHE"
  (
    flock 9
    if [ ! -f "$dir/lib/libcrypto.a" ] || [ ! -f "$dir/lib/libssl.a" ]; then
      echo "building libcrypto and libssl $version for mingw-w64 (about seven minutes, once)" >&2
      local work
      work=$(mktemp -d "$QARDEX_OPENSSL_CACHE/work.XXXXXX")
      (
        set -e
        cd "$work"
        apt-get source -qq --download-only openssl >/dev/null 2>&1 || apt-get source --download-only openssl
        dpkg-source -x --skip-patches openssl_*.dsc src >/dev/null 2>&1 || dpkg-source -x openssl_*.dsc src >/dev/null
        cd src
        # shellcheck disable=SC2086
        perl Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- $QARDEX_OPENSSL_OPTIONS >/dev/null
        make -s -j"$(nproc)" build_generated >/dev/null
        # shellcheck disable=SC2086
        make -s -j"$(nproc)" $QARDEX_OPENSSL_LIBRARIES >/dev/null
        rm -rf "$dir.tmp"
        mkdir -p "$dir.tmp/lib"
        # shellcheck disable=SC2086
        cp $QARDEX_OPENSSL_LIBRARIES "$dir.tmp/lib/"
        cp -r include "$dir.tmp/"
        rm -rf "$dir"
        mv "$dir.tmp" "$dir"
      ) >&2
      local rc=$?
      rm -rf "$work"
      [ $rc -eq 0 ] || exit 1
    fi
  ) 9>"$QARDEX_OPENSSL_CACHE/.lock" || return 1
  printf '%s\n' "$dir"
}
