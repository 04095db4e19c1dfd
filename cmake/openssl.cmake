# libcrypto and libssl, declared once for every target: Debian's natively, the static ones
# cross-built by scripts/openssl-mingw.sh for Windows. Users link QARDEX_LIBCRYPTO or
# QARDEX_LIBSSL (which brings libcrypto).
#
# Windows has two builds of them (scripts/openssl-mingw.sh): "lean" (libcrypto with only what
# the control and KeyMint use) and "tls" (libcrypto and libssl for the local service). Libraries
# are compiled once against the tls headers, a superset of the lean ones (every OpenSSL 3 type
# they use is opaque, so both archives fit the same objects); which libcrypto.a a program links
# follows the program's own property QARDEX_OPENSSL_TLS, set by qardex_link_tls(). A program of
# the lean kind that calls what the lean build left out fails to link.
if(WIN32)
  set(QARDEX_OPENSSL_LEAN_ROOT "" CACHE PATH "Folder with include/ and lib/libcrypto.a (lean build for mingw-w64)")
  set(QARDEX_OPENSSL_TLS_ROOT "" CACHE PATH "Folder with include/, lib/libcrypto.a and lib/libssl.a (TLS build for mingw-w64)")
  foreach(_library LEAN/libcrypto TLS/libcrypto TLS/libssl)
    string(REGEX MATCH "^[A-Z]+" _flavour ${_library})
    string(REGEX REPLACE "^[A-Z]+/" "" _name ${_library})
    if(NOT EXISTS "${QARDEX_OPENSSL_${_flavour}_ROOT}/lib/${_name}.a")
      message(FATAL_ERROR "QARDEX_OPENSSL_${_flavour}_ROOT holds no ${_name}.a (scripts/build makes one)")
    endif()
  endforeach()
  set(_tls $<BOOL:$<TARGET_PROPERTY:QARDEX_OPENSSL_TLS>>)
  add_library(qardex_libcrypto INTERFACE)
  target_include_directories(qardex_libcrypto INTERFACE "${QARDEX_OPENSSL_TLS_ROOT}/include")
  target_link_libraries(qardex_libcrypto INTERFACE
    "$<IF:${_tls},${QARDEX_OPENSSL_TLS_ROOT}/lib/libcrypto.a,${QARDEX_OPENSSL_LEAN_ROOT}/lib/libcrypto.a>"
    ws2_32 gdi32 crypt32 advapi32 bcrypt user32)
  # An imported archive, so that libcrypto follows it on the link line.
  add_library(qardex_libssl STATIC IMPORTED GLOBAL)
  set_target_properties(qardex_libssl PROPERTIES
    IMPORTED_LOCATION "${QARDEX_OPENSSL_TLS_ROOT}/lib/libssl.a"
    INTERFACE_LINK_LIBRARIES
      "$<$<NOT:${_tls}>:qardex_program_without_QARDEX_OPENSSL_TLS_links_libssl>;qardex_libcrypto")
  set(QARDEX_LIBCRYPTO qardex_libcrypto)
  set(QARDEX_LIBSSL qardex_libssl)
else()
  find_package(OpenSSL REQUIRED)
  set(QARDEX_LIBCRYPTO OpenSSL::Crypto)
  set(QARDEX_LIBSSL OpenSSL::SSL)
endif()

# qardex_link_tls(TARGET): TARGET (a program) links the TLS build of libcrypto and libssl.
function(qardex_link_tls target)
  set_target_properties(${target} PROPERTIES QARDEX_OPENSSL_TLS ON)
endfunction()
