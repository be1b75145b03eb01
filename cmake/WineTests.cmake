# Windows test programs run on this Linux machine: each ctest test runs one
# program under Wine through scripts/wine-peer.sh, which first starts the
# Linux simulator (from another build) at the far end of COM1 with the
# personality the test needs, and ends it afterwards. The Wine prefix, made by
# scripts/windows-tests.sh, maps COM1 to a fixed path where the simulator
# publishes its pseudo-terminal.
set(VELTRA_PEER "" CACHE FILEPATH
  "The Linux veltra-sim (from a Linux build) that plays the device at the far end of COM1")
set(VELTRA_WINEPREFIX "${CMAKE_BINARY_DIR}/wine-prefix" CACHE PATH
  "The Wine prefix the tests run in; scripts/windows-tests.sh makes it")
set(VELTRA_COM1_LINK "${CMAKE_BINARY_DIR}/com1" CACHE FILEPATH
  "The path the prefix's registry gives for COM1; the simulator publishes its pseudo-terminal there")
if(NOT VELTRA_PEER)
  message(FATAL_ERROR "The Windows tests need the Linux simulator: configure with "
                      "-DVELTRA_PEER=<Linux build>/sim/veltra-sim (scripts/windows-tests.sh does)")
endif()

# veltra_wine_test(NAME [NO_PEER] [PEER_ARGS ARG...] [ENVIRONMENT VAR=VALUE...] COMMAND PROGRAM ARG...)
# One ctest test: PROGRAM under Wine, with the simulator started with
# PEER_ARGS, or with none (NO_PEER).
function(veltra_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_PEER" "" "PEER_ARGS;ENVIRONMENT;COMMAND")
  set(runner ${PROJECT_SOURCE_DIR}/scripts/wine-peer.sh)
  set(peer)
  if(NOT arg_NO_PEER)
    set(peer --peer ${VELTRA_PEER} --link ${VELTRA_COM1_LINK})
    foreach(a IN LISTS arg_PEER_ARGS)
      list(APPEND peer --peer-arg ${a})
    endforeach()
  endif()
  add_test(NAME ${name} COMMAND bash ${runner} ${peer} -- ${arg_COMMAND})
  set(environment WINEPREFIX=${VELTRA_WINEPREFIX} WINEDEBUG=-all ${arg_ENVIRONMENT})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT 300)
  if(NOT arg_NO_PEER)
    # One COM1, one simulator at a time.
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK veltra-com1)
  endif()
endfunction()
