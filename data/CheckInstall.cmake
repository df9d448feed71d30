# SPDX-License-Identifier: GPL-3.0-or-later
# cmake --install into STAGE, then: every file a desktop needs is there, and
# nothing else is installed (no test programs, no demo).
file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${STAGE}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${out}")
endif()

set(expected
  ${BINDIR}/tarnbeck
  ${DATADIR}/applications/${APP_ID}.desktop
  ${DATADIR}/metainfo/${APP_ID}.metainfo.xml
  ${DATADIR}/icons/hicolor/scalable/apps/${APP_ID}.svg
  ${DATADIR}/doc/tarnbeck/copyright)
foreach(size 16 22 24 32 48 64 128 256 512)
  list(APPEND expected ${DATADIR}/icons/hicolor/${size}x${size}/apps/${APP_ID}.png)
endforeach()

file(GLOB_RECURSE installed RELATIVE ${STAGE} ${STAGE}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  string(REPLACE ";" "\n  " installed "${installed}")
  string(REPLACE ";" "\n  " expected "${expected}")
  message(FATAL_ERROR "Installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()
execute_process(COMMAND test -x ${STAGE}/${BINDIR}/tarnbeck RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${BINDIR}/tarnbeck is not executable")
endif()

# Each PNG is the size its folder says (width and height from the IHDR chunk).
foreach(size 16 22 24 32 48 64 128 256 512)
  file(READ ${STAGE}/${DATADIR}/icons/hicolor/${size}x${size}/apps/${APP_ID}.png header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 32 8 width)
  string(SUBSTRING "${header}" 40 8 height)
  math(EXPR width "0x${width}")
  math(EXPR height "0x${height}")
  if(NOT width EQUAL size OR NOT height EQUAL size)
    message(FATAL_ERROR "the ${size}x${size} icon is ${width}x${height}")
  endif()
endforeach()
list(LENGTH installed count)
message("cmake --install: ${STAGE} holds the ${count} expected files")
