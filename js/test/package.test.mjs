// The package against the command-line tools' own expectations: every run of the example
// policies (examples/policies/runs.txt, expected/), their imports given as files and their report
// files compared with the report the result keeps, their traces with the text form's steps and
// reason; then diagnostics, the formatter and the exact crossing of numbers.
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
    } else if (tool === 'trace') {
      // The text form: a line per step, then the because line (then a failed run's error).
      const { json, ...runOptions } = options;
      const { trace } = tarn.run(text, { ...runOptions, files, name: script, trace: true });
      const lines = expected(`${name}.tarn-trace.txt`).split('\n');
      const steps = trace.steps.length;
      assert.deepEqual(
        trace.steps.map((s) => `step ${s.step} depth ${s.depth} ${s.file}:${s.line}:${s.column} `
                               + `${s.instruction};`),
        lines.slice(0, steps).map((line) => line.slice(0, line.indexOf(';') + 1)));
      assert.equal(trace.end.because, lines[steps]);
    } else if (tool === 'verifier') {
      assert.equal(tarn.verify(text, { ...options, files }), expected(`${name}.verifier.txt`));
    } else {
      const { json, ...runOptions } = options;
      const result = tarn.run(text, { ...runOptions, files, name: script });
      if (existsSync(join(examplesDir, 'expected', `${name}.tarn-run.err`))) {
        // The tool shows the diagnostic's first line first and the engine's text last.
        const lines = expected(`${name}.tarn-run.err`).trimEnd().split('\n');
        const [d] = result.diagnostics;
        assert.equal(`${d.file}:${d.line}:${d.column}: ${d.severity}: ${d.message}`, lines[0]);
        assert.equal(result.error, lines[lines.length - 1]);
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

// What `tarn check --format=json` and `tarn run --format=json` print for the same texts and files.
test('diagnostics are the tool\'s', () => {
  const files = {
    'bounds.tarn': 'report()\nassert_bounds(0, 100, 0)\n',
    'shared.tarn': 'alias(0, "reserve")\n// corrupt\n',
  };
  const imported = { file: 'policy.tarn', line: 1, column: 1, message: 'imported from here' };
  const cases = [
    [tarn.check('report()\n  frobnicate(1)\n'), {
      file: 'policy.tarn', line: 2, column: 3, end_line: 2, end_column: 13, offset: 11,
      severity: 'error', code: 'unknown-keyword', message: 'unknown keyword `frobnicate`',
      engine_text: 'Parse error: Error(Error { input: "frobnicate", code: Tag })', related: [],
    }],
    [tarn.run('if_broken {\n  evolve(1)\n'), {
      file: 'policy.tarn', line: 3, column: 1, end_line: 3, end_column: 1, offset: 24,
      severity: 'error', code: 'unclosed-block',
      message: 'the block opened at 1:11 is never closed: its `}` is missing at the end of the text',
      engine_text: 'Parse error: Error(Error { input: "", code: Tag })',
      related: [{ file: 'policy.tarn', line: 1, column: 11, message: 'this `{` is never closed' }],
    }],
    [tarn.run('// é\nalias(0, "amount")\nassert_bounds(0, 100, "amount")\n'), {
      file: 'policy.tarn', line: 3, column: 1, end_line: 3, end_column: 32, offset: 25,
      severity: 'error', code: 'bounds-assertion',
      message: "bounds assertion failed for 'amount' (index 0): value 125.87469806587123 not in [0, 100]",
      engine_text: "Bounds assertion failed for 'amount' (index 0): value 125.87469806587123 not in [0, 100]",
      related: [],
    }],
    [tarn.run('report()\nimport("bounds.tarn")\n', { files }), {
      file: 'bounds.tarn', line: 2, column: 1, end_line: 2, end_column: 25, offset: 9,
      severity: 'error', code: 'bounds-assertion',
      message: 'bounds assertion failed at index 0: value 125.87469806587123 not in [0, 100]',
      engine_text: 'Bounds assertion failed at index 0: value 125.87469806587123 not in [0, 100]',
      related: [{ ...imported, line: 2 }],
    }],
    [tarn.check('import("shared.tarn")\nassert_bounds(0, 1, "reserve")\nimport("gone.tarn")\n',
                { files }), {
      file: 'policy.tarn', line: 3, column: 1, end_line: 3, end_column: 7, offset: 53,
      severity: 'warning', code: 'import-failed',
      message: 'cannot read the imported file "gone.tarn": No such file or directory; a run that reaches it fails',
      engine_text: null, related: [],
    }, {
      file: 'shared.tarn', line: 2, column: 4, end_line: 2, end_column: 11, offset: 23,
      severity: 'warning', code: 'corrupt-in-import',
      message: 'this imported file contains `corrupt`: the verifier looks only at the script it is given, so it runs this file anyway',
      engine_text: null, related: [imported],
    }],
  ];
  for (const [result, ...diagnostics] of cases) {
    assert.deepEqual(result.diagnostics, diagnostics);
    // Warnings leave a check ok; an error is the failure's engine text.
    if (result.ok !== undefined) assert.equal(result.ok, diagnostics[0].severity === 'warning');
    else assert.equal(result.error, diagnostics[0].engine_text);
  }
});

test('a trace goes with a run, also with a failed one', () => {
  const policy = tarn.compile('alias(0, "reserve")\nif_broken { evolve(1) }\nassert_bounds(0, 1, 0)\n');
  const ran = policy.run({ trace: true });
  assert.deepEqual(ran.trace.steps.map(({ step, depth, line, column, instruction, entered }) =>
    [step, depth, line, column, instruction, entered]),
  [[1, 0, 1, 1, 'Alias(0, "reserve")', null], [2, 0, 2, 1, 'Branch([1 statement])', false],
   [3, 0, 3, 1, 'AssertBounds(0.0, 1.0, 0)', null]]);
  assert.equal(ran.trace.end.error_at.line, 3);
  assert.match(ran.trace.end.because, /^no decision: the run failed at policy.tarn:3:1: /);
  assert.equal(ran.error, ran.trace.end.error);
  const { trace, ...document } = tarn.run('report()', { trace: true });
  assert.deepEqual(document, tarn.run('report()'));
  assert.equal(trace.end.because, 'decision ALLOW: pass is true because |residual| 0.0 < '
    + 'tolerance 1e-12 (the default tolerance: no harmony or require_equilibrium ran)');
  assert.equal(Object.hasOwn(trace.end, 'kind'), false);
  assert.throws(() => policy.decide({ trace: true }), TypeError);
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
  assert.throws(() => tarn.run('report()', { trace: 'yes' }), TypeError);
  assert.throws(() => tarn.run('report()', { files: { 'a.tarn': 1 } }), TypeError);
  assert.throws(() => tarn.run('report()', { corruptIndex: 4 }), /not below the number of values/);
  assert.throws(() => tarn.run('report()', { payload: 'twelve' }), RangeError);
  assert.throws(() => tarn.run('report()', { context: '{"a":' }), SyntaxError);
  assert.throws(() => tarn.verify('report()', { corruptIndex: -1 }), RangeError);
});
