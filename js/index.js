// tarn for JavaScript: the policy engine and the verifier's verdict, in Node and in browsers.
//
// The engine is the same C++ library the command-line tools are built from, compiled to
// WebAssembly (tarn-core.mjs embeds it). Every answer is the tools' own: check() gives the
// canonical text `tarn check` prints, run() the document `tarn run` prints, verify() the text
// `qrv-verifier --script=` prints, byte for byte.
//
//   import { init, check, run, verify } from 'tarn-policy';
//   await init();
//   run('assert_bounds(0, 200, 0)', { payload: 125 }).decision   // "ALLOW"
//
// Texts cross into the module as UTF-8 and answers come back as JSON text, parsed here.
import createTarnCore from './tarn-core.mjs';

const encoder = new TextEncoder();
const decoder = new TextDecoder();

// The Output statuses of the module (binding.cpp) other than a result (0).
const FAILURE = 1;
const BAD_REQUEST = 2;

const DEFAULT_NAME = 'policy.tarn';

let core = null; // the running module
let starting = null; // its start, while init() is under way
let generation = 0; // counts the modules started, so that a policy knows its own

/**
 * Starts the engine. Call it once and await it before anything else; calling it again is cheap,
 * and starts a fresh engine after one has stopped (see EngineStoppedError).
 */
export async function init() {
  if (core) return;
  if (!starting) {
    starting = createTarnCore()
      .then((module) => {
        core = module;
        generation += 1;
      })
      .finally(() => {
        starting = null;
      });
  }
  await starting;
}

/** The engine stopped inside a call (it ran out of memory); `await init()` starts a new one. */
export class EngineStoppedError extends Error {
  constructor(cause) {
    super(`tarn: the engine stopped (${cause && cause.message ? cause.message : cause}); ` +
          'call init() again', { cause });
    this.name = 'EngineStoppedError';
  }
}

/** A policy text that does not parse, from compile() or format(): `diagnostics` says where. */
export class ParseError extends Error {
  constructor(failure) {
    super(failure.error);
    this.name = 'ParseError';
    this.engineText = failure.error;
    this.diagnostics = failure.diagnostics;
  }
}

function engine() {
  if (!core) throw new Error('tarn: the engine is not started; call `await init()` first');
  return core;
}

// A request the module's memory has no room for; the module itself is unharmed.
class NoRoomError extends RangeError {}

// Calls the module. Anything else thrown from inside it means the module is no longer sound.
function enter(call) {
  const module = engine();
  try {
    return call(module);
  } catch (error) {
    if (error instanceof NoRoomError) throw error;
    core = null;
    throw new EngineStoppedError(error);
  }
}

// `size` bytes of the module's memory, or a RangeError when it has no room for them.
function allocate(module, size) {
  const address = module._malloc(size) >>> 0;
  if (address === 0) {
    throw new NoRoomError(`tarn: the engine's memory has no room for ${size} bytes`);
  }
  return address;
}

// Copies `text` into the module's memory as UTF-8 and returns [address, length]; free the address.
// The empty text is [0, 0].
function put(module, text) {
  if (text.length === 0) return [0, 0];
  const capacity = text.length * 3;
  const address = allocate(module, capacity);
  const { written } = encoder.encodeInto(text, module.HEAPU8.subarray(address, address + capacity));
  return [address, written];
}

// Six words in the module's memory that tarn_output_fields fills, allocated once a module.
const fieldsOf = new WeakMap();

// Reads and frees an Output of the module: {text, status, policy, trace}.
function take(module, output) {
  let fields = fieldsOf.get(module);
  if (fields === undefined) {
    fields = allocate(module, 24);
    fieldsOf.set(module, fields);
  }
  module._tarn_output_fields(output, fields);
  const words = module.HEAPU32;
  const word = fields >>> 2;
  const textAt = (at) => (words[at + 1] === 0 ? ''
    : decoder.decode(module.HEAPU8.subarray(words[at], words[at] + words[at + 1])));
  const result = {
    text: textAt(word),
    status: words[word + 2],
    policy: words[word + 3],
    trace: textAt(word + 4),
  };
  module._tarn_output_free(output);
  return result;
}

// Calls `fn(module, address, length)` with `text` in the module's memory and takes its Output.
function callWithText(fn, text) {
  return enter((module) => {
    const [address, length] = put(module, text);
    try {
      return take(module, fn(module, address, length));
    } finally {
      module._free(address);
    }
  });
}

// As callWithText, with any number of texts: `fn(module, address1, length1, address2, ...)`.
function callWithTexts(fn, ...texts) {
  return enter((module) => {
    const args = [];
    try {
      for (const text of texts) args.push(...put(module, text));
      return take(module, fn(module, ...args));
    } finally {
      for (let i = 0; i < args.length; i += 2) module._free(args[i]);
    }
  });
}

function checkOptions(options, allowed, what) {
  if (options === undefined || options === null) return {};
  if (typeof options !== 'object') throw new TypeError(`tarn: ${what} options must be an object`);
  for (const key of Object.keys(options)) {
    if (!allowed.includes(key) && options[key] !== undefined) {
      throw new TypeError(`tarn: ${what} has no option '${key}' (it takes ${allowed.join(', ')})`);
    }
  }
  return options;
}

function checkText(text, what) {
  if (typeof text !== 'string') {
    throw new TypeError(`tarn: ${what} takes the policy text as a string`);
  }
  return text;
}

// The files option as the module takes it: JSON of {name: text}, or the empty text for none.
function filesText(files) {
  if (files === undefined) return '';
  if (typeof files !== 'object' || files === null || Array.isArray(files)) {
    throw new TypeError('tarn: files must be an object of names and texts');
  }
  for (const [name, text] of Object.entries(files)) {
    if (typeof text !== 'string') throw new TypeError(`tarn: the text of file '${name}' must be a string`);
  }
  return JSON.stringify(files);
}

function checkName(name) {
  if (name === undefined) return DEFAULT_NAME;
  if (typeof name !== 'string') throw new TypeError('tarn: name must be a string');
  return name;
}

// A number as the script's number syntax writes it, exactly (String() drops the sign of -0).
function numberText(value, what) {
  if (typeof value !== 'number') throw new TypeError(`tarn: ${what} must be a number`);
  return Object.is(value, -0) ? '-0' : String(value);
}

function countOption(value, what) {
  if (!Number.isSafeInteger(value) || value < 0) {
    throw new RangeError(
      `tarn: ${what} must be a whole number from 0 to ${Number.MAX_SAFE_INTEGER}`);
  }
  return value;
}

function payloadText(payload) {
  return typeof payload === 'string' ? payload : numberText(payload, 'payload');
}

/**
 * Checks a policy and the files it imports, as `tarn check` does, and runs nothing: {ok, canonical,
 * diagnostics}. `ok` is false when there is an error (warnings leave it true); `canonical` is what
 * `tarn check` prints (one canonical text per top-level statement, each on its own line), null
 * when the text does not parse; `diagnostics` is what `tarn check --format=json` gives.
 */
export function check(text, options) {
  checkText(text, 'check');
  const { name, files } = checkOptions(options, ['name', 'files'], 'check');
  const output = callWithTexts((module, ...texts) => module._tarn_check(...texts), text,
                               checkName(name), filesText(files));
  if (output.status === BAD_REQUEST) throw new RangeError(`tarn: ${output.text}`);
  return JSON.parse(output.text);
}

/**
 * The text in the standard layout, as `tarn fmt` writes it (white space moves, nothing else).
 * Throws ParseError when the text does not parse.
 */
export function format(text, options) {
  checkText(text, 'format');
  const { name } = checkOptions(options, ['name'], 'format');
  const output = callWithTexts((module, ...texts) => module._tarn_format(...texts), text,
                               checkName(name));
  if (output.status === BAD_REQUEST) throw new RangeError(`tarn: ${output.text}`);
  if (output.status === FAILURE) throw new ParseError(JSON.parse(output.text));
  return output.text;
}

// Frees the policies that were never freed, once they are garbage.
const unreleased = new FinalizationRegistry(({ handle, owner }) => {
  if (core && owner === generation) core._tarn_policy_free(handle);
});

/** A compiled policy: run it as often as you like, then free() it (or leave that to the GC). */
export class Policy {
  #handle;
  #generation;

  /** @internal */
  constructor(handle) {
    this.#handle = handle;
    this.#generation = generation;
    unreleased.register(this, { handle, owner: generation }, this);
  }

  /** One run, as the run() function gives it, without parsing the text again. */
  run(options) {
    const output = this.#run(options, RUN_OPTIONS, 'run', false);
    const result = JSON.parse(output.text);
    if (output.trace !== '') result.trace = traceOf(output.trace);
    return result;
  }

  /**
   * One run for its decision alone: {decision} ("ALLOW", "DENY" or "ESCALATE"), or the failure
   * as run() gives it. Several times faster than run(), which writes and reads the whole document.
   */
  decide(options) {
    const output = this.#run(options, DECIDE_OPTIONS, 'decide', true);
    return output.status === FAILURE ? JSON.parse(output.text) : { decision: output.text };
  }

  #run(options, allowed, what, decisionOnly) {
    if (this.#handle === 0) throw new Error('tarn: this policy has been freed');
    if (this.#generation !== generation || !core) {
      throw new Error('tarn: this policy belongs to an engine that has stopped; compile it again');
    }
    const checked = checkOptions(options, allowed, what);
    const values = memoryValues(checked.values);
    const request = runRequest(checked);
    const handle = this.#handle;
    const output = callWithText((module, address, length) => {
      if (values === null) return module._tarn_run(handle, address, length, 0, -1, decisionOnly);
      const valuesAddress = allocate(module, 8 * values.length + 8);
      try {
        module.HEAPF64.set(values, valuesAddress >>> 3);
        return module._tarn_run(handle, address, length, valuesAddress, values.length,
                                decisionOnly);
      } finally {
        module._free(valuesAddress);
      }
    }, request);
    if (output.status === BAD_REQUEST) throw new RangeError(`tarn: ${output.text}`);
    return output;
  }

  /** Releases the policy's memory in the engine; the policy cannot run after that. */
  free() {
    if (this.#handle === 0) return;
    unreleased.unregister(this);
    if (core && this.#generation === generation) core._tarn_policy_free(this.#handle);
    this.#handle = 0;
  }
}

function compileOrFailure(text, options) {
  checkText(text, 'compile');
  const output = callWithTexts((module, ...texts) => module._tarn_compile(...texts), text,
                               checkName(options.name), filesText(options.files));
  if (output.status === BAD_REQUEST) throw new RangeError(`tarn: ${output.text}`);
  if (output.status === FAILURE) return { failure: JSON.parse(output.text) };
  return { policy: new Policy(output.policy) };
}

/**
 * Parses a policy once, for many runs. `files` ({name: text}) holds the texts its imports read,
 * by the names they give; a report stays in the result. Throws ParseError when it does not parse.
 */
export function compile(text, options) {
  const compiled = compileOrFailure(text, checkOptions(options, ['name', 'files'], 'compile'));
  if (compiled.failure) throw new ParseError(compiled.failure);
  return compiled.policy;
}

const DECIDE_OPTIONS = ['payload', 'corruptIndex', 'signs', 'values', 'context', 'fuel'];
const RUN_OPTIONS = [...DECIDE_OPTIONS, 'trace'];

// The trace of a run from its JSON lines (`tarn run --trace=jsonl:FILE`): {steps, end}, each
// line's object without its "kind", which the place it stands in says.
function traceOf(lines) {
  const records = lines.trimEnd().split('\n').map((line) => {
    const { kind, ...record } = JSON.parse(line);
    return record;
  });
  return { steps: records.slice(0, -1), end: records[records.length - 1] };
}

// The values option as doubles, or null when it is absent.
function memoryValues(values) {
  if (values === undefined) return null;
  if (!Array.isArray(values) && !(values instanceof Float64Array)) {
    throw new TypeError('tarn: values must be an array of numbers');
  }
  for (const value of values) {
    if (typeof value !== 'number') throw new TypeError('tarn: values must be an array of numbers');
  }
  return values;
}

// The module's run request (binding.cpp), of every option but the values, which travel as doubles.
// The payload travels as text, exactly, in the command line's syntax.
function runRequest(options) {
  const request = {};
  if (options.payload !== undefined) request.payload = payloadText(options.payload);
  if (options.signs !== undefined) {
    if (!Array.isArray(options.signs)) throw new TypeError('tarn: signs must be an array');
    for (const sign of options.signs) {
      if (!Number.isInteger(sign) || sign < -128 || sign > 127) {
        throw new RangeError(`tarn: a sign must be a whole number from -128 to 127, not ${sign}`);
      }
    }
    request.signs = options.signs;
  }
  if (options.corruptIndex !== undefined) {
    request.corrupt_index = countOption(options.corruptIndex, 'corruptIndex');
  }
  if (options.fuel !== undefined) request.fuel = countOption(options.fuel, 'fuel');
  if (options.trace !== undefined) {
    if (typeof options.trace !== 'boolean') throw new TypeError('tarn: trace must be a boolean');
    request.trace = options.trace;
  }
  if (options.context !== undefined) {
    if (typeof options.context === 'string') {
      JSON.parse(options.context); // a SyntaxError that says where the text is wrong
      request.context = options.context;
    } else {
      request.context = JSON.stringify(options.context);
    }
  }
  return Object.keys(request).length === 0 ? '' : JSON.stringify(request);
}

/**
 * Runs a policy over a state memory: the `tarn run` result document as an object, or, when the
 * text does not parse or the run fails, {error, diagnostics} with `error` the engine's exact text
 * and `diagnostics` what `tarn run --format=json` gives. With `trace: true` either gains `trace`,
 * {steps, end}, the records of `tarn run --trace=jsonl:FILE`.
 */
export function run(text, options) {
  const { name, files, ...runOptions } =
    checkOptions(options, ['name', 'files', ...RUN_OPTIONS], 'run');
  const compiled = compileOrFailure(text, { name, files });
  if (compiled.failure) return compiled.failure;
  try {
    return compiled.policy.run(runOptions);
  } finally {
    compiled.policy.free();
  }
}

/**
 * The verifier's verdict on a policy: exactly what `qrv-verifier --script=FILE` prints for a FILE
 * holding `text`, with --payload, --corrupt-index and --emit=json from the options. A payload
 * given as a string is read as the command line reads it (a malformed one is ignored there too).
 */
export function verify(text, options) {
  checkText(text, 'verify');
  const { payload, corruptIndex, json, files } = checkOptions(
    options, ['payload', 'corruptIndex', 'json', 'files'], 'verify');
  const payloadArgument = payload === undefined ? '' : payloadText(payload);
  const index = corruptIndex === undefined ? -1 : countOption(corruptIndex, 'corruptIndex');
  if (json !== undefined && typeof json !== 'boolean') {
    throw new TypeError('tarn: json must be a boolean');
  }
  const output = callWithTexts(
    (module, ...texts) => module._tarn_verify(...texts, index, json === true), text,
    payloadArgument, filesText(files));
  return output.text;
}
