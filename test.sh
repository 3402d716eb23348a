#!/usr/bin/env bash
# test.sh - installs what the build needs, builds kdx620 and runs every test.
# BUILD_DIR (default build) and CMAKE_ARGS choose another build, e.g. with sanitizers;
# CTEST_ARGS narrows the tests run.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps
build=${BUILD_DIR:-build}
# shellcheck disable=SC2086 # CMAKE_ARGS is a list of arguments
cmake -S . -B "$build" -G Ninja ${CMAKE_ARGS:-}
cmake --build "$build"
# shellcheck disable=SC2086
ctest --test-dir "$build" --output-on-failure -j 2 ${CTEST_ARGS:-}
