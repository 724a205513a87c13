// Types of the tarn package (index.js).

/** Starts the engine; await it once before any other call. Starts a fresh one after a stop. */
export function init(): Promise<void>;

/** A place related to a diagnostic, such as the import on the way to an error. */
export interface RelatedLocation {
  file: string;
  line: number;
  column: number;
  message: string;
}

/**
 * A diagnostic, in the JSON form of the command-line tools. Lines and columns count from 1; a
 * column counts characters (code points). The place is null when the engine has none.
 */
export interface Diagnostic {
  file: string | null;
  line: number | null;
  column: number | null;
  end_line: number | null;
  end_column: number | null;
  /** Byte offset of the place in the file's UTF-8 text. */
  offset: number | null;
  severity: 'error' | 'warning' | 'note';
  code: string;
  message: string;
  /** The engine's exact text, as the tools print it; null for warnings. */
  engine_text: string | null;
  related: RelatedLocation[];
}

export interface CheckOptions {
  /** The file name diagnostics give the text (default "policy.tarn"). */
  name?: string;
}

export interface FilesOption {
  /**
   * The texts the policy's imports read, by the names the imports give ("shared/ledger.tarn").
   * There is no other file: an import of any other name fails, and a report is kept in the
   * result (report_path, report_text) instead of being written.
   */
  files?: Record<string, string>;
}

export interface CheckResult {
  /** False when a diagnostic is an error; warnings leave it true. */
  ok: boolean;
  /** What `tarn check` prints: each top-level statement's canonical text on a line; null when
   * the text does not parse. */
  canonical: string | null;
  /** What `tarn check --format=json` gives: the policy's parse error or its warnings, then those
   * of the files it imports. */
  diagnostics: Diagnostic[];
}

/** Checks a policy and the files it imports (from `files`), as `tarn check` does; runs nothing. */
export function check(text: string, options?: CheckOptions & FilesOption): CheckResult;

export interface RunOptions {
  /** The payload hidden in the default memory (default 1337); a string is read as `--payload=`. */
  payload?: number | string;
  /** Damage the value at this position before the run (it must be below the number of values). */
  corruptIndex?: number;
  /** The memory's signs (default [1, -1, -1, 1]). */
  signs?: number[];
  /** The memory's values, in place of the encoded payload. */
  values?: number[];
  /** The JSON context: a value, or JSON text (read as a context file is read). */
  context?: unknown;
  /** The most instructions the run may start (default 100000). */
  fuel?: number;
}

export interface TraceOptions {
  /** Add the run's trace to the result (also to a failure). */
  trace?: boolean;
}

/** Where a statement stands: its file, line and column (from 1). */
export interface TracePlace {
  file: string;
  line: number;
  column: number;
}

/** A member of the context as bind or bind_all treated it. */
export interface TraceBinding {
  key: string;
  position: number | null;
  value: number | null;
  bound: boolean;
  reason: string;
}

/** One started instruction, as a line of `tarn run --trace=jsonl:FILE` (without "kind"). */
export interface TraceStep {
  step: number;
  depth: number;
  file: string;
  line: number;
  column: number;
  /** The canonical text, a block's body shown by its size: `Branch([3 statements])`. */
  instruction: string;
  fuel_used: number;
  residual: number | null;
  tolerance: number | null;
  pass: boolean;
  alias: string | null;
  position: number | null;
  value: number | null;
  threshold: number | null;
  entered: boolean | null;
  bindings: TraceBinding[];
  explanation: string;
  error: string | null;
}

/** How the run ended, as the last line of `tarn run --trace=jsonl:FILE` (without "kind"). */
export interface TraceEnd {
  decision: 'ALLOW' | 'DENY' | 'ESCALATE' | null;
  pass: boolean;
  residual: number | null;
  tolerance: number | null;
  /** The harmony or require_equilibrium that set the tolerance; null: the default. */
  tolerance_set_at: TracePlace | null;
  escalation: string | null;
  escalated_at: TracePlace | null;
  /** The run error's message, when the run failed. */
  error: string | null;
  error_at: TracePlace | null;
  /** One sentence for the decision, the last line of `tarn run --trace=text`. */
  because: string;
}

export interface Trace {
  steps: TraceStep[];
  end: TraceEnd;
}

/** The run result document of `tarn run`, member by member. */
export interface RunDocument {
  budget_limit: number | null;
  decision: 'ALLOW' | 'DENY' | 'ESCALATE';
  escalation: string | null;
  /** The canonical text of each instruction started; absent past 1 GiB of them. */
  executed_commands?: string[];
  /** Their count, in place of executed_commands when their texts pass 1 GiB. */
  executed_commands_omitted?: number;
  fuel_used: number;
  healed_indices: number[];
  identity: string | null;
  last_healed: number | null;
  lineage: {
    executed_commands: string[];
    final_residual: number | null;
    fuel_used: number;
    gate_state: string;
    identity: string | null;
  } | null;
  max_exposure: number | null;
  pass: boolean;
  replay_hash: string | null;
  report_path: string | null;
  report_text: string | null;
  residual: number | null;
  residual_log: (number | null)[];
  revealed: number | null;
  signature: string | null;
  time_window: number | null;
  values: (number | null)[];
  volatility_limit: number | null;
  zk_proof: string | null;
  /** With the trace option. */
  trace?: Trace;
  error?: undefined;
}

/** A policy that does not parse, or a run that fails. */
export interface RunFailure {
  /** The engine's exact text, as `tarn run` prints it. */
  error: string;
  diagnostics: Diagnostic[];
  /** With the trace option: the steps up to the failure. */
  trace?: Trace;
}

export type RunResult = RunDocument | RunFailure;

export function run(
  text: string, options?: RunOptions & TraceOptions & CheckOptions & FilesOption): RunResult;

/** A compiled policy, for many runs. */
export class Policy {
  private constructor();
  run(options?: RunOptions & TraceOptions): RunResult;
  /** One run for its decision alone, without the document: {decision}, or the failure. */
  decide(options?: RunOptions): { decision: 'ALLOW' | 'DENY' | 'ESCALATE'; error?: undefined } | RunFailure;
  /** Releases the policy in the engine; it cannot run after that. */
  free(): void;
}

/** The text in the standard layout (`tarn fmt`'s). Throws ParseError when it does not parse. */
export function format(text: string, options?: CheckOptions): string;

/** Parses a policy once. Throws ParseError when it does not parse. */
export function compile(text: string, options?: CheckOptions & FilesOption): Policy;

export interface VerifyOptions extends FilesOption {
  /** --payload= (a string is passed as written, as on the command line). */
  payload?: number | string;
  /** --corrupt-index= */
  corruptIndex?: number;
  /** --emit=json */
  json?: boolean;
}

/** Exactly what `qrv-verifier --script=FILE` prints for a FILE holding `text`. */
export function verify(text: string, options?: VerifyOptions): string;

export class ParseError extends Error {
  readonly engineText: string;
  readonly diagnostics: Diagnostic[];
}

/** The engine stopped inside a call (out of memory); `await init()` starts a new one. */
export class EngineStoppedError extends Error {}
