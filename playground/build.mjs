// Builds the playground page: one script (the app, CodeMirror and the tarn package, whose
// WebAssembly is embedded) beside index.html and style.css, so that the folder works from a static
// file server and from the file system alike (a page opened from a file cannot load modules).
//
//   node playground/build.mjs PACKAGE_DIR OUT_DIR
//     PACKAGE_DIR  the built tarn package (build-wasm/js/package)
//     OUT_DIR      where the page goes (build-wasm/playground)
import { copyFileSync, mkdirSync, readFileSync, readdirSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

import { build } from 'esbuild';

const here = dirname(fileURLToPath(import.meta.url));
const [packageArg, outArg] = process.argv.slice(2);
if (!packageArg || !outArg) {
  console.error('usage: node playground/build.mjs PACKAGE_DIR OUT_DIR');
  process.exit(2);
}
const packageDir = resolve(packageArg);
const outDir = resolve(outArg);

// The example policies with the options of their first `tarn run` in runs.txt and the files they
// import, by the names their imports give.
function examples() {
  const folder = join(here, '..', 'examples', 'policies');
  const runs = readFileSync(join(folder, 'runs.txt'), 'utf8').split('\n')
    .filter((line) => line.trim() !== '' && !line.startsWith('#'))
    .map((line) => line.trim().split(/\s+/));
  return readdirSync(folder).filter((file) => file.endsWith('.tarn')).sort().flatMap((file) => {
    const text = readFileSync(join(folder, file), 'utf8');
    const files = {};
    for (const [, name] of text.matchAll(/\bimport\("([^"]*)"\)/g)) {
      files[name] = readFileSync(join(folder, name), 'utf8');
    }
    const options = {};
    const run = runs.find(([, script, tool]) => script === file && tool === 'run');
    for (const arg of run ? run.slice(3) : []) {
      const [flag, value] = arg.split('=');
      if (flag === '--corrupt-index') options.corruptIndex = value;
      if (flag === '--payload') options.payload = value;
      if (flag === '--fuel') options.fuel = value;
    }
    const summary = (/^\/\/ (.*)$/m.exec(text) || [, ''])[1];
    return [{ name: `${file}: ${summary}`, file, text, files, options }];
  });
}

mkdirSync(outDir, { recursive: true });
await build({
  entryPoints: [join(here, 'src', 'main.js')],
  bundle: true,
  format: 'iife',
  minify: true,
  target: 'es2020',
  outfile: join(outDir, 'app.js'),
  alias: { 'tarn-policy': join(packageDir, 'index.js') },
  // The engine's loader asks import.meta.url only for files it fetches; it fetches none.
  define: { __TARN_EXAMPLES__: JSON.stringify(examples()), 'import.meta.url': '""' },
  logLevel: 'warning',
});
for (const file of ['index.html', 'style.css']) copyFileSync(join(here, file), join(outDir, file));
console.log(`playground: built ${outDir}`);
