#!/usr/bin/env bash
# Installs what the project needs (Debian 12, as root), then configures and builds it in build/.
# Idempotent: apt-get runs only when a package is missing. Everything it prints goes to standard
# error, so that the verifier's own output stays alone on standard output.
#
#   scripts/setup.sh [extra cmake -D options...]
set -euo pipefail
exec 1>&2
cd "$(dirname "$0")/.."

# libicu-dev is not linked by the tools: the test suite checks the Unicode tables against it.
# pybind11-dev, python3-dev and python3-pytest build and test the Python module; neovim runs
# `tarn lsp` in a real editor.
packages=(g++ cmake ninja-build pkg-config nlohmann-json3-dev libcli11-dev libtomlplusplus-dev libicu-dev
          libgtest-dev libgmock-dev groff-base man-db pybind11-dev python3-dev python3-pytest neovim)
scripts/install-missing.sh setup "${packages[@]}"

build_dir=${TARN_BUILD_DIR:-build}
if [[ ! -f "$build_dir/CMakeCache.txt" ]]; then
  # The Python module is built for Debian's interpreter, the one python3-pytest serves, even when
  # another python3 (a version manager's) comes first on PATH.
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DPython3_EXECUTABLE=/usr/bin/python3 "$@"
elif (($#)); then
  cmake "$build_dir" "$@"
fi
cmake --build "$build_dir" --parallel "$(nproc)"
