# cmake -DNM=<nm> -DMODULE=<module file> -DEXPECTED=<symbol,symbol...>
#       -P check_exports.cmake
# Fails unless the module's dynamic symbol table defines exactly the expected
# symbols: mexFunction and whatever marker the host requires, nothing else.
execute_process(COMMAND ${NM} -D --defined-only ${MODULE}
                OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} -D --defined-only ${MODULE} failed (${result})")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(defined "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>", the name possibly with a @version suffix.
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] ([^@ ]+)")
    list(APPEND defined ${CMAKE_MATCH_1})
  endif()
endforeach()
string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT defined)
list(SORT expected)
if(NOT defined STREQUAL expected)
  message(FATAL_ERROR "${MODULE} exports [${defined}], expected exactly "
                      "[${expected}]")
endif()
message(STATUS "${MODULE} exports exactly [${expected}]")
