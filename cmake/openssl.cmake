# libcrypto and libssl, declared once for every target: Debian's natively, the static ones
# cross-built by scripts/openssl-mingw.sh for Windows. Users link QARDEX_LIBCRYPTO or
# QARDEX_LIBSSL (which brings libcrypto).
if(WIN32)
  set(QARDEX_OPENSSL_MINGW_ROOT "" CACHE PATH "Folder with include/ and lib/libcrypto.a, lib/libssl.a built for mingw-w64")
  foreach(_library libcrypto libssl)
    if(NOT EXISTS "${QARDEX_OPENSSL_MINGW_ROOT}/lib/${_library}.a")
      message(FATAL_ERROR "QARDEX_OPENSSL_MINGW_ROOT holds no ${_library}.a (scripts/build makes one)")
    endif()
  endforeach()
  add_library(qardex_libcrypto STATIC IMPORTED GLOBAL)
  set_target_properties(qardex_libcrypto PROPERTIES
    IMPORTED_LOCATION "${QARDEX_OPENSSL_MINGW_ROOT}/lib/libcrypto.a"
    INTERFACE_INCLUDE_DIRECTORIES "${QARDEX_OPENSSL_MINGW_ROOT}/include"
    INTERFACE_LINK_LIBRARIES "ws2_32;gdi32;crypt32;advapi32;bcrypt;user32")
  add_library(qardex_libssl STATIC IMPORTED GLOBAL)
  set_target_properties(qardex_libssl PROPERTIES
    IMPORTED_LOCATION "${QARDEX_OPENSSL_MINGW_ROOT}/lib/libssl.a"
    INTERFACE_LINK_LIBRARIES qardex_libcrypto)
  set(QARDEX_LIBCRYPTO qardex_libcrypto)
  set(QARDEX_LIBSSL qardex_libssl)
else()
  find_package(OpenSSL REQUIRED)
  set(QARDEX_LIBCRYPTO OpenSSL::Crypto)
  set(QARDEX_LIBSSL OpenSSL::SSL)
endif()
