#!/usr/bin/env bash
# Runs every example policy through the tools as examples/policies/runs.txt lists them and compares
# standard output, standard error, the exit status and every file the run writes with the
# expected outputs checked in beside the policies, so that the documented results cannot drift
# from what the programs do.
#
#   scripts/check-examples.sh BUILD_DIR            compare; exit 1 on any difference
#   scripts/check-examples.sh BUILD_DIR --update   rewrite the expected outputs from the programs
#                                                  (review every change by hand before keeping it)
#
# Each run happens in a fresh copy of examples/policies, so relative imports and report files
# resolve there and nothing is written into the source tree.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: check-examples.sh BUILD_DIR [--update]}"
build="$(cd "$build" && pwd)"
update=0
[[ "${2:-}" == "--update" ]] && update=1

policies="$root/examples/policies"
expected="$policies/expected"
verifier="$build/bin/qrv-verifier"
tarn="$build/bin/tarn"
for tool in "$verifier" "$tarn"; do
  [[ -x "$tool" ]] || { echo "check-examples: $tool is missing; build first" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

ignored=()
if git -C "$policies" rev-parse --git-dir >/dev/null 2>&1; then
  mapfile -t ignored < <(git -C "$policies" ls-files --others --ignored --exclude-standard .)
fi

failures=0
cases=0
fail() {
  echo "check-examples: $1: $2" >&2
  failures=$((failures + 1))
}

# compare NAME EXPECTED_FILE ACTUAL_FILE: diff, or in update mode take the actual file.
compare() {
  if ((update)); then
    mkdir -p "$(dirname "$2")"
    cp "$3" "$2"
  elif [[ ! -f "$2" ]]; then
    fail "$1" "no expected file ${2#"$root"/}"
  elif ! diff -u --label "expected ${2#"$root"/}" --label actual "$2" "$3" >&2; then
    fail "$1" "output differs from ${2#"$root"/}"
  fi
}

while read -r name script tool args; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  cases=$((cases + 1))
  # Word splitting of $args is intended: arguments hold no spaces.
  # shellcheck disable=SC2206
  arguments=($args)
  case "$tool" in
    verifier) label=verifier; command=("$verifier" "--script=$script" "${arguments[@]}") ;;
    run) label="tarn-run"; command=("$tarn" run "$script" "${arguments[@]}") ;;
    check) label="tarn-check"; command=("$tarn" check "$script" "${arguments[@]}") ;;
    *) fail "$name" "unknown tool '$tool' in runs.txt"; continue ;;
  esac
  id="$name.$label"

  rm -rf "$work/dir" && cp -R "$policies" "$work/dir"
  # Files that runs by hand left in the source folder (report files, ignored by git) are no part
  # of it.
  for left in "${ignored[@]}"; do rm -f "$work/dir/$left"; done
  (cd "$work/dir" && find . -type f | sort) > "$work/before"
  set +e
  (cd "$work/dir" && "${command[@]}") > "$work/stdout" 2> "$work/stderr" < /dev/null
  status=$?
  set -e
  (cd "$work/dir" && find . -type f | sort) > "$work/after"

  # The verifier states every verdict on standard output with status 0. The tarn commands either
  # succeed (status 0, output on standard output) or fail (status 1, message on standard error);
  # which one is expected is told by the expected file that exists: .json/.txt or .err.
  if [[ "$tool" == verifier ]]; then
    [[ $status -eq 0 && ! -s "$work/stderr" ]] ||
      fail "$id" "status $status, standard error: $(head -c 300 "$work/stderr")"
    compare "$id" "$expected/$id.txt" "$work/stdout"
  else
    ext=json
    [[ "$tool" == check ]] && ext=txt
    if ((update)); then
      rm -f "$expected/$id.$ext" "$expected/$id.err"
      if [[ $status -eq 0 ]]; then
        compare "$id" "$expected/$id.$ext" "$work/stdout"
      else
        compare "$id" "$expected/$id.err" "$work/stderr"
      fi
      [[ $status -eq 0 || $status -eq 1 ]] || fail "$id" "status $status"
    elif [[ -f "$expected/$id.err" ]]; then
      [[ $status -eq 1 && ! -s "$work/stdout" ]] ||
        fail "$id" "expected a failure (status 1, no output), got status $status"
      compare "$id" "$expected/$id.err" "$work/stderr"
    else
      [[ $status -eq 0 && ! -s "$work/stderr" ]] ||
        fail "$id" "status $status, standard error: $(head -c 300 "$work/stderr")"
      compare "$id" "$expected/$id.$ext" "$work/stdout"
    fi
  fi

  # Files the run wrote (report files): each must match expected/<id>.files/<path>, and every
  # expected file must have been written.
  files="$expected/$id.files"
  ((update)) && rm -rf "$files"
  while read -r written; do
    compare "$id" "$files/${written#./}" "$work/dir/$written"
  done < <(comm -13 "$work/before" "$work/after")
  if ((!update)) && [[ -d "$files" ]]; then
    while read -r wanted; do
      if grep -qxF "./$wanted" "$work/before" || ! grep -qxF "./$wanted" "$work/after"; then
        fail "$id" "the run did not write $wanted"
      fi
    done < <(cd "$files" && find . -type f | sed 's|^\./||' | sort)
  fi
done < "$policies/runs.txt"

if ((cases == 0)); then
  echo "check-examples: runs.txt lists no runs" >&2
  exit 1
fi
if ((failures)); then
  echo "check-examples: $failures of $cases runs differ" >&2
  exit 1
fi
if ((update)); then
  echo "check-examples: rewrote the expected outputs of $cases runs; review them with git diff"
else
  echo "check-examples: all $cases runs match their expected outputs"
fi
