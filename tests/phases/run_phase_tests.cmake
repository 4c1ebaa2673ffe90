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
execute_process(COMMAND ${CMAKE_COMMAND} -E env ${wine_env} "${WINE}" "${PROGRAM}"
                RESULT_VARIABLE result TIMEOUT 500)
if(WINESERVER)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${wine_env} "${WINESERVER}" -k
                  RESULT_VARIABLE ignored OUTPUT_QUIET ERROR_QUIET)
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "phase_tests.exe under Wine (code page ${CODE_PAGE}) failed: ${result}")
endif()
