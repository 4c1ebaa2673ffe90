#!/usr/bin/env bash
# Builds PATCH.EXE and the Windows test programs (build/windows), then the
# native libraries, tools and tests (build/native, with sanitizers).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

# libdeflate for the Windows build, compiled from Debian's source package.
"$root/scripts/build-libdeflate-mingw.sh"
if [ ! -f build/windows/build.ninja ]; then
  cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
fi
ninja -C build/windows

if [ ! -f build/native/build.ninja ]; then
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKRV_WINDOWS_BUILD_DIR="$root/build/windows" >/dev/null
fi
ninja -C build/native
