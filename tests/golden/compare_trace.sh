#!/usr/bin/env bash
# compare_trace.sh EXPECTED PROGRAM [ARGS...] - runs PROGRAM in an empty folder, at normal
# priority, and compares the ausgabe.txt it leaves with EXPECTED, character for character.
# KDX620_SIM and KDX620_IO pass through from the caller.
set -euo pipefail
expected=$(realpath "$1")
shift
program=$(realpath "$1")
shift
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
KDX620_PRIORITY=normal "$program" "$@" >/dev/null
diff -u "$expected" ausgabe.txt
