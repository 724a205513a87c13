#!/usr/bin/env bash
# Regenerates lang/src/unicode_tables.hpp, the language's character classes, from the ICU
# installed here (libicu-dev), then runs the check that compares them with ICU code point by
# code point. Review the diff: a new Unicode version changes canonical texts, and with them
# every lineage and replay hash built from them.
#
#   scripts/unicode-tables.sh         # in build/ (TARN_BUILD_DIR picks another)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build_dir=${TARN_BUILD_DIR:-build}
tables=lang/src/unicode_tables.hpp

if [[ -f "$build_dir/CMakeCache.txt" ]]; then
  cmake "$build_dir" -DTARN_BUILD_UNICODE_TOOLS=ON >&2
else
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARN_BUILD_UNICODE_TOOLS=ON >&2
fi
cmake --build "$build_dir" --target tarn-unicode-tables >&2
# Written beside the tables first, so that a failed run leaves them as they were.
if ! "$build_dir/bin/tarn-unicode-tables" > "$tables.new"; then
  rm -f "$tables.new"
  exit 1
fi
mv "$tables.new" "$tables"
version=$(sed -n 's/^inline constexpr std::string_view kUnicodeVersion = "\(.*\)";/\1/p' "$tables")
echo "unicode-tables: wrote $tables (Unicode $version)" >&2

cmake --build "$build_dir" --target tarn-lang-unicode-tests >&2
ctest --test-dir "$build_dir" --output-on-failure -R '^UnicodeTables\.' >&2
