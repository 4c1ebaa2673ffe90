#!/usr/bin/env bash
# Builds libdeflate for the Windows build: a static library compiled with the
# mingw-w64 compiler from Debian's source package, since Debian ships no
# Windows build of it. The source and the result stay under
# build/third_party; nothing is installed on the system. Needs the deb-src
# line that scripts/install-deps.sh adds. Quick when already built.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
third_party="$root/build/third_party"
prefix="$third_party/libdeflate-mingw"
cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar

if [ -f "$prefix/lib/libdeflate.a" ] && [ -f "$prefix/include/libdeflate.h" ]; then
  exit 0
fi

mkdir -p "$third_party/source"
cd "$third_party/source"
source_dir="$(find . -maxdepth 1 -type d -name 'libdeflate-*' | sort | tail -n 1)"
if [ -z "$source_dir" ]; then
  if ! apt-get source -qq libdeflate >fetch.log 2>&1; then
    cat fetch.log >&2
    echo "build-libdeflate-mingw: 'apt-get source libdeflate' failed;" \
         "run scripts/install-deps.sh (as root) first" >&2
    exit 1
  fi
  source_dir="$(find . -maxdepth 1 -type d -name 'libdeflate-*' | sort | tail -n 1)"
fi
cd "$source_dir"

# Only the static library: no programs, no DLL. AR is named because the
# Makefile cannot derive it from a compiler name ending in "-posix".
make -s -j2 CC="$cc" AR="$ar" libdeflatestatic.lib >/dev/null
mkdir -p "$prefix/lib" "$prefix/include"
cp libdeflate.h "$prefix/include/"
cp COPYING "$prefix/"
# Under the usual name, so that the linker finds it as -ldeflate.
cp libdeflatestatic.lib "$prefix/lib/libdeflate.a.tmp"
mv "$prefix/lib/libdeflate.a.tmp" "$prefix/lib/libdeflate.a"
echo "build-libdeflate-mingw: built $prefix/lib/libdeflate.a"
