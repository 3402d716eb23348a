#!/usr/bin/env bash
# compare_trace.sh EXPECTED PROGRAM [ARGS...] - runs PROGRAM in an empty folder and compares
# the ausgabe.txt it leaves with EXPECTED, character for character.
set -euo pipefail
expected=$(realpath "$1")
shift
program=$(realpath "$1")
shift
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
"$program" "$@" >/dev/null
diff -u "$expected" ausgabe.txt
