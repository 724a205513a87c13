#!/usr/bin/env bash
# Sets up and builds the project, then runs the verifier with the given arguments.
#   scripts/verifier.sh [--payload=N] [--emit=json] [--script=FILE] ...
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
exec "$root/${TARN_BUILD_DIR:-build}/bin/qrv-verifier" "$@"
