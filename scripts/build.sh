#!/usr/bin/env bash
# Builds PATCH.EXE and the Windows test programs (build/windows), the native
# libraries, tools and tests (build/native, with sanitizers), and the release
# build of krvpack for Linux (build/release: optimised, stripped).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs=(${KRV_JOBS:+-j"$KRV_JOBS"})  # KRV_JOBS=2 on a shared machine

# libdeflate for the Windows build, compiled from Debian's source package.
"$root/scripts/build-libdeflate-mingw.sh"
if [ ! -f build/windows/build.ninja ]; then
  cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
fi
ninja -C build/windows "${jobs[@]}"

if [ ! -f build/native/build.ninja ]; then
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKRV_WINDOWS_BUILD_DIR="$root/build/windows" >/dev/null
fi
ninja -C build/native "${jobs[@]}"

# What a publisher installs: `cmake --install build/release [--prefix DIR]`.
if [ ! -f build/release/build.ninja ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKRV_SANITIZE=OFF \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DKRV_TOOL_ONLY=ON -DKRV_WINDOWS_BUILD_DIR="$root/build/windows" >/dev/null
fi
ninja -C build/release "${jobs[@]}"
