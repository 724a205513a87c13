// The playground: edit a policy and see, on every edit, what the tools would say about it.
//
// Everything runs in the page (the engine is the tarn package's WebAssembly), so the page works
// from a plain static file server and from the file system alike. The whole state (policy, the
// files it imports, memory, context, fuel) is kept in the address's fragment, so a link shares a
// policy.
import {
  defaultKeymap, history as editHistory, historyKeymap, indentWithTab,
} from '@codemirror/commands';
import { lintGutter, setDiagnostics } from '@codemirror/lint';
import { EditorSelection, EditorState } from '@codemirror/state';
import {
  EditorView, drawSelection, highlightActiveLine, keymap, lineNumbers,
} from '@codemirror/view';
import * as tarn from 'tarn-policy';

import { tarn as tarnLanguage } from './tarn-language.js';

/* global __TARN_EXAMPLES__ */
// [{name, file, text, files, options: {payload, corruptIndex, fuel}}], from examples/policies
// (build.mjs); `files` holds the texts the example imports.
const examples = __TARN_EXAMPLES__;

const POLICY_NAME = 'policy.tarn';
const DEFAULT_STATE = {
  policy: examples.length > 0 ? examples[0].text : 'report()\n',
  files: {}, // the texts the policy imports, by the names its imports give
  mode: 'payload', // or 'values': the memory from signs and values
  payload: '1337',
  signs: '1,-1,-1,1',
  values: '125.87469806587123,101,99,74.12530193412877',
  corrupt: '',
  context: '',
  fuel: '100000',
  json: false,
};

const $ = (id) => document.getElementById(id);

// ---------------------------------------------------------------------------------------------
// State in the address: "#" and the state as base64url of its JSON.

function encodeState(state) {
  const bytes = new TextEncoder().encode(JSON.stringify(state));
  let binary = '';
  for (const byte of bytes) binary += String.fromCharCode(byte);
  return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function decodeState(fragment) {
  try {
    const binary = atob(fragment.replace(/-/g, '+').replace(/_/g, '/'));
    const bytes = Uint8Array.from(binary, (c) => c.charCodeAt(0));
    const state = JSON.parse(new TextDecoder().decode(bytes));
    return typeof state === 'object' && state !== null ? { ...DEFAULT_STATE, ...state } : null;
  } catch {
    return null;
  }
}

function initialState() {
  const fragment = location.hash.replace(/^#/, '');
  return (fragment && decodeState(fragment)) || { ...DEFAULT_STATE };
}

// ---------------------------------------------------------------------------------------------
// Editors.

function editorState(text, extensions, onChange) {
  return EditorState.create({
    doc: text,
    extensions: [
      lineNumbers(), editHistory(), drawSelection(), highlightActiveLine(),
      keymap.of([...defaultKeymap, ...historyKeymap, indentWithTab]),
      EditorView.updateListener.of((update) => {
        if (update.docChanged) onChange();
      }),
      ...extensions,
    ],
  });
}

const setText = (view, text) =>
  view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: text } });

// A diagnostic's line and column (from 1; a column counts code points) as an editor position.
function position(doc, line, column) {
  if (line === null || line > doc.lines) return doc.length;
  const { from, text } = doc.line(line);
  let offset = 0;
  for (let i = 1; i < column && offset < text.length; ++i) {
    offset += text.codePointAt(offset) > 0xffff ? 2 : 1;
  }
  return from + offset;
}

// Where the statement that begins at `from` ends: after its closing ")", or after the "}" of the
// block it opens. Strings have no escapes; comments run to the end of their line.
function statementEnd(text, from) {
  let depth = 0;
  for (let i = from; i < text.length; ++i) {
    if (text[i] === '"' || text.startsWith('//', i)) {
      const close = text[i] === '"' ? text.indexOf('"', i + 1) : text.indexOf('\n', i) - 1;
      if (close < 0) return text.length;
      i = close;
    } else if (text[i] === '(' || text[i] === '{') {
      ++depth;
    } else if ((text[i] === ')' || text[i] === '}') && --depth === 0) {
      if (text[i] === '}' || !/^\s*\{/.test(text.slice(i + 1))) return i + 1;
    }
  }
  return text.length;
}

// The diagnostics of the file in the editor, errors and warnings alike.
function showDiagnostics(view, file, diagnostics) {
  const doc = view.state.doc;
  const marks = diagnostics
    .filter((d) => d.file === file && d.line !== null)
    .map((d) => {
      const from = position(doc, d.line, d.column);
      const to = Math.max(from, position(doc, d.end_line, d.end_column));
      const notes = d.related
        .map((r) => `\n${r.file}:${r.line}:${r.column}: ${r.message}`).join('');
      return { from, to, severity: d.severity, source: d.code, message: d.message + notes };
    });
  view.dispatch(setDiagnostics(view.state, marks));
}

// ---------------------------------------------------------------------------------------------
// The memory options as the package takes them, or the message of the field that is wrong.

function numberList(text, what, parse) {
  if (text.trim() === '') return [];
  return text.split(',').map((item) => {
    const value = parse(item.trim());
    if (value === null) throw new Error(`${what}: "${item.trim()}" is not a number`);
    return value;
  });
}

const parseValue = (text) => {
  const special = { inf: Infinity, '+inf': Infinity, '-inf': -Infinity, nan: NaN };
  if (text.toLowerCase() in special) return special[text.toLowerCase()];
  return text !== '' && Number.isFinite(Number(text)) ? Number(text) : null;
};
const parseSign = (text) => (/^[+-]?\d+$/.test(text) ? Number(text) : null);

function runOptions(state) {
  const options = { name: POLICY_NAME, files: state.files };
  if (state.mode === 'values') {
    options.signs = numberList(state.signs, 'Signs', parseSign);
    options.values = numberList(state.values, 'Values', parseValue);
  } else {
    options.payload = state.payload.trim();
  }
  if (state.corrupt.trim() !== '') options.corruptIndex = Number(state.corrupt);
  if (state.fuel.trim() !== '') options.fuel = Number(state.fuel);
  if (state.context.trim() !== '') options.context = state.context;
  return options;
}

// The verifier's command line for the state: it takes a payload and a damaged position only.
function verifyArguments(state) {
  const options = { files: state.files };
  const args = [];
  if (state.payload.trim() !== '') {
    options.payload = state.payload.trim();
    args.push(`--payload=${options.payload}`);
  }
  if (state.corrupt.trim() !== '') {
    options.corruptIndex = Number(state.corrupt);
    args.push(`--corrupt-index=${state.corrupt.trim()}`);
  }
  if (state.json) {
    options.json = true;
    args.push('--emit=json');
  }
  args.push(`--script=${POLICY_NAME}`);
  return { options, command: `qrv-verifier ${args.join(' ')}` };
}

// ---------------------------------------------------------------------------------------------
// The panes.

// The decision and the engine's reason for it: the end of the run's trace (a text that does not
// parse has no run, so no trace).
function showDecision(result) {
  const decision = result.error !== undefined ? 'FAILED' : result.decision;
  $('decision').textContent = decision;
  $('decision').className = `decision ${decision.toLowerCase()}`;
  $('because').textContent = result.trace ? result.trace.end.because
    : `The policy does not parse, so nothing ran: ${result.error}`;
}

// The trace as a table, a row per step; a click on a row selects its statement in the editor.
function showTrace(app, trace) {
  const rows = (trace ? trace.steps : []).map((step) => {
    const row = document.createElement('tr');
    const cells = [step.step, `${step.file}:${step.line}:${step.column}`, step.instruction,
      step.fuel_used, step.residual, step.pass];
    for (const value of cells) {
      const cell = document.createElement('td');
      cell.textContent = String(value);
      row.append(cell);
    }
    row.title = step.explanation;
    row.addEventListener('click', () => selectStatement(app, step));
    return row;
  });
  $('trace').replaceChildren(...rows);
}

function selectStatement(app, { file, line, column }) {
  if (file !== app.tab) {
    if (!app.tabs.has(file)) return;
    showTab(app, file);
  }
  const view = app.policyView;
  const from = position(view.state.doc, line, column);
  const to = statementEnd(view.state.doc.toString(), from);
  view.dispatch({ selection: EditorSelection.single(from, to), scrollIntoView: true });
  view.focus();
}

function render(app) {
  const { state } = app;
  saveTab(app);
  state.context = app.contextView.state.doc.toString();
  window.history.replaceState(null, '', `#${encodeState(state)}`);

  const checked = tarn.check(state.policy, { name: POLICY_NAME, files: state.files });
  $('canonical').textContent = checked.ok ? checked.canonical : '(the policy does not parse)';

  const verify = verifyArguments(state);
  $('verify-command').textContent = verify.command;

  let options;
  try {
    options = runOptions(state);
    $('options-error').hidden = true;
  } catch (error) {
    $('options-error').textContent = error.message;
    $('options-error').hidden = false;
    return;
  }
  let result;
  try {
    result = tarn.run(state.policy, { ...options, trace: true });
    $('verdict').textContent = tarn.verify(state.policy, verify.options);
  } catch (error) {
    if (error instanceof tarn.EngineStoppedError) throw error;
    $('options-error').textContent = error.message; // an option the engine cannot take
    $('options-error').hidden = false;
    return;
  }
  showDecision(result);
  showTrace(app, result.trace);
  // The checker's findings; and where the run failed, unless that is the checker's error too.
  showDiagnostics(app.policyView, app.tab,
                  checked.ok ? [...checked.diagnostics, ...(result.diagnostics || [])]
                    : checked.diagnostics);
  const { trace, ...runDocument } = result;
  $('document').textContent = result.error !== undefined
    ? result.error
    : JSON.stringify(runDocument, null, 2);
}

// ---------------------------------------------------------------------------------------------
// Tabs: the policy and the files it imports, each with an editor state of its own (and so its own
// undo history); one editor shows the chosen one.

function tabState(app, text) {
  return editorState(text, [tarnLanguage(), lintGutter()], () => app.schedule());
}

// Copies the text in the editor into the state.
function saveTab(app) {
  const text = app.policyView.state.doc.toString();
  if (app.tab === POLICY_NAME) app.state.policy = text;
  else app.state.files[app.tab] = text;
}

function showTab(app, name) {
  saveTab(app);
  app.tabs.set(app.tab, app.policyView.state);
  app.tab = name;
  app.policyView.setState(app.tabs.get(name));
  renderTabs(app);
  app.schedule();
}

function renderTabs(app) {
  const bar = $('tabs');
  bar.replaceChildren();
  for (const name of [POLICY_NAME, ...Object.keys(app.state.files)]) {
    const tab = document.createElement('button');
    tab.type = 'button';
    tab.className = name === app.tab ? 'tab current' : 'tab';
    tab.textContent = name;
    tab.dataset.file = name;
    tab.addEventListener('click', () => showTab(app, name));
    bar.append(tab);
    if (name === POLICY_NAME) continue;
    const close = document.createElement('button');
    close.type = 'button';
    close.className = 'tab-close';
    close.title = `Remove ${name}`;
    close.textContent = '\u00d7';
    close.addEventListener('click', () => {
      if (app.tab === name) showTab(app, POLICY_NAME);
      delete app.state.files[name];
      app.tabs.delete(name);
      renderTabs(app);
      app.schedule();
    });
    bar.append(close);
  }
}

// Starts every tab afresh from the state (a loaded example or address).
function loadTabs(app) {
  app.tabs = new Map([[POLICY_NAME, tabState(app, app.state.policy)]]);
  for (const [name, text] of Object.entries(app.state.files)) {
    app.tabs.set(name, tabState(app, text));
  }
  app.tab = POLICY_NAME;
  app.policyView.setState(app.tabs.get(POLICY_NAME));
  renderTabs(app);
}

function addFile(app) {
  const name = $('new-file').value.trim();
  if (name === '' || name === POLICY_NAME || name in app.state.files) return;
  app.state.files[name] = '';
  app.tabs.set(name, tabState(app, ''));
  $('new-file').value = '';
  showTab(app, name);
}

// ---------------------------------------------------------------------------------------------
// Controls.

const FIELDS = ['payload', 'signs', 'values', 'corrupt', 'fuel'];

function showMode(state) {
  for (const input of document.querySelectorAll('input[name="mode"]')) {
    input.checked = input.value === state.mode;
  }
  $('payload').disabled = state.mode !== 'payload';
  $('signs').disabled = state.mode !== 'values';
  $('values').disabled = state.mode !== 'values';
}

function loadState(app, state) {
  Object.assign(app.state, state, { files: { ...state.files } });
  for (const field of FIELDS) $(field).value = state[field];
  $('emit-json').checked = state.json;
  showMode(state);
  loadTabs(app);
  setText(app.contextView, state.context);
  app.schedule();
}

function connect(app) {
  const schedule = () => app.schedule();
  for (const field of FIELDS) {
    $(field).addEventListener('input', () => {
      app.state[field] = $(field).value;
      schedule();
    });
  }
  for (const input of document.querySelectorAll('input[name="mode"]')) {
    input.addEventListener('change', () => {
      app.state.mode = input.value;
      showMode(app.state);
      schedule();
    });
  }
  $('emit-json').addEventListener('change', () => {
    app.state.json = $('emit-json').checked;
    schedule();
  });

  for (const [index, example] of examples.entries()) {
    const option = document.createElement('option');
    option.value = String(index);
    option.textContent = example.name;
    $('example').append(option);
  }
  $('example').addEventListener('change', () => {
    const example = examples[Number($('example').value)];
    if (!example) return;
    loadState(app, {
      ...DEFAULT_STATE,
      policy: example.text,
      files: example.files,
      payload: example.options.payload ?? DEFAULT_STATE.payload,
      corrupt: example.options.corruptIndex ?? '',
      fuel: example.options.fuel ?? DEFAULT_STATE.fuel,
    });
  });

  $('add-file').addEventListener('click', () => addFile(app));
  $('new-file').addEventListener('keydown', (event) => {
    if (event.key === 'Enter') addFile(app);
  });

  // Formatting needs a text that parses; when the policy does not, its error is underlined.
  $('format').addEventListener('click', () => {
    try {
      setText(app.policyView, tarn.format(app.policyView.state.doc.toString()));
    } catch (error) {
      if (!(error instanceof tarn.ParseError)) throw error;
    }
  });
}

async function main() {
  const state = initialState();
  // Every change schedules one render, once the engine has started.
  let pending = 0;
  const app = {
    state,
    ready: false,
    schedule() {
      clearTimeout(pending);
      if (app.ready) pending = setTimeout(() => render(app), 120);
    },
  };
  app.policyView = new EditorView({ parent: $('editor') });
  app.contextView = new EditorView({
    parent: $('context'),
    state: editorState(state.context, [], () => app.schedule()),
  });
  loadState(app, state);
  connect(app);
  await tarn.init();
  app.ready = true;
  $('status').textContent = 'Runs in your browser on every edit.';
  render(app);
  document.body.dataset.ready = 'true';
}

main().catch((error) => {
  $('status').textContent = `The engine could not start: ${error.message}`;
  throw error;
});
