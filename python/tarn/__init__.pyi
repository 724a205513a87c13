"""The tarn policy engine in process."""

from collections.abc import Mapping, Sequence
from typing import Literal, NotRequired, TypedDict, Union, final

JSONValue = Union[None, bool, int, float, str, Sequence["JSONValue"], Mapping[str, "JSONValue"]]

class RelatedLocation(TypedDict):
    file: str
    line: int
    column: int
    message: str

class Diagnostic(TypedDict):
    """A diagnostic in the JSON form of the command-line tools. Lines and columns count from 1; a
    column counts characters. `offset` is the byte offset in the text's UTF-8 form."""

    file: str | None
    line: int | None
    column: int | None
    end_line: int | None
    end_column: int | None
    offset: int | None
    severity: Literal["error", "warning", "note"]
    code: str
    message: str
    engine_text: str | None
    related: list[RelatedLocation]

class Location(TypedDict):
    """Where a statement stands: the file, its line and column (from 1) and its byte span."""

    file: str
    line: int
    column: int
    offset: int
    length: int

class TracePlace(TypedDict):
    file: str
    line: int
    column: int

class TraceBinding(TypedDict):
    key: str
    position: int | None
    value: float | None
    bound: bool
    reason: str

# One started instruction: a line of `tarn run --trace=jsonl:FILE` without its "kind".
TraceStep = TypedDict(
    "TraceStep",
    {
        "step": int,
        "depth": int,
        "file": str,
        "line": int,
        "column": int,
        "instruction": str,
        "fuel_used": int,
        "residual": float | None,
        "tolerance": float | None,
        "pass": bool,
        "alias": str | None,
        "position": int | None,
        "value": float | None,
        "threshold": float | None,
        "entered": bool | None,
        "bindings": list[TraceBinding],
        "explanation": str,
        "error": str | None,
    },
)

# How the run ended: the last line of `tarn run --trace=jsonl:FILE` without its "kind".
TraceEnd = TypedDict(
    "TraceEnd",
    {
        "decision": Literal["ALLOW", "DENY", "ESCALATE"] | None,
        "pass": bool,
        "residual": float | None,
        "tolerance": float | None,
        "tolerance_set_at": TracePlace | None,
        "escalation": str | None,
        "escalated_at": TracePlace | None,
        "error": str | None,
        "error_at": TracePlace | None,
        "because": str,
    },
)

class Trace(TypedDict):
    steps: list[TraceStep]
    end: TraceEnd

class Lineage(TypedDict):
    executed_commands: list[str]
    final_residual: float | None
    fuel_used: int
    gate_state: str
    identity: str | None

# The result document of `tarn run`, member by member ("pass" is a keyword, hence this form).
# A number that is not finite is None, as the JSON document writes null. When the executed
# commands' texts pass 1 GiB, executed_commands gives way to their count,
# executed_commands_omitted, as in `tarn run`.
RunDocument = TypedDict(
    "RunDocument",
    {
        "budget_limit": float | None,
        "decision": Literal["ALLOW", "DENY", "ESCALATE"],
        "escalation": str | None,
        "executed_commands": NotRequired[list[str]],
        "executed_commands_omitted": NotRequired[int],
        "fuel_used": int,
        "healed_indices": list[int],
        "identity": str | None,
        "last_healed": int | None,
        "lineage": Lineage | None,
        "max_exposure": float | None,
        "pass": bool,
        "replay_hash": str | None,
        "report_path": str | None,
        "report_text": str | None,
        "residual": float | None,
        "residual_log": list[float | None],
        "revealed": float | None,
        "signature": str | None,
        "time_window": int | None,
        "values": list[float | None],
        "volatility_limit": float | None,
        "zk_proof": str | None,
        "trace": NotRequired[Trace],
    },
)

class ParseError(Exception):
    """The policy text does not parse. str() reads `FILE:LINE:COLUMN: ENGINE_TEXT`."""

    file: str
    line: int
    column: int
    offset: int
    code: str
    """Stable, as `tarn check` names it: "unknown-keyword", "unclosed-block", ..."""
    message: str
    """What is wrong, for a person: the message `tarn check` prints."""
    engine_text: str
    """What `tarn check` and `tarn run` print last, such as
    `Parse error: Error(Error { input: "foo", code: Tag })`."""
    diagnostics: list[Diagnostic]
    """The one diagnostic `tarn check --format=json` gives."""

class RunError(Exception):
    """A run failed. str() is the engine's exact text, as `tarn run` prints it.

    `code` is stable, the code of the diagnostic `tarn run` shows: "out-of-fuel",
    "bounds-assertion", "unknown-alias", "no-context", "missing-context-key",
    "position-out-of-range", "memory-shape", "import-failed", "import-too-large",
    "lineage-too-large", or, for an imported file that does not parse, the code of its parse
    error ("unknown-keyword", ...)."""

    code: str
    message: str
    location: Location | None
    """The statement that failed (or, in an imported file that does not parse, the place where
    parsing failed); None when the run failed after its last statement."""
    imported_from: list[Location]
    """The import statements on the way to `location`, innermost first."""
    diagnostics: list[Diagnostic]
    """The one diagnostic `tarn run --format=json` gives."""
    trace: Trace | None
    """The run's trace up to the failure when run(trace=True); else None."""

@final
class CheckResult:
    @property
    def ok(self) -> bool:
        """False when a diagnostic is an error; warnings leave it True."""
    @property
    def canonical(self) -> str | None:
        """What `tarn check` prints: each top-level statement's canonical text on a line."""
    @property
    def diagnostics(self) -> list[Diagnostic]: ...

@final
class Policy:
    """A compiled policy. It never changes: threads may share one and run it at the same time."""

    @property
    def name(self) -> str: ...
    def run(
        self,
        *,
        payload: float = 1337,
        corrupt_index: int | None = None,
        signs: Sequence[int] | None = None,
        values: Sequence[float] | None = None,
        context: JSONValue = None,
        fuel: int = 100000,
        trace: bool = False,
    ) -> RunDocument:
        """Runs the policy as `tarn run` does with the same options and returns its result document.

        The memory is the payload encoded over the signs [1, -1, -1, 1], or `signs` and `values`
        when given (`values` replaces the encoded payload); `corrupt_index` damages one position
        (below the number of values) before the run. `context` is the JSON context (None: no
        context). Imports and report files are the policy's `files`, or the working
        directory's. With `trace`, the document gains "trace": the records of
        `tarn run --trace=jsonl:FILE`. Raises RunError when the run fails, TypeError or
        ValueError for a bad argument."""

def compile(
    text: str, *, name: str = "policy.tarn", files: dict[str, str] | None = None
) -> Policy:
    """Parses a policy once, for many runs; `name` names it in error locations.
    Raises ParseError when it does not parse.

    With `files` (names, exactly as the imports write them, to texts) the policy's runs import
    from those texts alone, and a report goes nowhere but into the result (report_text,
    report_path); without, they import and write in the working directory."""

def check(
    text: str, *, files: dict[str, str] | None = None, name: str = "policy.tarn"
) -> CheckResult:
    """Checks a policy and the files it imports as `tarn check` does, and runs nothing.

    `diagnostics` is what `tarn check --format=json` gives (warnings too); `ok` is False only
    when one is an error. Imports read `files` (names, as the imports write them, to texts), or
    without it the working directory."""

def format(text: str, *, name: str = "policy.tarn") -> str:
    """The text in the standard layout, as `tarn fmt` prints it; it moves white space only.
    Raises ParseError when the text does not parse."""

def verify(
    text: str, *, payload: float = 1337, corrupt_index: int | None = None, json: bool = False
) -> str:
    """Exactly what `qrv-verifier --script=FILE [--payload=] [--corrupt-index=] [--emit=json]`
    prints for a FILE holding `text`. As on the command line, a corrupt_index past the memory
    damages nothing."""
