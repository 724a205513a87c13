#!/usr/bin/env bash
# Installs the build into a fresh temporary prefix, checks the installed layout, then builds
# examples/consumer against that prefix alone (find_package(Tarn), tarn::lang) and runs it.
#
#   scripts/check-install.sh BUILD_DIR
#
# The consumer is built with the compiler the build was configured with, so that the static
# libraries and the consumer agree on the standard library.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: check-install.sh BUILD_DIR}"
build="$(cd "$build" && pwd)"
cache="$build/CMakeCache.txt"
[[ -f "$cache" ]] || { echo "check-install: $build is not a configured build directory" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$cache" | head -n 1; }

echo "check-install: installing into $prefix"
# Staged under DESTDIR, so that a destination given as an absolute path (the Python module's may
# be) stays inside $work too; the package is relocatable, so the staged prefix works as well.
DESTDIR="$work/stage" cmake --install "$build" --prefix "$prefix" > "$work/install.log" ||
  { cat "$work/install.log" >&2; exit 1; }
prefix="$work/stage$prefix"

libdir="$(cache_value CMAKE_INSTALL_LIBDIR)"
libdir="${libdir:-lib}"
missing=0
for file in bin/qrv-verifier bin/tarn \
            share/man/man1/qrv-verifier.1 share/man/man1/tarn.1 \
            "$libdir"/libtarn-lang.a "$libdir"/libtarn-json.a "$libdir"/libtarn-memory.a \
            "$libdir"/libtarn-evolution.a \
            include/tarn/tarn.hpp include/tarn/lang/policy.hpp \
            include/tarn/lang/runner.hpp include/tarn/lang/parser.hpp \
            include/tarn/lang/instruction.hpp include/tarn/lang/run_state.hpp \
            include/tarn/lang/result.hpp include/tarn/lang/file_access.hpp \
            include/tarn/memory/state_memory.hpp \
            include/tarn/evolution/evolution.hpp include/tarn/json/number_text.hpp \
            "$libdir"/cmake/Tarn/TarnConfig.cmake "$libdir"/cmake/Tarn/TarnConfigVersion.cmake \
            "$libdir"/cmake/Tarn/TarnTargets.cmake; do
  if [[ ! -e "$prefix/$file" ]]; then
    echo "check-install: not installed: $file" >&2
    missing=1
  fi
done
# Only the facade is installed: how a program's tree is stored, allocated and walked stays inside.
if grep -l -E '(class|struct) (HugePageAllocator|BodyStorage|BodyRecord|ProgramStorage|Walker)[^;]*$' -r "$prefix/include" >&2; then
  echo "check-install: the headers above expose the library's storage" >&2
  missing=1
fi
# The test helper library is internal.
if compgen -G "$prefix/$libdir/libtarn-testing*" > /dev/null; then
  echo "check-install: the test helper library must not be installed" >&2
  missing=1
fi
((missing == 0)) || exit 1

# The installed tools run from the prefix.
"$prefix/bin/qrv-verifier" > "$work/verifier.out"
grep -qx "Status: OPEN" "$work/verifier.out" ||
  { echo "check-install: installed qrv-verifier printed:" >&2; cat "$work/verifier.out" >&2; exit 1; }
tool_version="$("$prefix/bin/tarn" --version)"

# The Python module imports from where it was installed and gives the installed verifier's verdict.
if [[ "$(cache_value TARN_BUILD_PYTHON)" =~ ^(ON|TRUE|YES|1)$ ]]; then
  site="$(cache_value TARN_PYTHON_INSTALL_DIR)"
  if [[ "$site" == /* ]]; then site="$work/stage$site"; else site="$prefix/$site"; fi
  printf 'report()' > "$work/report.tarn"
  "$prefix/bin/qrv-verifier" --script="$work/report.tarn" > "$work/verdict.expected"
  verify="import sys, tarn; assert tarn.__file__.startswith(sys.argv[1]); \
print(tarn.verify('report()'), end='')"
  (cd "$work" && PYTHONPATH="$site" "$(cache_value Python3_EXECUTABLE)" -c "$verify" "$site") \
    > "$work/verdict.python" ||
    { echo "check-install: the Python module does not import from $site" >&2; exit 1; }
  for file in __init__.pyi py.typed; do
    [[ -e "$site/tarn/$file" ]] ||
      { echo "check-install: not installed: $site/tarn/$file" >&2; exit 1; }
  done
  diff -u "$work/verdict.expected" "$work/verdict.python" >&2 ||
    { echo "check-install: tarn.verify differs from the installed qrv-verifier" >&2; exit 1; }
fi

generator=()
command -v ninja > /dev/null && generator=(-G Ninja)
# Libraries built with the sanitizers need the sanitizer runtimes at the consumer's link.
link_flags=""
if [[ "$(cache_value TARN_SANITIZE)" =~ ^(ON|TRUE|YES|1)$ ]]; then
  link_flags="-fsanitize=address,undefined"
fi
echo "check-install: building examples/consumer against the installed package"
cmake -S "$root/examples/consumer" -B "$work/consumer" "${generator[@]}" \
      -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_COMPILER="$(cache_value CMAKE_CXX_COMPILER)" \
      -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
      -DCMAKE_EXE_LINKER_FLAGS="$link_flags" \
      > "$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }
cmake --build "$work/consumer" > "$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }

"$work/consumer/policy-gate" "$root/examples/consumer/policies" > "$work/consumer.out"
if ! diff -u --label expected --label actual "$root/examples/consumer/expected-output.txt" \
          "$work/consumer.out" >&2; then
  echo "check-install: the consumer's output differs from examples/consumer/expected-output.txt" >&2
  exit 1
fi

# One version everywhere: the package the consumer found and the installed tool.
package_version="$(sed -n 's/^package: //p' "$work/consumer.out")"
if [[ "$package_version" != "$tool_version" ]]; then
  echo "check-install: tarn --version says '$tool_version', the package '$package_version'" >&2
  exit 1
fi
echo "check-install: the install at a fresh prefix works; the consumer builds and runs ($tool_version)"
