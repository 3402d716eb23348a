#!/usr/bin/env bash
# run.sh - installs what the build needs, builds kdx620 and starts it on the simulated board.
# Arguments go to kdx620 (e.g. --io sim).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kdx620 >/dev/null
exec build/src/app/kdx620 "$@"
