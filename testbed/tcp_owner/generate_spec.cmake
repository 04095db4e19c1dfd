# Writes the module's export table: every name Wine's iphlpapi.dll exports, forwarded to its copy
# FORWARD_TO, except the names OWN_SPEC declares, whose lines follow.
#
#   cmake -DOBJDUMP=... -DBUILTIN=... -DFORWARD_TO=... -DOWN_SPEC=... -DOUTPUT=...
#         -P generate_spec.cmake
cmake_minimum_required(VERSION 3.21)
foreach(variable OBJDUMP BUILTIN FORWARD_TO OWN_SPEC OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "generate_spec.cmake: ${variable} is not set")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${BUILTIN} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
string(FIND "${dump}" "[Ordinal/Name Pointer] Table\n" start)
if(NOT status EQUAL 0 OR start EQUAL -1)
  message(FATAL_ERROR "generate_spec.cmake: no export names in ${BUILTIN} (objdump: ${status})")
endif()
# The name table runs up to the next empty line: "\t[   0] AddIPAddress".
string(SUBSTRING "${dump}" ${start} -1 dump)
string(FIND "${dump}" "\n\n" end)
string(SUBSTRING "${dump}" 0 ${end} dump)
string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]*" entries "${dump}")

file(READ ${OWN_SPEC} own_spec)
string(REGEX MATCHALL "\n@ [a-z]+ [A-Za-z0-9_]+" own_entries "\n${own_spec}")
set(own_names "")
foreach(entry IN LISTS own_entries)
  string(REGEX REPLACE ".* " "" name "${entry}")
  list(APPEND own_names ${name})
endforeach()

set(spec "# Generated from ${BUILTIN} by generate_spec.cmake.\n")
set(forwarded 0)
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^[^]]*\\] " "" name "${entry}")
  if(NOT name MATCHES "^[A-Za-z_][A-Za-z0-9_@]*$")
    message(FATAL_ERROR "generate_spec.cmake: cannot forward the export '${name}'")
  endif()
  if(NOT name IN_LIST own_names)
    string(APPEND spec "@ extern ${name} ${FORWARD_TO}.${name}\n")
    math(EXPR forwarded "${forwarded} + 1")
  endif()
endforeach()
if(forwarded EQUAL 0)
  message(FATAL_ERROR "generate_spec.cmake: nothing to forward from ${BUILTIN}")
endif()
file(WRITE ${OUTPUT} "${spec}${own_spec}")
