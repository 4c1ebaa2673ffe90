#!/usr/bin/env bash
# Builds PATCH.EXE and the Windows test programs (build/windows), the native
# libraries, tools and tests (build/native, with sanitizers), and the release
# build of krvpack for Linux (build/release: optimised, stripped).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

# libdeflate and nettle for the Windows build, compiled from Debian's source
# packages.
"$root/scripts/build-mingw-libraries.sh"
# The configure step runs every time: the presets (CMakePresets.json) hold
# the options, and a changed option must reach an existing build folder.
cmake --preset windows >/dev/null
ninja -C build/windows -j2

cmake --preset native >/dev/null
ninja -C build/native -j2

# What a publisher installs: `cmake --install build/release [--prefix DIR]`.
cmake --preset release >/dev/null
ninja -C build/release -j2
