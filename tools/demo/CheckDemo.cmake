# SPDX-License-Identifier: GPL-3.0-or-later
# The demo's own test: runs tarnbeck-demo with the probe as its program, once
# to the end and once interrupted, and checks the server is gone each time.
# Takes DEMO, PROBE and DIR.
execute_process(COMMAND ${PROBE} --available RESULT_VARIABLE result OUTPUT_VARIABLE output)
if(result EQUAL 77)
  message("${output}")
  return()
endif()

function(run_demo expected)
  file(REMOVE_RECURSE ${DIR})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${ARGN} ${DEMO} ${PROBE} ${DIR}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 60)
  message("${output}${errors}")
  if(NOT "${result}" STREQUAL "${expected}")
    message(FATAL_ERROR "tarnbeck-demo ended with ${result}, expected ${expected}")
  endif()
  file(READ ${DIR}/probe-port.txt port)
  execute_process(COMMAND ${PROBE} --closed ${port} RESULT_VARIABLE closed)
  if(NOT closed EQUAL 0)
    message(FATAL_ERROR "the demo server still runs after tarnbeck-demo ended")
  endif()
endfunction()

run_demo(0)
# 128 + SIGTERM
run_demo(143 TARNBECK_PROBE_INTERRUPT=1)
