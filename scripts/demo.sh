#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs a demo update end
# to end. A sample application (two versions in tools/demo) is installed in a
# private Wine prefix, krvpack makes the update package from the difference
# of the two versions, PATCH.EXE builds a self-contained image with MAKEEXE,
# and the image is started as a user would on a virtual display. Prints the
# final status text, what changed in the installation folder and the new
# patch level, and saves a screenshot of the final window.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" >/dev/null
build/native/krv_demo tools/demo build/demo build/native/krvpack
