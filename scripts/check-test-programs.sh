#!/usr/bin/env bash
# Checks that every program the tests start (tests/programs.txt) is on PATH,
# and that python3 imports the modules listed beside it. Names each missing
# program with the Debian package that brings it, and fails.
set -euo pipefail
list="$(cd "$(dirname "$0")/.." && pwd)/tests/programs.txt"
missing=0
while read -r program package module _; do
  case $program in '' | '#'*) continue ;; esac
  if ! command -v "$program" >/dev/null 2>&1; then
    echo "test programs: '$program' is missing (Debian package $package; scripts/setup.sh installs it)" >&2
    missing=1
  elif [ -n "${module:-}" ] && ! "$program" -c "import $module" >/dev/null 2>&1; then
    echo "test programs: $program cannot import $module (Debian package $package; scripts/setup.sh installs it)" >&2
    missing=1
  fi
done <"$list"
[ "$missing" -eq 0 ] && echo "test programs: all present"
exit "$missing"
