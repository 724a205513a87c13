#!/usr/bin/env bash
# Hardening checks, run by CI after scripts/test.sh:
#  1. the whole test suite (corpus replays included) built with AddressSanitizer and
#     UndefinedBehaviorSanitizer in build-sanitize/; any report aborts the test that caused it;
#  2. the library's tests built with ThreadSanitizer in build-tsan/, run for the tests that share
#     one compiled policy between threads;
#  3. a short libFuzzer run of each fuzz target (clang, build-fuzz/) on a copy of its corpus;
#     a crash, leak, timeout, out-of-memory or oracle failure fails the script, and the input
#     that caused it is kept in $TARN_FUZZ_WORK/<target>/ (default: a fresh directory in /tmp).
#
#   scripts/hardening.sh                  # both steps
#   FUZZ_SECONDS=60 scripts/hardening.sh  # longer fuzz runs (default 20 s per target)
#   scripts/hardening.sh sanitize|threads|fuzz    # one step only
# TARN_SANITIZE_BUILD_DIR, TARN_TSAN_BUILD_DIR and TARN_FUZZ_BUILD_DIR pick other build directories.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
steps=${1:-all}
fuzz_seconds=${FUZZ_SECONDS:-20}
targets=(parse_program run_script verifier_args format_policy lsp_messages)
sanitize_dir=${TARN_SANITIZE_BUILD_DIR:-build-sanitize}
fuzz_dir=${TARN_FUZZ_BUILD_DIR:-build-fuzz}
tsan_dir=${TARN_TSAN_BUILD_DIR:-build-tsan}

if [[ $steps == all || $steps == sanitize ]]; then
  echo "hardening: test suite under ASan and UBSan ($sanitize_dir/)" >&2
  # setup.sh installs what is missing (clang included) and builds; the -D options apply when
  # the sanitizer build directory is first configured.
  TARN_BUILD_DIR=$sanitize_dir scripts/setup.sh -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_SANITIZE=ON
  ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$sanitize_dir" --output-on-failure --parallel "$(nproc)"
fi

if [[ $steps == all || $steps == threads ]]; then
  echo "hardening: shared policies under ThreadSanitizer ($tsan_dir/)" >&2
  if [[ ! -f $tsan_dir/CMakeCache.txt ]]; then
    cmake -S . -B "$tsan_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_SANITIZE_THREAD=ON >&2
  fi
  cmake --build "$tsan_dir" --parallel "$(nproc)" --target tarn-lang-tests >&2
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    "$tsan_dir/lang/tarn-lang-tests" --gtest_filter='Policy.*' >&2
fi

if [[ $steps == all || $steps == fuzz ]]; then
  echo "hardening: fuzz smoke run, ${fuzz_seconds} s per target ($fuzz_dir/)" >&2
  # clang and its fuzzer and sanitizer runtimes, installed only when missing (as setup.sh does).
  scripts/install-missing.sh hardening clang libclang-rt-14-dev
  if [[ ! -f $fuzz_dir/CMakeCache.txt ]]; then
    cmake -S . -B "$fuzz_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DTARN_FUZZ=ON -DTARN_BUILD_TESTS=OFF >&2
  fi
  cmake --build "$fuzz_dir" --parallel "$(nproc)" "${targets[@]/#/--target=fuzz-}" >&2
  work=${TARN_FUZZ_WORK:-$(mktemp -d /tmp/tarn-fuzz-smoke-XXXXXX)}
  failed=()
  for target in "${targets[@]}"; do
    # Absolute paths throughout: the targets change into a scratch directory of their own.
    dir="$work/$target"
    mkdir -p "$dir/corpus" "$dir/artifacts"
    cp -r "fuzz/corpus/$target/." "$dir/corpus/"
    if ! "$fuzz_dir/bin/fuzz-$target" -max_total_time="$fuzz_seconds" -timeout=10 \
        -rss_limit_mb=2048 -dict="$root/fuzz/tarn.dict" -print_final_stats=1 \
        -artifact_prefix="$dir/artifacts/" "$dir/corpus" >"$dir/log.txt" 2>&1 ||
       [[ -n $(ls -A "$dir/artifacts") ]]; then
      failed+=("$target")
      tail -n 40 "$dir/log.txt" >&2
    fi
    echo "hardening: fuzz-$target: $(grep -E '^stat::number_of_executed_units' "$dir/log.txt" | awk '{print $2}') executions, $(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$dir/log.txt" | tail -n 1)" >&2
  done
  if ((${#failed[@]})); then
    echo "hardening: findings in ${failed[*]}; inputs kept in $work/<target>/artifacts/" >&2
    exit 1
  fi
  [[ -n ${TARN_FUZZ_WORK:-} ]] || rm -rf "$work"
fi
echo "hardening: all clean" >&2
