# libdeflate, the decoder and encoder of the package's zlib streams, as the
# target krv::libdeflate. Native builds use Debian's libdeflate-dev; the
# Windows build links the static library that
# scripts/build-mingw-libraries.sh compiles into the build tree.
if(TARGET krv::libdeflate)
  return()
endif()

if(WIN32)
  set(KRV_LIBDEFLATE_MINGW_DIR "${PROJECT_SOURCE_DIR}/build/third_party/libdeflate-mingw"
      CACHE PATH "Where scripts/build-mingw-libraries.sh put libdeflate for Windows")
  set(KRV_LIBDEFLATE_LIBRARY "${KRV_LIBDEFLATE_MINGW_DIR}/lib/libdeflate.a")
  set(KRV_LIBDEFLATE_INCLUDE "${KRV_LIBDEFLATE_MINGW_DIR}/include")
  if(NOT EXISTS "${KRV_LIBDEFLATE_LIBRARY}" OR NOT EXISTS "${KRV_LIBDEFLATE_INCLUDE}/libdeflate.h")
    message(FATAL_ERROR "libdeflate for Windows is missing in ${KRV_LIBDEFLATE_MINGW_DIR}: "
                        "run scripts/build-mingw-libraries.sh first")
  endif()
else()
  find_path(KRV_LIBDEFLATE_INCLUDE libdeflate.h)
  find_library(KRV_LIBDEFLATE_LIBRARY NAMES deflate)
  if(NOT KRV_LIBDEFLATE_INCLUDE OR NOT KRV_LIBDEFLATE_LIBRARY)
    message(FATAL_ERROR "libdeflate not found: install libdeflate-dev (scripts/install-deps.sh)")
  endif()
endif()

add_library(krv::libdeflate UNKNOWN IMPORTED)
set_target_properties(krv::libdeflate PROPERTIES
  IMPORTED_LOCATION "${KRV_LIBDEFLATE_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${KRV_LIBDEFLATE_INCLUDE}")
