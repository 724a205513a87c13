// One small policy decision (bench/workloads.py's decision.tarn) in one Node process: the tarn
// package against a peer policy engine, @cedar-policy/cedar-wasm, each with its policy prepared
// once; then the package's sizes.
//
//   node js/bench/d1.mjs PACKAGE_DIR PEERS_DIR [CALLS]
//     PACKAGE_DIR  the built package (build-wasm/js/package)
//     PEERS_DIR    a folder with the peer installed:
//                  npm install --prefix PEERS_DIR @cedar-policy/cedar-wasm@4.13.0
//
// Both sides are timed alike: a warm-up, then 20 batches each, alternating. Each row runs in a
// Node process of its own: Node 20.20's V8 has stopped with "Fatal error ... unreachable code" in
// its deoptimizer when rows of both engines ran one after the other in one process.
import { execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { readFileSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { gzipSync } from 'node:zlib';

const [packageDir, peersDir, callsText = '100000', rowText] = process.argv.slice(2);
if (!packageDir || !peersDir) {
  console.error('usage: node d1.mjs PACKAGE_DIR PEERS_DIR [CALLS]');
  process.exit(2);
}
const calls = Number(callsText);

// The decision workload's script and the peer's policy for the same decision.
const D1 = '// one decision: the amount at position 0 must lie in [0, 200]\n' +
  'alias(0, "amount")\nassert_bounds(0, 200, "amount")\nharmony(0.001)\n';
const PEER_POLICY = `permit (
  principal == User::"alice",
  action == Action::"spend",
  resource == Account::"ops"
) when { context.amount >= 0 && context.amount <= 200 };`;

function median(xs) {
  const s = xs.slice().sort((a, b) => a - b);
  const m = s.length >> 1;
  return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2;
}

function timeBatch(fn, per) {
  const t0 = process.hrtime.bigint();
  for (let i = 0; i < per; i++) fn(i);
  return Number(process.hrtime.bigint() - t0) / per;
}

// Per-call nanoseconds of `fn` and of the peer's `reference`, the median over 20 batches each,
// and the median of their ratios: the two are timed in alternating batches, so that a load on the
// machine weighs on both alike.
function timeAgainst(fn, reference) {
  const batches = 20;
  const per = Math.max(1, Math.floor(calls / batches));
  for (let i = 0; i < Math.min(per, 1000); i++) {
    fn(i);
    reference(i);
  }
  const own = [];
  const peer = [];
  for (let b = 0; b < batches; b++) {
    own.push(timeBatch(fn, per));
    peer.push(timeBatch(reference, per));
  }
  return { own: median(own), peer: median(peer), ratio: median(own.map((t, i) => t / peer[i])) };
}

const tarn = await import(pathToFileURL(resolve(packageDir, 'index.js')).href);
await tarn.init();
const policy = tarn.compile(D1, { name: 'd1_decision.tarn' });
// The amount is the value at position 0, in a balanced memory: 125 allows, 300 fails its bounds.
const memory = (amount) => ({ values: [amount, 101, 99, 200 - amount] });  // balanced
if (policy.run(memory(125)).decision !== 'ALLOW') throw new Error('tarn: expected ALLOW');
if (!policy.run(memory(300)).error) throw new Error('tarn: expected a bounds failure');
if (policy.decide().decision !== 'ALLOW') throw new Error('tarn: expected ALLOW');

const cedar = createRequire(join(peersDir, 'package.json'))('@cedar-policy/cedar-wasm/nodejs');
const decide = (answer) => {
  if (answer.type !== 'success') throw new Error(JSON.stringify(answer.errors));
  return answer.response.decision;
};
if (cedar.preparsePolicySet('d1', { staticPolicies: PEER_POLICY }).type !== 'success') {
  throw new Error('peer: preparse failed');
}
const peerCall = (amount) => ({
  principal: { type: 'User', id: 'alice' },
  action: { type: 'Action', id: 'spend' },
  resource: { type: 'Account', id: 'ops' },
  context: { amount },
  preparsedPolicySetId: 'd1',
  entities: [],
});
if (decide(cedar.statefulIsAuthorized(peerCall(125))) !== 'allow') {
  throw new Error('peer: expected allow');
}

const peerDecision = (i) => decide(cedar.statefulIsAuthorized(peerCall(i % 400)));
const rows = [
  ['Policy.decide, default memory', () => policy.decide()],
  ['Policy.decide, amount i % 400 at position 0', (i) => policy.decide(memory(i % 400))],
  ['Policy.run, default memory', () => policy.run()],
  ['Policy.run, amount i % 400 at position 0', (i) => policy.run(memory(i % 400))],
  ['run(text), parsed each call', () => tarn.run(D1)],
  ['verify(text), the verifier\'s output', () => tarn.verify(D1)],
];
const us = (ns) => (ns / 1000).toFixed(2).padStart(7);
if (rowText !== undefined) {
  const [name, fn] = rows[Number(rowText)];
  const { own, peer, ratio } = timeAgainst(fn, peerDecision);
  console.log(`${name.padEnd(46)} tarn ${us(own)} us  peer ${us(peer)} us  ${ratio.toFixed(3)}x`);
  process.exit(0);
}
console.log(`tarn ${JSON.parse(readFileSync(join(packageDir, 'package.json'), 'utf8')).version}, ` +
            `peer engine ${cedar.getCedarVersion()} (statefulIsAuthorized, pre-parsed, amount ` +
            `i % 400), node ${process.version}, ${calls} calls a row`);
for (let row = 0; row < rows.length; row++) {
  const args = [fileURLToPath(import.meta.url), packageDir, peersDir, String(calls), String(row)];
  process.stdout.write(execFileSync(process.execPath, args));
}

// The WebAssembly module embedded in tarn-core.mjs, and the module file itself.
const core = readFileSync(join(packageDir, 'tarn-core.mjs'));
const wasm = Buffer.from(/base64,([A-Za-z0-9+/=]{100,})/.exec(core.toString())[1], 'base64');
const kb = (bytes) => `${(bytes / 1024).toFixed(1)} KiB`;
console.log(`tarn.wasm ${kb(wasm.length)} (gzip -9: ${kb(gzipSync(wasm, { level: 9 }).length)}); ` +
            `tarn-core.mjs ${kb(core.length)} ` +
            `(gzip -9: ${kb(gzipSync(core, { level: 9 }).length)})`);
