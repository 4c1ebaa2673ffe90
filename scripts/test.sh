#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: unit
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, a short fuzzing
# run, the publishers' tool, and PATCH.EXE end to end under Wine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
# The benchmarks in their short form, so that they keep working; figures
# are printed, never judged.
"$root/scripts/bench.sh" --quick
ctest --test-dir build/native --output-on-failure "$@"
