# Debian packages the build, the test bed and the tests need. Sourced by
# scripts/build; installs only what is missing, so a warm machine costs ~1 s.
QARDEX_APT_PACKAGES=(
  cmake make g++ pkg-config
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 wine64-tools libwine-dev
  pcscd libpcsclite-dev pcsc-tools vsmartcard-vpcd
  tinyproxy libssl-dev openssl libgtest-dev libgmock-dev
  iproute2 util-linux procps clang-format dpkg-dev perl
  clang libclang-rt-14-dev ccache
  chromium firefox-esr libnss3-tools zip unzip msitools wixl osslsigncode g++-mingw-w64-i686-posix nodejs
)

qardex_install_packages() {
  local missing=() pkg
  for pkg in "${QARDEX_APT_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
}
