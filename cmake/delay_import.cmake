# qardex_delay_import(TARGET NAME): TARGET loads NAME.dll on its first call into it, not at its
# start, and so from wherever the program allows by then (the installer: the system folder
# only). Takes the place of linking TARGET with NAME. The import list comes from the
# toolchain's own import library, so every function of NAME can be called.
function(qardex_delay_import target name)
  find_library(QARDEX_IMPORT_${name} NAMES lib${name}.a REQUIRED)
  find_program(QARDEX_DLLTOOL ${TOOLCHAIN_PREFIX}-dlltool REQUIRED)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${name}_delay.def)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/lib${name}_delay.a)
  execute_process(COMMAND ${CMAKE_NM} -g ${QARDEX_IMPORT_${name}} OUTPUT_VARIABLE symbols
                  COMMAND_ERROR_IS_FATAL ANY)
  # 64-bit: __imp_Name; 32-bit: __imp__Name@N (stdcall), imported by its bare name.
  set(prefix "__imp_")
  set(options)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix "__imp__")
    set(options --kill-at)
  endif()
  string(REGEX MATCHALL " I ${prefix}[^\n]+" imports "${symbols}")
  list(TRANSFORM imports REPLACE " I ${prefix}" "")
  list(REMOVE_DUPLICATES imports)
  list(JOIN imports "\n" exports)
  file(WRITE ${def} "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n")
  execute_process(COMMAND ${QARDEX_DLLTOOL} --input-def ${def} --output-delaylib ${lib} ${options}
                  COMMAND_ERROR_IS_FATAL ANY)
  target_link_libraries(${target} PRIVATE ${lib})
endfunction()
