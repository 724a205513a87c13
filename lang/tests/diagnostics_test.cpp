// Diagnostics of parse and run errors, the checker's warnings, the three forms, and traces.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "memory_fixture.hpp"
#include "tarn/lang/checker.hpp"
#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/policy.hpp"
#include "tarn/lang/trace.hpp"
#include "tarn/testing/scratch.hpp"

namespace tarn::lang {
namespace {

using tarn::testing::ScratchDir;

// "FILE:LINE:COLUMN CODE" of a diagnostic.
std::string place(const Diagnostic& diagnostic) {
  return diagnostic.file + ":" + std::to_string(diagnostic.line) + ":" +
         std::to_string(diagnostic.column) + " " + diagnostic.code;
}

std::string place(const RelatedLocation& related) {
  return related.file + ":" + std::to_string(related.line) + ":" + std::to_string(related.column);
}

TEST(Diagnostics, ParseErrors) {
  struct Case {
    std::string script;
    std::string where;     // "LINE:COLUMN CODE"
    std::string fragment;  // of the message
  };
  const Case cases[] = {
      // The parse errors of the language reference, each once.
      {"foo(1)\n", "1:1 unknown-keyword", "unknown keyword `foo`"},
      {"Report()\n", "1:8 unknown-keyword", "did you mean `report`?"},
      {"foo\nreport()\n", "1:4 unknown-keyword", "`foo`"},
      {"report ()\n", "1:7 misplaced-white-space", "between `report` and its `(`"},
      {"evolve( 1)\n", "1:8 misplaced-white-space", "after `(`"},
      {"evolve(1 )\n", "1:9 misplaced-white-space", "before `)`"},
      {"track_lineage(True)\n", "1:15 expected-boolean", "found `True`"},
      {"if_broken { // note\n}\n", "1:13 comment-in-block", "only between top-level"},
      {"if_broken {\n  report()\n", "3:1 unclosed-block", "opened at 1:11 is never closed"},
      {"report()\n// last", "2:1 unterminated-comment", "without a line feed"},
      // And the other kinds.
      {"asert_bounds(50, 150, \"reserve\")\n", "1:16 unknown-keyword",
       "did you mean `assert_bounds`?"},
      {"escalate(\"open\n", "1:11 unterminated-string", "no closing quote"},
      {"assert_bounds(0, 1, \"open", "1:21 unterminated-string", "no closing quote"},
      {"assert_bounds(0, 1, x)", "1:21 expected-string-or-number", "found `x`"},
      {"data(1e)\n", "1:6 exponent-without-digits", "`1e` has no digits"},
      {"harmony(-inf)\n", "1:9 expected-number", "take no sign"},
      {"data()\n", "1:6 expected-number", "found `)`"},
      {"report_to(out)\n", "1:11 expected-string", "found `out`"},
      {"bind(\"k\" , 1)\n", "1:9 misplaced-white-space", "before `,`"},
      {"bind(\"k\", 1\n", "1:12 expected-punctuation", "expected `)`, found the end of the line"},
      {"report(\n  }", "1:8 expected-punctuation", "a number or `)`"},
      {"if_broken(\n", "1:10 expected-punctuation", "expected `{`"},
      {"bind_all( )\n", "1:9 expected-punctuation", "exactly `()`"},
      {"}\n", "1:1 expected-statement", "closes no block"},
      {"\xEF\xBB\xBFreport()\n", "1:1 expected-statement", "byte order mark"},
      // Columns count characters: a tab and "é" are one each.
      {"\talias(0, \"\xC3\xA9\")report ()\n", "1:21 misplaced-white-space", "`report`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const auto program = parse_program(c.script);
    ASSERT_FALSE(program.has_value());
    const Diagnostic diagnostic = parse_error_diagnostic(program.error(), c.script, "p.tarn");
    EXPECT_EQ(place(diagnostic), "p.tarn:" + c.where);
    EXPECT_NE(diagnostic.message.find(c.fragment), std::string::npos) << diagnostic.message;
    EXPECT_EQ(diagnostic.engine_text, "Parse error: " + parse_error_text(program.error()));
  }
}

TEST(Diagnostics, NotesOfParseErrors) {
  const std::string open = "if_broken {\n  if_broken {\n  }\n";
  const Diagnostic unclosed = parse_error_diagnostic(parse_program(open).error(), open, "o.tarn");
  ASSERT_EQ(unclosed.related.size(), 1u);
  EXPECT_EQ(place(unclosed.related[0]), "o.tarn:1:11");

  // A string that ends at a quote after a backslash: the note says strings have no escapes.
  const std::string quote = "escalate(\"say \\\"no\\\"\")\n";
  const Diagnostic escaped = parse_error_diagnostic(parse_program(quote).error(), quote, "q.tarn");
  EXPECT_EQ(place(escaped), "q.tarn:1:17 expected-punctuation");
  ASSERT_EQ(escaped.related.size(), 1u);
  EXPECT_EQ(place(escaped.related[0]), "q.tarn:1:15");
  EXPECT_NE(escaped.related[0].message.find("no escape sequences"), std::string::npos);
}

// Errors inside imported files are located there, with a note at each import on the way; a
// policy compiled without spans finds the same places once its run has failed.
TEST(Diagnostics, RunErrorsInImportedFiles) {
  const ScratchDir dir;
  const std::string broken = dir.write(
      "broken.tarn", "alias(0, \"x\")\nif_broken {\n  if_greater_than(\"x\", 1) {\n    report(\n  }\n}\n");
  const std::string inner =
      dir.write("inner.tarn", "if_broken {\n  assert_bounds(0, 1, 0)\n}\n");
  const std::string middle = dir.write("middle.tarn", "report()\nimport(\"" + inner + "\")\n");
  struct Case {
    std::string script;
    std::string where;
    std::vector<std::string> notes;
  };
  const Case cases[] = {
      {"import(\"" + broken + "\")\n", broken + ":4:12 expected-punctuation", {"p.tarn:1:1"}},
      {"report()\nif_broken {\n  import(\"" + middle + "\")\n}\n",
       inner + ":2:3 bounds-assertion", {middle + ":2:1", "p.tarn:3:3"}},
      {"report()\nassert_bounds(0, 1, \"nobody\")\n", "p.tarn:2:1 unknown-alias", {}},
  };
  for (const Case& c : cases) {
    for (const bool spans : {true, false}) {
      SCOPED_TRACE(c.script + (spans ? " with spans" : " without spans"));
      const auto policy = compile(c.script, "p.tarn", {.spans = spans});
      ASSERT_TRUE(policy.has_value());
      Memory memory = Memory::damaged(1);
      const auto run = evaluate(*policy, {memory.signs, memory.values}, nullptr);
      ASSERT_FALSE(run.has_value());
      const Diagnostic diagnostic = run_error_diagnostic(run.error(), "p.tarn", c.script);
      EXPECT_EQ(place(diagnostic), c.where);
      EXPECT_EQ(diagnostic.engine_text, run.error().message);
      ASSERT_EQ(diagnostic.related.size(), c.notes.size());
      for (std::size_t i = 0; i < c.notes.size(); ++i) {
        EXPECT_EQ(place(diagnostic.related[i]), c.notes[i]);
        EXPECT_EQ(diagnostic.related[i].message, "imported from here");
      }
    }
  }
}

TEST(Checker, Warnings) {
  // The files imports may name, read through a stub.
  const std::map<std::string, std::string> files = {
      {"ledger", "alias(0, \"reserve\")\n// corrupt on purpose\n"},
      {"broken", "report(\n"},
      {"a", "import(\"b\")\n"},
      {"b", "residual()\nimport(\"a\")\n"},
  };
  CheckOptions options;
  options.read = [&](const std::string& path) -> Result<SourceText, ReadError> {
    const auto file = files.find(path);
    if (file == files.end()) return fail(ReadError{"No such file or directory"});
    return SourceText(file->second);
  };
  struct Case {
    std::string script;
    std::vector<std::string> expected;  // "FILE:LINE:COLUMN CODE" of each diagnostic, in order
    std::string fragment;               // of the first message
  };
  const Case cases[] = {
      {"alias(1, \"inflow\")\nif_broken { if_greater_than(\"inflw\", 1) { } }\n",
       {"p:2:29 unknown-alias"}, "did you mean \"inflow\"?"},
      {"// corrupted memory\nreport()\n", {"p:1:4 corrupt-text"}, "refuses this script"},
      {"evolve(-1)\ncorrupt(2.5)\n",
       {"p:1:8 saturated-position", "p:2:1 corrupt-text", "p:2:9 saturated-position"},
       "runs as `Evolve(0)`"},
      {"alias(4, \"x\")\nbind(\"k\", 1e30)\n",
       {"p:1:7 position-out-of-range", "p:2:11 position-out-of-range"}, "\"x\" names position 4"},
      {"bind_all()\n", {"p:1:1 bind-all-without-alias"}, "binds nothing"},
      {"import(\"missing\")\n", {"p:1:1 import-failed"}, "No such file or directory"},
      {"import(\"broken\")\n", {"broken:1:8 import-parse-error"}, "does not parse"},
      {"import(\"a\")\n", {"b:2:1 import-cycle"}, "a -> b -> a"},
      {"import(\"ledger\")\nassert_bounds(0, 1, \"reserve\")\nimport(\"ledger\")\n",
       {"ledger:2:4 corrupt-in-import"}, "runs this file anyway"},
      {"alias(3, \"x\")\nassert_bounds(0, 1, \"x\")\nevolve(3)\n", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const std::vector<PolicyFile> policies{{"p", c.script}};
    const CheckReport report = check_policies(policies, options);
    std::vector<std::string> actual;
    for (const Diagnostic& diagnostic : report.diagnostics) {
      EXPECT_EQ(diagnostic.severity, DiagnosticSeverity::Warning);
      actual.push_back(place(diagnostic));
    }
    EXPECT_EQ(actual, c.expected);
    if (!report.diagnostics.empty()) {
      EXPECT_NE(report.diagnostics[0].message.find(c.fragment), std::string::npos)
          << report.diagnostics[0].message;
    }
    ASSERT_EQ(report.policies.size(), 1u);
    EXPECT_TRUE(report.policies[0].program.has_value());
  }

  // A memory given instead of the verifier's; a policy that does not parse is an error.
  options.value_count = 2;
  options.values_given = true;
  const std::vector<PolicyFile> policies{{"p", "evolve(1)\nevolve(2)\n"}, {"q", "report(\n"}};
  const CheckReport report = check_policies(policies, options);
  ASSERT_EQ(report.diagnostics.size(), 2u);
  EXPECT_EQ(place(report.diagnostics[0]), "p:2:8 position-out-of-range");
  EXPECT_NE(report.diagnostics[0].message.find("the memory given has 2 values"), std::string::npos);
  EXPECT_EQ(place(report.diagnostics[1]), "q:1:8 expected-punctuation");
  EXPECT_EQ(report.diagnostics[1].severity, DiagnosticSeverity::Error);
  EXPECT_FALSE(report.policies[1].program.has_value());
}

TEST(DiagnosticForms, TextJsonAndSarif) {
  const std::string text = "alias(0, \"r\")\n\tasert_bounds(0, 1, \"r\")\n";
  const Diagnostic diagnostic = parse_error_diagnostic(parse_program(text).error(), text, "p.tarn");
  std::string out;
  append_diagnostic_text(out, diagnostic);
  EXPECT_EQ(out,
            "p.tarn:2:16: error: unknown keyword `asert_bounds`; did you mean `assert_bounds`?\n"
            " 2 | \tasert_bounds(0, 1, \"r\")\n"
            "   | \t              ^\n"
            "p.tarn:2:2: note: the unknown name stands here\n"
            " 2 | \tasert_bounds(0, 1, \"r\")\n"
            "   | \t^\n"
            "Parse error: Error(Error { input: \", 1, \\\"r\\\")\\n\", code: Tag })\n");

  std::string json;
  append_diagnostics_json(json, std::span(&diagnostic, 1));
  const auto document = nlohmann::ordered_json::parse(json);
  std::vector<std::string> keys;
  for (const auto& [key, value] : document["diagnostics"][0].items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"file", "line", "column", "end_line", "end_column",
                                            "offset", "severity", "code", "message",
                                            "engine_text", "related"}));
  EXPECT_EQ(document["diagnostics"][0]["related"][0].size(), 4u);

  std::string sarif;
  append_diagnostics_sarif(sarif, std::span(&diagnostic, 1), "tarn", "0.1.0");
  const auto log = nlohmann::json::parse(sarif);
  EXPECT_EQ(log["version"], "2.1.0");
  EXPECT_EQ(log["runs"][0]["results"][0]["ruleId"], "unknown-keyword");
  EXPECT_EQ(log["runs"][0]["results"][0]["locations"][0]["physicalLocation"]["region"]["startLine"],
            2);
  EXPECT_EQ(log["runs"][0]["tool"]["driver"]["rules"][0]["id"], "unknown-keyword");
}

TEST(DiagnosticForms, ControlCharactersAndSuggestions) {
  EXPECT_EQ(escape_control_characters("a\x1b[31m\tb\nc\r\x7f\xC2\x9B\xFF\xC3\xA9"),
            "a\\u{1b}[31m\tb\nc\\r\\u{7f}\\u{9b}\\xff\xC3\xA9");
  const std::vector<std::string_view> words{"check", "run"};
  EXPECT_EQ(nearest_word("chek", words), "check");
  EXPECT_EQ(nearest_word("RUN", words), "run");
  EXPECT_EQ(nearest_word("frobnicate", words), std::nullopt);
}

TEST(Trace, ExplainsEveryStepAndTheDecision) {
  const std::string script =
      "alias(0, \"a\")\nalias(1, \"b\")\nbind_all()\nif_greater_than(\"a\", 100) { report() }\n";
  const auto policy = compile(script, "t.tarn");
  ASSERT_TRUE(policy.has_value());
  const nlohmann::json context = {{"a", 150}, {"b", "text"}, {"c", 1}};
  Memory memory;
  Trace trace;
  const auto run =
      evaluate(*policy, {memory.signs, memory.values}, &context, {.trace = &trace});
  ASSERT_TRUE(run.has_value());
  ASSERT_EQ(trace.steps.size(), 5u);
  const TraceStep& bind_all = trace.steps[2];
  ASSERT_EQ(bind_all.bindings.size(), 3u);
  EXPECT_TRUE(bind_all.bindings[0].bound);
  EXPECT_EQ(bind_all.bindings[1].reason, "not a number");
  EXPECT_EQ(bind_all.bindings[2].reason, "no alias has this name");
  EXPECT_EQ(trace.steps[3].entered, true);
  EXPECT_EQ(trace.steps[3].value, 150.0);
  EXPECT_EQ(trace.steps[4].depth, 1u);
  EXPECT_EQ(trace.end.decision, "DENY");
  EXPECT_EQ(trace.end.because,
            "decision DENY: pass is false because |residual| 24.12530193412877 > tolerance "
            "1e-12 (the default tolerance: no harmony or require_equilibrium ran)");

  // Every JSON line parses; the last one is the end.
  std::string lines;
  append_trace_json_lines(lines, trace);
  std::istringstream stream(lines);
  std::vector<nlohmann::json> objects;
  for (std::string line; std::getline(stream, line);) objects.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(objects.size(), 6u);
  EXPECT_EQ(objects[3]["threshold"], 100.0);
  EXPECT_EQ(objects.back()["kind"], "end");
  EXPECT_EQ(objects.back()["decision"], "DENY");
}

}  // namespace
}  // namespace tarn::lang
