#!/usr/bin/env bash
# Renders both manual pages and fails on any warning of the formatter, so that a page that `man`
# would show garbled (an unknown macro, a bad escape, a table too wide) cannot be merged.
#
#   scripts/check-man.sh [BUILD_DIR]     (the build directory is accepted for symmetry; unused)
#
# Needs groff (Debian: groff-base); `man` (man-db) is used as well when present, at the 80 columns
# of a terminal, because it also reports lines the page cannot fit.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pages=("$root/man/qrv-verifier.1" "$root/man/tarn.1")

if ! command -v groff >/dev/null; then
  echo "check-man: SKIPPED: groff is not installed (Debian package groff-base)" >&2
  exit 0
fi

status=0
for page in "${pages[@]}"; do
  name=$(basename "$page")
  # groff prints warnings on standard error; rendered text goes nowhere.
  warnings=$(groff -ww -z -man -Tutf8 "$page" 2>&1 >/dev/null || echo "groff failed on $name")
  if [[ -n "$warnings" ]]; then
    echo "check-man: $name: groff warnings:" >&2
    echo "$warnings" >&2
    status=1
  fi
  if command -v man >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || echo "man failed on $name")
    if [[ -n "$warnings" ]]; then
      echo "check-man: $name: man warnings:" >&2
      echo "$warnings" >&2
      status=1
    fi
  fi
  # The page must name itself and carry the package's version in its title line.
  if ! grep -q '^\.TH [A-Z-]* 1 .*"tarn [0-9][0-9.]*"' "$page"; then
    echo "check-man: $name: title line lacks the section or the package version" >&2
    status=1
  fi
done

# The pages state the package version; it must be the one the build was configured with.
if [[ $# -ge 1 && -f "$1/CMakeCache.txt" ]]; then
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")
  for page in "${pages[@]}"; do
    if [[ -n "$version" ]] && ! grep -q "^\.TH .*\"tarn $version\"" "$page"; then
      echo "check-man: $(basename "$page"): title line does not say tarn $version" >&2
      status=1
    fi
  done
fi

((status == 0)) && echo "check-man: both pages render without warnings"
exit "$status"
