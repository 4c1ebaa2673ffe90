# Writes the probe's packages, runs package_probe natively and the Windows
# package_probe.exe under Wine over them, and compares both listings with
# the one worked out when the packages were made.
if(NOT EXISTS "${WINDOWS_PROBE}")
  message(FATAL_ERROR "package_probe.exe is missing: ${WINDOWS_PROBE}\n"
                      "Build the Windows configuration first (its folder is the cache variable "
                      "KRV_WINDOWS_BUILD_DIR), e.g. cmake --build <windows build> --target package_probe")
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${MAKER}" "${WORK}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "make_probe_packages failed: ${result}")
endif()
file(READ "${WORK}/expected.txt" expected)
file(READ "${WORK}/arguments.txt" arguments)

# The same arguments as host paths and as Wine's Z: paths.
set(native_args)
set(windows_args)
foreach(argument IN LISTS arguments)
  if(argument STREQUAL "--image")
    list(APPEND native_args "${argument}")
    list(APPEND windows_args "${argument}")
  else()
    list(APPEND native_args "${WORK}/${argument}")
    string(REPLACE "/" "\\" windows_path "Z:${WORK}/${argument}")
    list(APPEND windows_args "${windows_path}")
  endif()
endforeach()

execute_process(COMMAND "${NATIVE_PROBE}" ${native_args}
                OUTPUT_VARIABLE native RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT native STREQUAL expected)
  file(WRITE "${WORK}/native.txt" "${native}")
  message(FATAL_ERROR "the native reader's listing (${WORK}/native.txt) differs from "
                      "${WORK}/expected.txt")
endif()

set(wine_env WINEPREFIX=${WINE_PREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
             LANG=ru_RU.UTF-8 WINEARCH=win64)
find_program(WINE wine)
find_program(WINESERVER wineserver PATHS /usr/lib/wine)
if(NOT WINE)
  message(FATAL_ERROR "wine is not installed (scripts/install-deps.sh installs it)")
endif()
# Now and then wine ends before the probe's first line; the probe is then
# started again, at most three times.
foreach(attempt RANGE 1 3)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${wine_env} "${WINE}" "${WINDOWS_PROBE}" ${windows_args}
                  OUTPUT_VARIABLE windows ERROR_VARIABLE wine_errors RESULT_VARIABLE wine_result
                  TIMEOUT 300)
  if(wine_result EQUAL 0 OR NOT windows STREQUAL "" OR attempt EQUAL 3)
    break()
  endif()
  message("wine ended (${wine_result}) before package_probe.exe printed anything; "
          "starting it again: ${wine_errors}")
endforeach()
# Stop the wineserver of this prefix, whatever the probe did.
if(WINESERVER)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${wine_env} "${WINESERVER}" -k
                  RESULT_VARIABLE ignored OUTPUT_QUIET ERROR_QUIET)
endif()
string(REPLACE "\r\n" "\n" windows "${windows}")
file(WRITE "${WORK}/windows.txt" "${windows}")
if(NOT wine_result EQUAL 0)
  message(FATAL_ERROR "package_probe.exe under Wine failed (${wine_result}):\n${wine_errors}")
endif()
if(NOT windows STREQUAL expected)
  message(FATAL_ERROR "the Windows reader's listing under Wine (${WORK}/windows.txt) differs "
                      "from ${WORK}/expected.txt:\n${windows}")
endif()
message(STATUS "package_probe.exe under Wine listed and loaded every entry as packed")
