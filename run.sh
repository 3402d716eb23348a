#!/usr/bin/env bash
# run.sh - installs what the build needs, builds kdx620 and starts its window on the simulated
# board; without a display, a short demo of the same commands. Arguments go to kdx620.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kdx620 >/dev/null
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display here (DISPLAY and WAYLAND_DISPLAY are unset), so no window;"
  echo "run.sh: running a short demo of the window's commands on the simulated board instead."
  exec build/src/app/kdx620 --demo "$@"
fi
exec build/src/app/kdx620 "$@"
