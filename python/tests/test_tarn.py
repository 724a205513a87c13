"""The Python module against the command-line tools: the same results, to the byte.

The example policies' runs (examples/policies/runs.txt) must give their checked-in expected
outputs in process, and a table of scripts that sets every member of the result document must
give the dict that json.loads reads from `tarn run`. TARN_BIN_DIR names the built tools.
"""

import ast
import json
import os
import shutil
import subprocess
import threading
from pathlib import Path

import pytest

import tarn

EXAMPLES = Path(__file__).resolve().parents[2] / "examples" / "policies"
BIN = Path(os.environ.get("TARN_BIN_DIR", EXAMPLES.parents[1] / "build" / "bin")).resolve()


def typed(value):
    """The value with every number tagged by its type, so that 1, 1.0 and True compare unequal,
    and every dict as its (key, value) pairs, so that member order counts."""
    if isinstance(value, dict):
        return [(key, typed(item)) for key, item in value.items()]
    if isinstance(value, list):
        return [typed(item) for item in value]
    if isinstance(value, (bool, int, float)):
        return (type(value).__name__, value.hex() if isinstance(value, float) else value)
    return value


# The tools' options as keyword arguments of the module.
OPTIONS = {"--payload": ("payload", float), "--corrupt-index": ("corrupt_index", int),
           "--fuel": ("fuel", int)}


def keywords(arguments):
    result = {}
    for argument in arguments:
        if argument == "--emit=json":
            result["json"] = True
            continue
        option, value = argument.split("=", 1)
        name, kind = OPTIONS[option]
        result[name] = kind(value)
    return result


def example_runs():
    labels = {"verifier": "verifier", "run": "tarn-run", "check": "tarn-check",
              "trace": "tarn-trace"}
    for line in (EXAMPLES / "runs.txt").read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            name, script, command, *arguments = line.split()
            run_id = f"{name}.{labels[command]}"
            yield pytest.param(run_id, script, command, arguments, id=run_id)


@pytest.fixture
def policies(tmp_path, monkeypatch):
    """A copy of the example policies as the working directory: imports and reports resolve."""
    shutil.copytree(EXAMPLES, tmp_path / "policies")
    monkeypatch.chdir(tmp_path / "policies")
    return tmp_path / "policies"


@pytest.mark.parametrize("run_id, script, command, arguments", example_runs())
def test_example_runs_give_their_expected_outputs(policies, run_id, script, command, arguments):
    expected = policies / "expected"
    text = Path(script).read_text()
    if command == "verifier":
        assert tarn.verify(text, **keywords(arguments)) == (expected / f"{run_id}.txt").read_text()
    elif command == "check":
        assert tarn.check(text).canonical == (expected / f"{run_id}.txt").read_text()
    elif command == "trace":
        try:
            trace = tarn.compile(text, name=script).run(trace=True, **keywords(arguments))["trace"]
        except tarn.RunError as failure:
            trace = failure.trace
        # The text form: a line per step, then the because line (then a failed run's error).
        lines = (expected / f"{run_id}.txt").read_text().splitlines()
        steps = len(trace["steps"])
        assert [f"step {step['step']} depth {step['depth']} {step['file']}:{step['line']}:"
                f"{step['column']} {step['instruction']};" for step in trace["steps"]] == \
            [line[:line.index(";") + 1] for line in lines[:steps]]
        assert trace["end"]["because"] == lines[steps]
    elif (expected / f"{run_id}.err").exists():
        with pytest.raises(tarn.RunError) as failure:
            tarn.compile(text).run(**keywords(arguments))
        # The tool shows the error located first; its last line is the engine's exact text.
        engine_text = (expected / f"{run_id}.err").read_text().splitlines()[-1]
        assert failure.value.message == engine_text
    else:
        document = json.loads((expected / f"{run_id}.json").read_text())
        assert typed(tarn.compile(text).run(**keywords(arguments))) == typed(document)
    written = expected / f"{run_id}.files"
    for wanted in written.rglob("*") if written.is_dir() else []:
        if wanted.is_file():
            assert (policies / wanted.relative_to(written)).read_bytes() == wanted.read_bytes()


def tool(*arguments, cwd):
    return subprocess.run([str(BIN / arguments[0]), *arguments[1:]], cwd=cwd, capture_output=True,
                          text=True, check=False)


# Scripts that between them set every member of the result document, with the options of
# `tarn run` (and the module) they run under.
RUN_TABLE = [
    ("report()", {}),
    # A block nested 20000 deep on a damaged memory: gigabytes of command texts, counted instead.
    ("report()\n" + "if_broken {" * 20000 + "}" * 20000, {"corrupt_index": 1}),
    ("if_broken { evolve(2) }\ndata(0)\nresidual()\nresidual()", {"corrupt_index": 2}),
    ("budget_limit(2.5)\ntime_window(3600.9)\nvolatility_limit(1e-5)\nmax_exposure(1e300)\n"
     "link_identity(\"ops@example.org\")\ngenerate_zk_proof(true)\nescalate(\"review\")\n"
     "track_lineage(true)\nreport_json()\nreport_to(\"out.json\")", {}),
    ("track_lineage(true)\nresidual()", {"values": [1e308, -1e308, 0.0, 0.0]}),
    ("alias(1, \"amount\")\nbind(\"amount\", 1)\nbind_all()\nreport()",
     {"context": {"amount": 125, "nested": [1, -2, 3.5, None, True, "x"]}}),
    ("harmony(0.5)", {"signs": [1, -1], "values": [2, 1.75], "fuel": 7}),
]


@pytest.mark.parametrize("script, options", RUN_TABLE, ids=lambda value: repr(value)[:40])
def test_run_gives_the_document_of_tarn_run(tmp_path, monkeypatch, script, options):
    (tmp_path / "p.tarn").write_text(script)
    arguments = ["tarn", "run", "p.tarn"]
    for name, value in options.items():
        if name == "context":
            (tmp_path / "context.json").write_text(json.dumps(value))
            value = "context.json"
        elif isinstance(value, list):
            value = ",".join(repr(item) for item in value)
        arguments.append(f"--{name.replace('_', '-')}={value}")
    printed = tool(*arguments, cwd=tmp_path)
    assert printed.returncode == 0, printed.stderr
    monkeypatch.chdir(tmp_path)
    assert typed(tarn.compile(script).run(**options)) == typed(json.loads(printed.stdout))


@pytest.mark.parametrize("arguments", [[], ["--corrupt-index=1", "--emit=json"],
                                       ["--corrupt-index=9"], ["--payload=-1"],
                                       ["--payload=nan", "--emit=json"]])
@pytest.mark.parametrize("script", ["if_broken { evolve(1) }\ndata(0)", "residual(", "// corrupt",
                                    "import(\"missing.tarn\")", "harmony(1e9)"])
def test_verify_prints_what_the_verifier_prints(tmp_path, script, arguments):
    (tmp_path / "p.tarn").write_text(script)
    printed = tool("qrv-verifier", "--script=p.tarn", *arguments, cwd=tmp_path)
    assert tarn.verify(script, **keywords(arguments)) == printed.stdout


def compact(diagnostics):
    """The diagnostics as `--format=json` prints them."""
    return compact_line({"diagnostics": diagnostics}) + "\n"


def test_parse_errors_are_located(tmp_path):
    cases = [  # text, line, column
        ("alias(0, \"a\")\n  foo(1)", 2, 3),
        ("report()\nif_broken {\n  evolve(1)\n", 4, 1),
        ("alias(0, \"\u00e9\") h\u00e9\u00e9(1)", 1, 15),
    ]
    for text, line, column in cases:
        (tmp_path / "p.tarn").write_text(text)
        printed = tool("tarn", "check", "--format=json", "p.tarn", cwd=tmp_path)
        engine_text = printed.stderr.splitlines()[-1]
        with pytest.raises(tarn.ParseError) as failure:
            tarn.compile(text, name="p.tarn")
        error = failure.value
        assert compact(error.diagnostics) == printed.stdout
        [diagnostic] = error.diagnostics
        assert (error.line, error.column) == (line, column)
        assert [error.file, error.offset, error.code, error.message, error.engine_text] == \
            [diagnostic[member] for member in ("file", "offset", "code", "message", "engine_text")]
        assert error.engine_text == engine_text
        assert str(error) == f"p.tarn:{line}:{column}: {engine_text}"
        checked = tarn.check(text, name="p.tarn")
        assert (checked.ok, checked.canonical, checked.diagnostics) == (False, None,
                                                                        error.diagnostics)


def test_check_warns_as_tarn_check_does(tmp_path, monkeypatch):
    shared = 'alias(0, "reserve")\n// corrupt\n'
    (tmp_path / "shared.tarn").write_text(shared)
    cases = [  # text, whether the imports come as files
        ('assert_bounds(0, 1, "x")\ndata(7)\n', False),
        ('import("shared.tarn")\nassert_bounds(0, 1, "reserve")\nimport("gone.tarn")\n', False),
        ('import("shared.tarn")\nassert_bounds(0, 1, "reserve")\nimport("gone.tarn")\n', True),
    ]
    monkeypatch.chdir(tmp_path)
    for text, as_files in cases:
        (tmp_path / "p.tarn").write_text(text)
        printed = tool("tarn", "check", "--format=json", "p.tarn", cwd=tmp_path)
        checked = tarn.check(text, name="p.tarn", files={"shared.tarn": shared} if as_files else None)
        assert compact(checked.diagnostics) == printed.stdout
        assert {d["severity"] for d in checked.diagnostics} == {"warning"}
        assert checked.ok and checked.canonical == tarn.check(text, files={}).canonical


@pytest.mark.parametrize("script, options", [
    ('alias(1, "inflow")\nif_broken { evolve(1) }\nharmony(0.25)\nreport()', {"corrupt_index": 1}),
    ('alias(0, "a")\nbind_all()\nescalate("review")', {"context": {"a": 2, "b": "x"}}),
    ("residual()\nassert_bounds(0, 1, 0)", {}),
])
def test_trace_gives_the_lines_of_tarn_run(tmp_path, monkeypatch, script, options):
    (tmp_path / "p.tarn").write_text(script)
    (tmp_path / "context.json").write_text(json.dumps(options.get("context")))
    arguments = ["--trace=jsonl:t.jsonl", "--context=context.json"]
    arguments += [f"--corrupt-index={options['corrupt_index']}"] if "corrupt_index" in options else []
    tool("tarn", "run", "p.tarn", *arguments, cwd=tmp_path)
    lines = (tmp_path / "t.jsonl").read_text().splitlines()
    monkeypatch.chdir(tmp_path)
    try:
        trace = tarn.compile(script, name="p.tarn").run(trace=True, **options)["trace"]
    except tarn.RunError as failure:
        trace = failure.trace
    records = [{"kind": "step", **step} for step in trace["steps"]] + [{"kind": "end", **trace["end"]}]
    assert typed(records) == typed([json.loads(line) for line in lines])
    assert compact_line(records[-1]) == lines[-1]


def compact_line(value):
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def test_format_prints_what_tarn_fmt_prints(tmp_path):
    messy = "// a comment\n\n\nif_broken{evolve(1)}  // heal\nassert_bounds(0,1,\"x\")"
    (tmp_path / "p.tarn").write_text(messy)
    assert tarn.format(messy) == tool("tarn", "fmt", "p.tarn", cwd=tmp_path).stdout
    with pytest.raises(tarn.ParseError) as failure:
        tarn.format("report()\nif_broken {", name="p.tarn")
    assert (failure.value.line, failure.value.column) == (2, 12)


def test_files_serve_imports_and_keep_reports(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # nothing to import or to write to here
    expected = EXAMPLES / "expected"
    files = {"shared/ledger.tarn": (EXAMPLES / "shared" / "ledger.tarn").read_text()}
    policy = tarn.compile((EXAMPLES / "import-shared.tarn").read_text(), files=files)
    document = json.loads((expected / "import-shared.tarn-run.json").read_text())
    assert typed(policy.run()) == typed(document)
    policy = tarn.compile((EXAMPLES / "lineage-report.tarn").read_text(), files={})
    document = json.loads((expected / "lineage-damaged.tarn-run.json").read_text())
    assert typed(policy.run(corrupt_index=1)) == typed(document)
    assert list(tmp_path.iterdir()) == []
    with pytest.raises(tarn.RunError) as failure:
        tarn.compile('import("shared/ledger.tarn")', files={}).run()
    assert str(failure.value) == "Import failed for 'shared/ledger.tarn': No such file or directory"


def test_run_errors_carry_code_message_and_location(tmp_path, monkeypatch):
    (tmp_path / "inner.tarn").write_text("report()\n  assert_bounds(0, 1, 0)\n")
    (tmp_path / "broken.tarn").write_text("report()\nasert_bounds(0, 1, 0)\n")
    cases = [  # script, run options, code, (line, column), imported from (line, column)
        ("report()\nassert_bounds(0, 100, 0)", {}, "bounds-assertion", (2, 1), []),
        ("alias(0, \"a\")\nbind(\"a\", 0)", {}, "no-context", (2, 1), []),
        ("bind(\"b\", 0)", {"context": {"a": 1}}, "missing-context-key", (1, 1), []),
        ("residual()\nresidual()", {"fuel": 1}, "out-of-fuel", (2, 1), []),
        ("\n import(\"inner.tarn\")", {}, "bounds-assertion", (2, 3), [(2, 2)]),
        ("import(\"broken.tarn\")", {}, "unknown-keyword", (2, 15), [(1, 1)]),
    ]
    monkeypatch.chdir(tmp_path)
    for script, options, code, (line, column), imported_from in cases:
        (tmp_path / "p.tarn").write_text(script)
        (tmp_path / "context.json").write_text(json.dumps(options.get("context")))
        arguments = ["--context=context.json"] if "context" in options else []
        arguments += [f"--fuel={options['fuel']}"] if "fuel" in options else []
        printed = tool("tarn", "run", "--format=json", "p.tarn", *arguments, cwd=tmp_path)
        with pytest.raises(tarn.RunError) as failure:
            tarn.compile(script, name="p.tarn").run(**options)
        error = failure.value
        assert error.message == printed.stderr.splitlines()[-1] and str(error) == error.message
        assert (error.code, compact(error.diagnostics)) == (code, printed.stdout)
        assert (error.location["line"], error.location["column"]) == (line, column)
        assert [(place["line"], place["column"]) for place in error.imported_from] == imported_from


POLICY = tarn.compile("report()")
BAD_ARGUMENTS = [  # call, exception, message
    (lambda: POLICY.run(payload="1337"), TypeError, "payload must be an int or a float, not str"),
    (lambda: POLICY.run(fuel=1.5), TypeError, "fuel must be an int, not float"),
    (lambda: POLICY.run(fuel=True), TypeError, "fuel must be an int, not bool"),
    (lambda: POLICY.run(fuel=-1), ValueError, "fuel must not be negative (got -1)"),
    (lambda: POLICY.run(corrupt_index=4), ValueError,
     "corrupt_index 4 is outside the memory's positions 0 to 3"),
    (lambda: POLICY.run(corrupt_index=-1), ValueError, "corrupt_index must not be negative"),
    (lambda: POLICY.run(signs="1,-1"), TypeError, "signs must be a sequence of ints, not str"),
    (lambda: POLICY.run(signs=[1, 300]), ValueError, "signs[1] must be from -128 to 127 (got 300)"),
    (lambda: POLICY.run(values=[1.0, "2"]), TypeError, "values[1] must be an int or a float"),
    (lambda: POLICY.run(context={"a": {1, 2}}), TypeError, "context holds a set, which is not "
                                                           "JSON-like"),
    (lambda: POLICY.run(context={1: 2}), TypeError, "context keys must be str, not int"),
    (lambda: POLICY.run(context=[float("nan")]), ValueError, "context holds nan"),
    (lambda: POLICY.run(context=2 ** 2000), ValueError, "too large for a JSON number"),
    (lambda: tarn.compile(b"report()"), TypeError, "text must be a str, not bytes"),
    (lambda: tarn.compile("report()\ud800"), ValueError, "text holds a lone surrogate"),
    (lambda: tarn.verify("report()", json=1), TypeError, "json must be a bool, not int"),
    (lambda: tarn.compile("report()", files=["a.tarn"]), TypeError,
     "files must be a dict of names to texts, not list"),
    (lambda: tarn.compile("report()", files={"a.tarn": b"x"}), TypeError,
     "files['a.tarn'] must be a str, not bytes"),
    (lambda: tarn.verify("report()", payload=None), TypeError, "payload must be an int or a float"),
]


@pytest.mark.parametrize("call, exception, message", BAD_ARGUMENTS)
def test_bad_arguments_say_what_is_wrong(call, exception, message):
    with pytest.raises(exception) as failure:
        call()
    assert message in str(failure.value)


def test_a_context_that_contains_itself_is_refused():
    context = []
    context.append(context)
    with pytest.raises(RecursionError):
        POLICY.run(context=context)


def test_threads_share_one_policy():
    policy = tarn.compile("alias(1, \"inflow\")\nif_broken { evolve(1) }\ndata(0)\nresidual()")
    runs = [{"payload": float(payload), "corrupt_index": payload % 4} for payload in range(64)]
    expected = [policy.run(**run) for run in runs]
    results = [[None] * len(runs) for _ in range(4)]

    def decide(slot):
        for _ in range(25):
            for i, run in enumerate(runs):
                results[slot][i] = policy.run(**run)

    threads = [threading.Thread(target=decide, args=(slot,)) for slot in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert all(result == expected for result in results)


def test_the_type_stubs_describe_the_module():
    stub = ast.parse((Path(tarn.__file__).parent / "__init__.pyi").read_text())
    stubbed = {node.name: node for node in stub.body
               if isinstance(node, (ast.FunctionDef, ast.ClassDef))}
    assert {name for name in dir(tarn._tarn) if not name.startswith("_")} <= set(stubbed)
    for name in ("CheckResult", "Policy"):
        members = {node.name for node in stubbed[name].body if isinstance(node, ast.FunctionDef)}
        assert members == {member for member in dir(getattr(tarn, name))
                           if not member.startswith("_")}
