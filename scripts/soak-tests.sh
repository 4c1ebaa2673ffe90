#!/usr/bin/env bash
# Runs the end-to-end tests N times in a row while both processors are kept
# busy (stress-ng --cpu 2), to find tests whose answer depends on the
# machine's speed. Prints "N passed, M failed" over the repetitions; the
# output of every failed repetition is kept in build/soak/.
#
#   scripts/soak-tests.sh N [ctest arguments...]
#
# Expects a finished build (scripts/build.sh); installs nothing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

count="${1:-}"
if ! [[ "$count" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/soak-tests.sh N [ctest arguments...]" >&2
  exit 2
fi
shift
command -v stress-ng >/dev/null || { echo "soak-tests: stress-ng is missing (scripts/install-deps.sh)" >&2; exit 2; }
[ -f build/native/CTestTestfile.cmake ] || { echo "soak-tests: build first (scripts/build.sh)" >&2; exit 2; }

logs="$root/build/soak"
mkdir -p "$logs"
stress-ng --cpu 2 --timeout 0 --quiet &
stress=$!
trap 'kill "$stress" 2>/dev/null; wait "$stress" 2>/dev/null || true' EXIT

passed=0
failed=0
for ((i = 1; i <= count; i++)); do
  log="$logs/run-$i.log"
  start=$(date +%s)
  if ctest --test-dir build/native -L e2e --output-on-failure "$@" >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "soak-tests: run $i of $count passed ($(( $(date +%s) - start )) s)"
    rm -f "$log"
  else
    failed=$((failed + 1))
    echo "soak-tests: run $i of $count FAILED ($(( $(date +%s) - start )) s), output in $log"
    grep -E '^[0-9]+% tests passed|\(Failed\)|\[  FAILED  \]' "$log" | sort -u | sed 's/^/  /' || true
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
