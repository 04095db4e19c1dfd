# Include folders per target. A product library publishes only its own folder, as
# "<folder>/<file>.h", through a link in the build tree; its users reach it through
# target_link_libraries. An include of a folder the target does not link fails to compile, so
# the link graph (checked by scripts/check-layers to run downwards only) is the include graph.
set(QARDEX_INCLUDE_ROOTS ${CMAKE_BINARY_DIR}/include-roots)

# qardex_product(TARGET FOLDER): TARGET holds product code of FOLDER (warnings are errors) and
# publishes FOLDER's headers to its users.
function(qardex_product target folder)
  set(root ${QARDEX_INCLUDE_ROOTS}/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Werror>)
  endif()
endfunction()
