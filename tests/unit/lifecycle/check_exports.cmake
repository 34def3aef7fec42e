# Fails unless LIBRARY defines exactly ClientAgentCoreStartUp and
# ClientAgentCoreCleanUp in its dynamic symbol table.
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}: ${errors}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* +[A-Za-z] +(.+)$")
    list(APPEND names "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT names)
if(NOT names STREQUAL "ClientAgentCoreCleanUp;ClientAgentCoreStartUp")
  message(FATAL_ERROR "libagcore defines other symbols than its two entry points: ${names}")
endif()
message(STATUS "libagcore defines only: ${names}")
