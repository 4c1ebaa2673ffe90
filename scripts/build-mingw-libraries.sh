#!/usr/bin/env bash
# Builds the static libraries that PATCH.EXE links and Debian ships no
# Windows build of, with the mingw-w64 compiler, from Debian's source
# packages:
#   libdeflate  decodes the package's zlib streams;
#   nettle      SHA-256 of the integrity check, with the processor's SHA
#               instructions where it has them (chosen when the program
#               starts), since bcrypt.dll under Wine hashes at a fifth of
#               that speed.
# The sources and results stay under build/third_party; nothing is
# installed on the system. Needs the deb-src line and m4 that
# scripts/install-deps.sh adds. Quick when already built.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
third_party="$root/build/third_party"
host=x86_64-w64-mingw32
cc=$host-gcc-posix
ar=$host-ar

# Prints the folder of the unpacked source package $1, fetching it first.
source_of() {
  local name="$1" dir
  mkdir -p "$third_party/source"
  cd "$third_party/source"
  dir="$(find . -maxdepth 1 -type d -name "$name-*" | sort | tail -n 1)"
  if [ -z "$dir" ]; then
    if ! apt-get source -qq "$name" >"fetch-$name.log" 2>&1; then
      cat "fetch-$name.log" >&2
      echo "build-mingw-libraries: 'apt-get source $name' failed;" \
           "run scripts/install-deps.sh (as root) first" >&2
      exit 1
    fi
    dir="$(find . -maxdepth 1 -type d -name "$name-*" | sort | tail -n 1)"
  fi
  echo "$third_party/source/${dir#./}"
}

# Puts the built library $1 into $2/lib as $3, whole or not at all.
put_library() {
  mkdir -p "$2/lib"
  cp "$1" "$2/lib/$3.tmp"
  mv "$2/lib/$3.tmp" "$2/lib/$3"
  echo "build-mingw-libraries: built $2/lib/$3"
}

build_libdeflate() {
  local prefix="$third_party/libdeflate-mingw" src
  [ -f "$prefix/lib/libdeflate.a" ] && [ -f "$prefix/include/libdeflate.h" ] && return 0
  src="$(source_of libdeflate)"
  cd "$src"
  # Only the static library: no programs, no DLL. AR is named because the
  # Makefile cannot derive it from a compiler name ending in "-posix".
  make -s -j2 CC="$cc" AR="$ar" libdeflatestatic.lib >/dev/null
  mkdir -p "$prefix/include"
  cp libdeflate.h "$prefix/include/"
  cp COPYING "$prefix/"
  # Under the usual name, so that the linker finds it as -ldeflate.
  put_library libdeflatestatic.lib "$prefix" libdeflate.a
}

build_nettle() {
  local prefix="$third_party/nettle-mingw" src
  [ -f "$prefix/lib/libnettle.a" ] && [ -f "$prefix/include/nettle/sha2.h" ] && return 0
  src="$(source_of nettle)"
  cd "$src"
  # Hashes only: no public-key half (it would need GMP), no DLL. --enable-fat
  # picks the SHA-NI code at run time on processors that have it.
  # Debian's patches leave configure.ac newer than what it made: the
  # autotools must not run again.
  if ! { ./configure --host="$host" CC="$cc" --prefix="$prefix" --enable-fat --enable-static \
           --disable-shared --disable-public-key --disable-openssl --disable-documentation &&
         make -j2 AUTOHEADER=true AUTOCONF=true libnettle.a &&
         make AUTOHEADER=true AUTOCONF=true install-headers; } >krv-build.log 2>&1; then
    cat krv-build.log >&2
    echo "build-mingw-libraries: nettle failed to build (log above)" >&2
    exit 1
  fi
  cp COPYINGv3 COPYING.LESSERv3 "$prefix/"
  put_library libnettle.a "$prefix" libnettle.a
}

build_libdeflate
build_nettle
