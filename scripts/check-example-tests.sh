#!/usr/bin/env bash
# Runs `tarn test` over the test files of the example policies and checks its summary line: every
# case of every test file ran and passed.
#
#   scripts/check-example-tests.sh BUILD_DIR
#
# It runs in a copy of examples/policies, since the policies write their report files beside
# themselves, as they do under `tarn run`.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: check-example-tests.sh BUILD_DIR}" && pwd)"
tarn="$build/bin/tarn"
[[ -x "$tarn" ]] || { echo "check-example-tests: $tarn is missing; build first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -R "$root/examples/policies" "$work/policies"

cases=$(cat "$work"/policies/*.test.toml | grep -c '^\[\[case\]\]')
set +e
output="$(cd "$work" && "$tarn" test policies 2>&1)"
status=$?
set -e
summary="$(tail -n 1 <<<"$output")"
if [[ $status -ne 0 || "$summary" != "$cases passed, 0 failed" ]]; then
  printf '%s\n' "$output" >&2
  echo "check-example-tests: expected '$cases passed, 0 failed' and status 0, got status $status" >&2
  exit 1
fi
echo "check-example-tests: $summary"
