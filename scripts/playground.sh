#!/usr/bin/env bash
# Builds the playground page (scripts/wasm.sh's build, without its tests) and serves it on
# 127.0.0.1, printing the address. The page needs no server of its own: any static file server
# will do, and build-wasm/playground/index.html also works opened from the file system.
#
#   scripts/playground.sh [PORT]     (default 8080; stop with Ctrl-C)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
port=${1:-8080}
[[ $port =~ ^[0-9]+$ ]] || { echo "usage: scripts/playground.sh [PORT]" >&2; exit 2; }
build_dir=${TARN_WASM_BUILD_DIR:-build-wasm}

export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
if ! command -v emcc >/dev/null || [[ ! -d playground/node_modules ]]; then
  echo "playground: first build: installing what it needs" >&2
  command -v emcc >/dev/null || { apt-get update -qq && apt-get install -y -qq emscripten; } >&2
  (cd playground && npm ci --no-audit --no-fund --loglevel=error) >&2
fi
if [[ ! -f "$build_dir/CMakeCache.txt" ]]; then
  emcmake cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
else
  cmake "$build_dir" >&2
fi
cmake --build "$build_dir" --parallel "$(nproc)" --target tarn-playground >&2

echo "playground: http://127.0.0.1:$port/"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$build_dir/playground"
