#!/usr/bin/env bash
# Sets up and builds the project, then runs the whole test suite through CTest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
cd "$root"
exec ctest --test-dir "${TARN_BUILD_DIR:-build}" --output-on-failure --parallel "$(nproc)"
