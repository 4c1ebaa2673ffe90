# Runs phase_tests.exe under Wine in a prefix of its own, with LANG choosing
# the ANSI code page, and stops that prefix's wineserver afterwards.
if(NOT EXISTS "${PROGRAM}")
  message(FATAL_ERROR "phase_tests.exe is missing: ${PROGRAM}\n"
                      "Build the Windows configuration first (scripts/build.sh)")
endif()
find_program(WINE wine)
find_program(WINESERVER wineserver PATHS /usr/lib/wine)
if(NOT WINE)
  message(FATAL_ERROR "wine is not installed (scripts/install-deps.sh installs it)")
endif()
# No DISPLAY: the phases never make a window.
set(wine_env --unset=DISPLAY WINEPREFIX=${WINE_PREFIX} WINEDEBUG=-all
             "WINEDLLOVERRIDES=mscoree,mshtml=" LANG=${LANG} LC_ALL=${LANG} WINEARCH=win64
             KRV_EXPECTED_ACP=${CODE_PAGE})
# Now and then wine ends before the program's first line; none of the tests
# ran then, and the program is started again.
foreach(attempt RANGE 1 3)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${wine_env} "${WINE}" "${PROGRAM}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors
                  TIMEOUT 500)
  message("${output}${errors}")
  if(result EQUAL 0 OR output MATCHES "\\[==========\\] Running" OR attempt EQUAL 3)
    break()
  endif()
  message("wine ended (${result}) before phase_tests.exe ran; starting it again")
endforeach()
if(WINESERVER)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${wine_env} "${WINESERVER}" -k
                  RESULT_VARIABLE ignored OUTPUT_QUIET ERROR_QUIET)
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "phase_tests.exe under Wine (code page ${CODE_PAGE}) failed: ${result}")
endif()
