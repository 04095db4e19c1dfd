# Writes the module's export table: every name Wine's iphlpapi.dll exports, forwarded to its copy
# FORWARD_TO, except the names OWN_EXPORTS declares, whose lines follow.
#
#   cmake -DOBJDUMP=... -DBUILTIN=... -DFORWARD_TO=... -DOWN_EXPORTS=... -DOUTPUT=...
#         -P forward_exports.cmake
cmake_minimum_required(VERSION 3.21)
foreach(variable OBJDUMP BUILTIN FORWARD_TO OWN_EXPORTS OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "forward_exports.cmake: ${variable} is not set")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${BUILTIN} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
string(FIND "${dump}" "[Ordinal/Name Pointer] Table\n" start)
if(NOT status EQUAL 0 OR start EQUAL -1)
  message(FATAL_ERROR "forward_exports.cmake: no export names in ${BUILTIN} (objdump: ${status})")
endif()
# The name table runs up to the next empty line: "\t[   0] AddIPAddress".
string(SUBSTRING "${dump}" ${start} -1 dump)
string(FIND "${dump}" "\n\n" end)
string(SUBSTRING "${dump}" 0 ${end} dump)
string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]*" entries "${dump}")

file(READ ${OWN_EXPORTS} own_table)
string(REGEX MATCHALL "\n@ [a-z]+ [A-Za-z0-9_]+" own_entries "\n${own_table}")
set(own_names "")
foreach(entry IN LISTS own_entries)
  string(REGEX REPLACE ".* " "" name "${entry}")
  list(APPEND own_names ${name})
endforeach()

set(table "# Generated from ${BUILTIN} by forward_exports.cmake.\n")
set(forwarded 0)
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^[^]]*\\] " "" name "${entry}")
  if(NOT name MATCHES "^[A-Za-z_][A-Za-z0-9_@]*$")
    message(FATAL_ERROR "forward_exports.cmake: cannot forward the export '${name}'")
  endif()
  if(NOT name IN_LIST own_names)
    string(APPEND table "@ extern ${name} ${FORWARD_TO}.${name}\n")
    math(EXPR forwarded "${forwarded} + 1")
  endif()
endforeach()
if(forwarded EQUAL 0)
  message(FATAL_ERROR "forward_exports.cmake: nothing to forward from ${BUILTIN}")
endif()
file(WRITE ${OUTPUT} "${table}${own_table}")
