# Static libcrypto (and libssl) for the Windows builds, cross-built from Debian's OpenSSL source
# package with Debian's own patches. Sourced by scripts/build. Each result is cached outside the
# checkout, keyed by source version, CPU, flavour, options and recipe, and built under a lock, so
# a warm run costs about a second.
#
# Two flavours, each configured with only what its users need:
#   lean  libcrypto alone, for QARDEX.dll and KeyMint.exe: RSA, DES, SHA, PEM, PKCS#8 and X509
#         (name constraints included); no sockets, no elliptic curves, compiled for size (the
#         error texts stay: the daily log and KeyMint's messages name failures). Assembler for
#         the big-number code (and GHASH, see qardex_openssl_big_number_assembler_only) only:
#         RSA-1024 key generation spends nearly all its time in Montgomery multiplication, which
#         the assembler makes four times faster for about 46 KB of the 64-bit QARDEX.dll; the
#         assembler of SHA, AES, MD5 and DES would add another 145 KB and gain nothing on the
#         few bytes the control hashes and enciphers. About 1-2 minutes cold on two cores.
#   tls   libcrypto and libssl, for mQARDEXService.exe: TLS 1.2 (ECDHE with AES-GCM) and TLS 1.3,
#         sockets, X25519 and P-256, assembler on. About 2-4 minutes cold on two cores.
# Every function gets its own section so that the linker drops what a program never calls; C
# code without unwind tables, since no exception passes through OpenSSL (on x86_64 the unwind
# entries would reference every function and keep it).
QARDEX_OPENSSL_CACHE=${QARDEX_OPENSSL_CACHE:-/var/cache/qardex/openssl-mingw}
# What neither flavour uses.
QARDEX_OPENSSL_COMMON_OPTIONS="no-shared no-tests no-engine no-module no-legacy
  no-autoload-config no-filenames no-ec2m no-dh no-dsa no-async no-ui-console no-srp no-psk
  no-comp no-ct no-ocsp no-cms no-ts no-srtp no-sm2 no-sm3 no-sm4 no-idea no-seed no-camellia
  no-aria no-bf no-cast no-rc2 no-rc4 no-rc5 no-md4 no-mdc2 no-whirlpool no-siphash no-chacha
  no-poly1305 no-blake2 no-scrypt no-ocb no-siv no-gost no-rfc3779 no-cmp no-rmd160 no-cmac
  no-multiblock -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables
  -fno-unwind-tables"
QARDEX_OPENSSL_LEAN_OPTIONS="no-sock no-ec -Os"
QARDEX_OPENSSL_TLS_OPTIONS="no-ssl3 no-tls1 no-tls1_1 no-dtls no-nextprotoneg no-ssl-trace"
# Changes whenever the way of building changes (patches, steps), so old caches are not reused.
QARDEX_OPENSSL_RECIPE="debian-patches pic-reverted-on-i686 2"
# The same for the lean flavour's own step (qardex_openssl_big_number_assembler_only).
QARDEX_OPENSSL_LEAN_RECIPE="big-number-assembler-only 1"

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

# Unpacks Debian's OpenSSL source with its patches into ./src. On i686 Debian's pic.patch is taken
# back out: its position-independent DES assembler needs an ELF global offset table, which a
# Windows object has not (the assembler fails with a GOTPC relocation).
qardex_openssl_source() {  # CPU
  apt-get source -qq --download-only openssl >/dev/null 2>&1 || apt-get source --download-only openssl
  dpkg-source -x openssl_*.dsc src >/dev/null
  if [ "$1" = i686 ]; then
    patch -s -R -p1 -d src <src/debian/patches/pic.patch
  fi
}

# Switches the assembler of SHA, AES, MD5 and DES off in the unpacked source (current folder);
# the big-number code keeps its own, and with it the CPU detection and GHASH's (the C of GCM
# calls GHASH's assembler whenever the CPU detection is built in). Configure has no option per
# module; each module's build.info picks its assembler files by one condition on the CPU, which
# becomes false. Fails when the count of such conditions is not the one expected of this source.
qardex_openssl_big_number_assembler_only() {
  # shellcheck disable=SC2016 # the pattern matches a literal "$"
  local pattern='^  IF\[\$[A-Z0-9]*ASM_{- \$target{asm_arch} -}\]' files found
  files=(crypto/aes/build.info crypto/des/build.info crypto/md5/build.info crypto/sha/build.info)
  found=$(cat "${files[@]}" | grep -c "$pattern" || true)
  if [ "$found" -ne 5 ]; then
    echo "expected 5 assembler conditions in SHA, AES, MD5 and DES, found $found" >&2
    return 1
  fi
  sed -i "s/$pattern/  IF[0]/" "${files[@]}"
}

# Prints the folder holding include/ and lib/ of one CPU (x86_64 or i686) and flavour (lean or
# tls), building it if needed.
qardex_openssl_mingw() {  # CPU FLAVOUR
  local cpu=$1 flavour=$2 target options libraries recipe=$QARDEX_OPENSSL_RECIPE
  case $cpu in
    x86_64) target=mingw64 ;;
    i686) target=mingw ;;
    *) echo "unknown CPU '$cpu'" >&2; return 1 ;;
  esac
  case $flavour in
    lean)
      options="$QARDEX_OPENSSL_COMMON_OPTIONS $QARDEX_OPENSSL_LEAN_OPTIONS"; libraries="libcrypto.a"
      recipe="$recipe $QARDEX_OPENSSL_LEAN_RECIPE" ;;
    tls) options="$QARDEX_OPENSSL_COMMON_OPTIONS $QARDEX_OPENSSL_TLS_OPTIONS"; libraries="libcrypto.a libssl.a" ;;
    *) echo "unknown OpenSSL flavour '$flavour'" >&2; return 1 ;;
  esac
  qardex_enable_deb_src >&2
  local version key dir
  version=$(apt-cache showsrc openssl 2>/dev/null | awk '/^Version:/{print $2; exit}')
  [ -n "$version" ] || { echo "cannot find the openssl source package" >&2; return 1; }
  key=$(printf '%s|' "$version" "$cpu" "$flavour" "$options" "$libraries" "$recipe" |
    sha256sum | cut -c1-16)
  dir=$QARDEX_OPENSSL_CACHE/$version-$cpu-$flavour-$key
  mkdir -p "$QARDEX_OPENSSL_CACHE"
  (
    flock 9
    if [ ! -f "$dir/.complete" ]; then
      echo "building OpenSSL $version ($flavour) for $cpu-w64-mingw32, once" >&2
      local work start=$SECONDS
      work=$(mktemp -d "$QARDEX_OPENSSL_CACHE/work.XXXXXX")
      (
        set -e
        cd "$work"
        qardex_openssl_source "$cpu"
        cd src
        if [ "$flavour" = lean ]; then qardex_openssl_big_number_assembler_only; fi
        # shellcheck disable=SC2086
        perl Configure $target --cross-compile-prefix=$cpu-w64-mingw32- $options >/dev/null
        make -s -j"$(nproc)" build_generated >/dev/null
        # shellcheck disable=SC2086
        make -s -j"$(nproc)" $libraries >/dev/null
        rm -rf "$dir.tmp"
        mkdir -p "$dir.tmp/lib"
        # shellcheck disable=SC2086
        cp $libraries "$dir.tmp/lib/"
        cp -r include "$dir.tmp/"
        touch "$dir.tmp/.complete"
        rm -rf "$dir"
        mv "$dir.tmp" "$dir"
      ) >&2
      local rc=$?
      rm -rf "$work"
      [ $rc -eq 0 ] || exit 1
      echo "OpenSSL $flavour for $cpu built in $((SECONDS - start)) s" >&2
    fi
  ) 9>"$QARDEX_OPENSSL_CACHE/.lock" || return 1
  printf '%s\n' "$dir"
}
