// The package against the command-line tools' own expectations: every run of the example
// policies (examples/policies/runs.txt, expected/), their imports given as files and their report
// files compared with the report the result keeps; then the places of diagnostics, the formatter
// and the exact crossing of numbers.
import assert from 'node:assert/strict';
import { existsSync, readFileSync, readdirSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { test } from 'node:test';
import { pathToFileURL } from 'node:url';

const packageDir = process.env.TARN_PACKAGE_DIR;
const examplesDir = process.env.TARN_EXAMPLES_DIR;
const tarn = await import(pathToFileURL(resolve(packageDir, 'index.js')).href);
await tarn.init();

// runs.txt: NAME SCRIPT TOOL [ARGUMENTS...]
function exampleRuns() {
  return readFileSync(join(examplesDir, 'runs.txt'), 'utf8')
    .split('\n')
    .filter((line) => line.trim() !== '' && !line.startsWith('#'))
    .map((line) => {
      const [name, script, tool, ...args] = line.trim().split(/\s+/);
      const options = {};
      for (const arg of args) {
        const [flag, value] = arg.split('=');
        if (flag === '--corrupt-index') options.corruptIndex = Number(value);
        else if (flag === '--payload') options.payload = value;
        else if (flag === '--fuel') options.fuel = Number(value);
        else if (flag === '--emit') options.json = value === 'json';
        else throw new Error(`runs.txt: no mapping for ${arg}`);
      }
      return { name, script, tool, options };
    });
}

const expected = (file) => readFileSync(join(examplesDir, 'expected', file), 'utf8');

// The files a policy imports, by the names its imports give, read from the examples' folder.
function importedFiles(text) {
  const files = {};
  for (const [, name] of text.matchAll(/\bimport\("([^"]*)"\)/g)) {
    files[name] = readFileSync(join(examplesDir, name), 'utf8');
  }
  return files;
}

for (const { name, script, tool, options } of exampleRuns()) {
  const text = readFileSync(join(examplesDir, script), 'utf8');
  const files = importedFiles(text);
  test(`${tool} ${name}`, () => {
    if (tool === 'check') {
      assert.equal(tarn.check(text).canonical, expected(`${name}.tarn-check.txt`));
    } else if (tool === 'verifier') {
      assert.equal(tarn.verify(text, { ...options, files }), expected(`${name}.verifier.txt`));
    } else {
      const { json, ...runOptions } = options;
      const result = tarn.run(text, { ...runOptions, files });
      if (existsSync(join(examplesDir, 'expected', `${name}.tarn-run.err`))) {
        assert.equal(`${result.error}\n`, expected(`${name}.tarn-run.err`));
        return;
      }
      assert.deepEqual(result, JSON.parse(expected(`${name}.tarn-run.json`)));
      // The report file the tool wrote is the report the result keeps.
      const written = join(examplesDir, 'expected', `${name}.tarn-run.files`);
      for (const file of existsSync(written) ? readdirSync(written) : []) {
        assert.equal(result.report_path, file);
        assert.equal(result.report_text, readFileSync(join(written, file), 'utf8'));
      }
    }
  });
}

test('diagnostics stand where the engine failed', () => {
  const cases = [
    {
      text: 'report()\n  frobnicate(1)\n',
      code: 'parse-error',
      at: [2, 3, 2, 13, 11],
      engine: 'Parse error: Error(Error { input: "frobnicate", code: Tag })',
    },
    {
      text: 'if_broken {\n  evolve(1)\n',
      code: 'parse-error',
      at: [3, 1, 3, 1, 24],
      related: [{ file: 'policy.tarn', line: 1, column: 11,
                  message: 'the block opened here is not closed' }],
    },
    {
      text: '// é\nalias(0, "amount")\nassert_bounds(0, 100, "amount")\n',
      code: 'bounds-assertion',
      at: [3, 1, 3, 32, 25],
      engine: "Bounds assertion failed for 'amount' (index 0): " +
              'value 125.87469806587123 not in [0, 100]',
    },
  ];
  for (const { text, code, at, engine, related = [] } of cases) {
    const checked = tarn.check(text);
    const result = code === 'parse-error' ? checked : tarn.run(text);
    assert.equal(result.diagnostics.length, 1, text);
    const d = result.diagnostics[0];
    assert.deepEqual([d.line, d.column, d.end_line, d.end_column, d.offset], at, text);
    assert.equal(d.code, code);
    assert.deepEqual(d.related, related);
    if (engine) assert.equal(d.engine_text, engine);
    if (code === 'parse-error') {
      assert.equal(checked.ok, false);
      assert.equal(tarn.run(text).error, d.engine_text);
    }
  }
});

test('a run error in an imported file stands in that file', () => {
  const files = { 'bounds.tarn': 'report()\nassert_bounds(0, 100, 0)\n' };
  const [d] = tarn.run('report()\nimport("bounds.tarn")\n', { files }).diagnostics;
  assert.deepEqual([d.file, d.line, d.column, d.end_line, d.end_column], ['bounds.tarn', 2, 1, 2, 25]);
  assert.deepEqual(d.related, [{ file: 'policy.tarn', line: 2, column: 1,
                                 message: 'imported from here' }]);
});

test('format writes the standard layout, and refuses what does not parse', () => {
  const cases = [
    ['if_greater_than("x",\t5)\n{if_broken{report()}\n\n\n  report()}',
     'if_greater_than("x", 5) {\n  if_broken {\n    report()\n  }\n\n  report()\n}\n'],
    ['// head  \r\nreport()   // why\r\n\r\n\r\n// next\n   evolve(1)//tight\n',
     '// head\nreport() // why\n\n// next\nevolve(1) //tight\n'],
  ];
  for (const [text, formatted] of cases) assert.equal(tarn.format(text), formatted);
  assert.throws(() => tarn.format('report()\nif_broken {\n  report(\n}\n'),
                (error) => error instanceof tarn.ParseError && error.diagnostics[0].offset === 30);
});

test('numbers cross exactly', () => {
  for (const [payload, text] of [[-0, '-0'], [NaN, 'nan'], [Infinity, 'inf'], [1e21, '1e21'],
    [5e-324, '5e-324'], [0.1, '0.1']]) {
    assert.equal(tarn.verify('data(0)', { payload }), tarn.verify('data(0)', { payload: text }));
    assert.deepEqual(tarn.run('data(0)', { payload }), tarn.run('data(0)', { payload: text }));
  }
  const values = [-0, 1e-310, 1.7976931348623157e308, 0.30000000000000004];
  assert.deepEqual(tarn.run('residual()', { values, signs: [1, 1, 1, 1] }).values, values);
});

test('a compiled policy runs as often as asked, with context', () => {
  const policy = tarn.compile('alias(0, "amount")\nbind("amount", 0)\n');
  for (const amount of [0, 7.5, -3]) {
    const direct = tarn.run('alias(0, "amount")\nbind("amount", 0)\n', { context: { amount } });
    assert.deepEqual(policy.run({ context: JSON.stringify({ amount }) }), direct);
    assert.equal(direct.values[0], amount);
  }
  assert.equal(policy.run().error, 'Bind failed: no JSON context provided');
  policy.free();
  assert.throws(() => policy.run(), /freed/);
  assert.throws(() => tarn.compile('nope'), tarn.ParseError);
});

test('bad options are refused, not ignored', () => {
  assert.throws(() => tarn.run('report()', { trace: true }), TypeError);
  assert.throws(() => tarn.run('report()', { files: { 'a.tarn': 1 } }), TypeError);
  assert.throws(() => tarn.run('report()', { corruptIndex: 4 }), /not below the number of values/);
  assert.throws(() => tarn.run('report()', { payload: 'twelve' }), RangeError);
  assert.throws(() => tarn.run('report()', { context: '{"a":' }), SyntaxError);
  assert.throws(() => tarn.verify('report()', { corruptIndex: -1 }), RangeError);
});
