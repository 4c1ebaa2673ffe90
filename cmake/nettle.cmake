# nettle's SHA-256 for the Windows build, as the target krv::nettle: the
# static library that scripts/build-mingw-libraries.sh compiles into the
# build tree. Native builds hash with OpenSSL instead.
if(TARGET krv::nettle)
  return()
endif()

set(KRV_NETTLE_MINGW_DIR "${PROJECT_SOURCE_DIR}/build/third_party/nettle-mingw"
    CACHE PATH "Where scripts/build-mingw-libraries.sh put nettle for Windows")
set(KRV_NETTLE_LIBRARY "${KRV_NETTLE_MINGW_DIR}/lib/libnettle.a")
set(KRV_NETTLE_INCLUDE "${KRV_NETTLE_MINGW_DIR}/include")
if(NOT EXISTS "${KRV_NETTLE_LIBRARY}" OR NOT EXISTS "${KRV_NETTLE_INCLUDE}/nettle/sha2.h")
  message(FATAL_ERROR "nettle for Windows is missing in ${KRV_NETTLE_MINGW_DIR}: "
                      "run scripts/build-mingw-libraries.sh first")
endif()

add_library(krv::nettle UNKNOWN IMPORTED)
set_target_properties(krv::nettle PROPERTIES
  IMPORTED_LOCATION "${KRV_NETTLE_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${KRV_NETTLE_INCLUDE}")
