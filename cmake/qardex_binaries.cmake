# What every shipped Windows binary gets: a version resource from the file VERSION, and in
# release builds a stripped file with its debug information kept beside it in debug/NAME.debug
# (linked by .gnu_debuglink). Unused functions and data are dropped at link time for every
# Windows target (-ffunction-sections -fdata-sections, --gc-sections in CMakeLists.txt).
set(QARDEX_DEBUG_DIR ${QARDEX_OUT_DIR}/debug)
file(MAKE_DIRECTORY ${QARDEX_DEBUG_DIR})

# Four numbers for FILEVERSION/PRODUCTVERSION; parts VERSION leaves out are 0.
set(_version_words)
foreach(_part MAJOR MINOR PATCH TWEAK)
  if(PROJECT_VERSION_${_part} STREQUAL "")
    list(APPEND _version_words 0)
  else()
    list(APPEND _version_words ${PROJECT_VERSION_${_part}})
  endif()
endforeach()
string(REPLACE ";" "," QARDEX_VERSION_WORDS "${_version_words}")

# qardex_deliverable(TARGET DESCRIPTION): TARGET is a shipped program or DLL; its own sources
# compile with warnings as errors, like the libraries it links.
function(qardex_deliverable target description)
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "SHARED_LIBRARY")
    set(_file_type VFT_DLL)
    set(_suffix .dll)
  else()
    set(_file_type VFT_APP)
    set(_suffix .exe)
  endif()
  get_target_property(_internal_name ${target} OUTPUT_NAME)
  if(NOT _internal_name)
    set(_internal_name ${target})
  endif()
  set(_file_name ${_internal_name}${_suffix})
  set(_description "${description}")
  set(_version_words ${QARDEX_VERSION_WORDS})
  set(_rc ${QARDEX_GENERATED_DIR}/version/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${_rc} @ONLY)
  target_sources(${target} PRIVATE ${_rc})
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Werror>)

  if(CMAKE_BUILD_TYPE STREQUAL "Release")
    set(_debug ${QARDEX_DEBUG_DIR}/${_internal_name}.debug)
    set(_objcopy ${TOOLCHAIN_PREFIX}-objcopy)
    # The debug file is named relative to the binary, so debuggers find it from debug/.
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${QARDEX_DEBUG_DIR}
      COMMAND ${_objcopy} --only-keep-debug $<TARGET_FILE:${target}> ${_debug}
      COMMAND ${_objcopy} --strip-all $<TARGET_FILE:${target}>
      COMMAND ${CMAKE_COMMAND} -E chdir ${QARDEX_DEBUG_DIR}
              ${_objcopy} --add-gnu-debuglink=${_internal_name}.debug $<TARGET_FILE:${target}>
      COMMENT "Stripping ${_file_name}; debug information in debug/${_internal_name}.debug"
      VERBATIM)
  endif()
endfunction()
