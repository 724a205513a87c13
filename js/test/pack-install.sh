#!/usr/bin/env bash
# The package as a user gets it: `npm pack` of the built package folder, installed into an empty
# folder without the network, imported by name and used from there.
#
#   js/test/pack-install.sh PACKAGE_DIR      (build-wasm/js/package)
set -euo pipefail
package="$(cd "${1:?usage: pack-install.sh PACKAGE_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

tarball="$(cd "$package" && npm pack --silent --pack-destination "$work" | tail -n 1)"
contents="$(tar -tzf "$work/$tarball" | sort | tr '\n' ' ')"
expected="package/README.md package/index.d.ts package/index.js package/package.json"
expected+=" package/tarn-core.mjs "
if [[ "$contents" != "$expected" ]]; then
  echo "pack-install: the tarball holds: $contents" >&2
  exit 1
fi

mkdir "$work/app"
cd "$work/app"
echo '{"name": "app", "private": true, "type": "module"}' > package.json
npm install --silent --offline --no-audit --no-fund "$work/$tarball"
name="$(node -p "require('$package/package.json').name")"
cat > use.js <<SCRIPT
import assert from 'node:assert/strict';
import { init, check, run, verify } from '$name';
await init();
assert.equal(check('if_broken { evolve(1) }').canonical, 'Branch([Evolve(1)])\n');
assert.deepEqual(run('if_broken { evolve(1) }', { corruptIndex: 1 }).healed_indices, [1]);
assert.match(verify('report()'), /^--- QRV Verifier Output ---\nPass: true\nStatus: OPEN\n/);
SCRIPT
node use.js
echo "pack-install: $tarball installs and runs"
