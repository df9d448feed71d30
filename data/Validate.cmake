# SPDX-License-Identifier: GPL-3.0-or-later
# Runs TOOL [ARGS...] FILE; prints a one-line SKIP reason when the tool is
# not installed.
find_program(tool ${TOOL})
if(NOT tool)
  message("SKIP: ${TOOL} is not installed (Debian package ${PACKAGE})")
  return()
endif()
execute_process(COMMAND ${tool} ${ARGS} ${FILE} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${TOOL} refused ${FILE}")
endif()
