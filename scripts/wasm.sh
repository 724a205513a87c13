#!/usr/bin/env bash
# The WebAssembly build and its tests, run by CI after the native checks: installs Emscripten and
# Chromium from Debian when missing (as root), installs the playground's npm packages (npm ci),
# builds the engine's module, the JavaScript package and the playground page in build-wasm/, and
# runs their tests through CTest: the package against the tools' expected outputs, the npm pack
# tarball installed into an empty folder, and the page in headless Chromium (its screenshots are
# left in build-wasm/screenshots/). Everything it prints goes to standard error, as setup.sh's.
#
#   scripts/wasm.sh            (TARN_WASM_BUILD_DIR picks another build directory)
set -euo pipefail
exec 1>&2
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build_dir=${TARN_WASM_BUILD_DIR:-build-wasm}

packages=(emscripten chromium nlohmann-json3-dev cmake ninja-build)
scripts/install-missing.sh wasm "${packages[@]}"
command -v node >/dev/null && command -v npm >/dev/null ||
  { echo "wasm: node and npm are needed (Node 18 or later)"; exit 1; }

# Emscripten's JavaScript optimizer loads Debian's acorn from there.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

(cd playground && npm ci --no-audit --no-fund --loglevel=error)
if [[ ! -f "$build_dir/CMakeCache.txt" ]]; then
  emcmake cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release
else
  cmake "$build_dir"  # picks up playground/node_modules if it was missing before
fi
cmake --build "$build_dir" --parallel "$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure
