# Fails when an object of one kernel copy defines an external symbol whose
# name does not carry the copy's target (TAG): the linker could then keep
# that copy's instructions for the other copy's callers, and a CPU without
# the target's instructions would fault.
execute_process(COMMAND ${NM} --defined-only --extern-only ${OBJECTS}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${OBJECTS}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(shared)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
    set(symbol "${CMAKE_MATCH_1}")
    # DW.ref.*: pointers to the runtime's exception personality routine, not code
    if(NOT symbol MATCHES "${TAG}" AND NOT symbol MATCHES "^DW\\.ref\\.")
      list(APPEND shared "${symbol}")
    endif()
  endif()
endforeach()
if(shared)
  list(JOIN shared "\n  " text)
  message(FATAL_ERROR "symbols of the ${TAG} kernels without the target in their name:\n  ${text}")
endif()
