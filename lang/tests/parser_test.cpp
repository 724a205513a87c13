// The script parser: statement forms, white space and comments, the exact error of each failing
// step (severity, input, code apart, and the error text once), and very deep nesting.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tarn/lang/instruction.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/testing/scratch.hpp"

namespace tarn::lang {
namespace {

using tarn::testing::repeat;

constexpr Severity E = Severity::Error;
constexpr Severity F = Severity::Failure;
using Code = ParseErrorCode;

// The canonical texts of a program's top-level instructions, one per line.
std::string render(const Program& program) {
  std::string out;
  for (const Instruction& instruction : program) {
    if (!out.empty()) out += '\n';
    append_canonical_text(out, instruction);
  }
  return out;
}

TEST(Parser, AcceptedScripts) {
  struct Case {
    std::string script;
    std::string expected;
  };
  const Case cases[] = {
      // empty programs, white space and comments
      {"", ""},
      {" \t\r\n", ""},
      {"// only a comment\n", ""},
      {"// one\r\n  // two\n", ""},
      {"report() // trailing comment\nreport()", "Report\nReport"},
      {"report()report()", "Report\nReport"},
      {"report()\r\nevolve(1)\r\n// note\r\n", "Report\nEvolve(1)"},
      // optional numbers
      {"report(5)", "Report"},
      {"report_compact()report_verbose(1e3)report_json(-2)", "ReportCompact\nReportVerbose\nReportJson"},
      {"residual()", "Residual(0.0)"},
      {"residual(2.5)", "Residual(2.5)"},
      {"residual(nan)", "Residual(NaN)"},
      // numbers
      {"harmony(INF)", "Harmony(inf)"},
      {"harmony(Infinity)", "Harmony(inf)"},
      {"harmony(nan)", "Harmony(NaN)"},
      {"harmony(NaN)", "Harmony(NaN)"},
      {"data(1.)", "Data(1.0)"},
      {"data(.5)", "Data(0.5)"},
      {"data(1.e2)", "Data(100.0)"},
      {"data(1E+2)", "Data(100.0)"},
      {"data(+2)", "Data(2.0)"},
      {"data(-0)", "Data(-0.0)"},
      {"data(0.00001)", "Data(1e-5)"},
      {"data(1e400)", "Data(inf)"},
      {"data(-1e400)", "Data(-inf)"},
      {"data(1e-400)", "Data(0.0)"},
      {"data(-1e-400)", "Data(-0.0)"},
      {"data(0.1000000000000000055511151231257827)", "Data(0.1)"},
      {"data(9007199254740993)", "Data(9007199254740992.0)"},  // ties to even
      {"require_equilibrium(1e-12)", "RequireEquilibrium(1e-12)"},
      // saturating conversions
      {"evolve(2.9)", "Evolve(2)"},
      {"corrupt(1e30)", "Corrupt(18446744073709551615)"},
      {"corrupt(inf)", "Corrupt(18446744073709551615)"},
      {"evolve(18446744073709549568)", "Evolve(18446744073709549568)"},
      {"time_window(-3)", "TimeWindow(0)"},
      {"log_level(300)", "LogLevel(255)"},
      {"log_level(-1)", "LogLevel(0)"},
      {"log_level(nan)", "LogLevel(0)"},
      {"log_level(3.9)", "LogLevel(3)"},
      {"log_level(1e3)", "LogLevel(255)"},
      {"budget_limit(10)volatility_limit(0.25)max_exposure(1e16)",
       "BudgetLimit(10.0)\nVolatilityLimit(0.25)\nMaxExposure(1e16)"},
      // strings, booleans and the forms of their own
      {"report_to(\"out.txt\")", "ReportTo(\"out.txt\")"},
      {"link_identity(\"\")", "LinkIdentity(\"\")"},
      {"escalate(\"line 1\nline 2\")", "Escalate(\"line 1\\nline 2\")"},
      {"import(\"dir\\\\f.tarn\")", "Import(\"dir\\\\\\\\f.tarn\")"},
      {"import(\"a\\b\")", "Import(\"a\\\\b\")"},
      {"escalate(\"// not a comment\")", "Escalate(\"// not a comment\")"},
      {"track_lineage(true)", "TrackLineage(true)"},
      {"generate_zk_proof(false)", "GenerateZkProof(false)"},
      {"bind(\"k\", 3)", "Bind(\"k\", 3)"},
      {"bind(\"k\",\n    3)", "Bind(\"k\", 3)"},
      {"bind(\"k\", -5)", "Bind(\"k\", 0)"},
      {"alias(2,\"x\")", "Alias(2, \"x\")"},
      {"bind_all()", "BindAll"},
      {"assert_bounds(0, 1, 2)", "AssertBounds(0.0, 1.0, 2)"},
      {"assert_bounds(0,1,2.7)", "AssertBounds(0.0, 1.0, 2)"},
      {"assert_bounds(0, 1, \"x\")", "AssertBoundsNamed(0.0, 1.0, \"x\")"},
      {"assert_bounds(-1,\t1,\n\"\")", "AssertBoundsNamed(-1.0, 1.0, \"\")"},
      // bodies
      {"if_broken\n{\nreport()\n}", "Branch([Report])"},
      {"if_broken{}", "Branch([])"},
      {"if_broken {\r\n}\r\n", "Branch([])"},
      {"if_greater_than(\"x\", 0.5)\n{ report() }", "IfGreaterThan(\"x\", 0.5, [Report])"},
      {"if_greater_than(\"x\",1){}", "IfGreaterThan(\"x\", 1.0, [])"},
      {"if_broken { if_broken { evolve(1) } report() if_greater_than(\"a\", 2) {data(1)} }",
       "Branch([Branch([Evolve(1)]), Report, IfGreaterThan(\"a\", 2.0, [Data(1.0)])])"},
      {"if_broken{report()}report()", "Branch([Report])\nReport"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const auto program = parse_program(c.script);
    ASSERT_TRUE(program.has_value()) << parse_error_text(program.error());
    EXPECT_EQ(render(*program), c.expected);
  }
}

TEST(Parser, Errors) {
  struct Case {
    std::string script;
    Severity severity;
    std::string input;
    Code code;
  };
  const Case cases[] = {
      // unrecognised names: the error depends on what follows
      {"foo(1)\n", E, "foo", Code::Tag},
      {"foo\nreport()", E, "\nreport()", Code::Tag},
      {"foo(x)", E, "x)", Code::Float},
      {"foo(1 )", E, " )", Code::Tag},
      {"Report()", E, ")", Code::Float},
      {"report1(2)", E, "report1", Code::Tag},
      {"r\u00e9port(2)", E, "r\u00e9port", Code::Tag},
      {"report\u00b2()", E, ")", Code::Float},  // superscript two is numeric (No)
      {"report\u00a0()", E, "\u00a0()", Code::Tag},
      // statements that do not begin with an identifier
      {"}", E, "}", Code::TakeWhile1},
      {"report()\n}", E, "}", Code::TakeWhile1},
      {"(", E, "(", Code::TakeWhile1},
      {"-1", E, "-1", Code::TakeWhile1},
      {"/ x", E, "/ x", Code::TakeWhile1},
      {"\ufeffreport()", E, "\ufeffreport()", Code::TakeWhile1},
      {"\freport()", E, "\freport()", Code::TakeWhile1},
      {"\vreport()", E, "\vreport()", Code::TakeWhile1},
      {"\u00a0report()", E, "\u00a0report()", Code::TakeWhile1},
      // comments
      {"// no line feed", E, "// no line feed", Code::TakeUntil},
      {"report()\n// last", E, "// last", Code::TakeUntil},
      {"if_broken {\n// c\n}", E, "// c\n}", Code::TakeWhile1},
      // white space where none may stand
      {"report ()", E, " ()", Code::Tag},
      {"report( )", E, " )", Code::Tag},
      {"report(x)", E, "x)", Code::Tag},
      {"data( 1)", E, " 1)", Code::Float},
      {"data(1 )", E, " )", Code::Tag},
      {"data(1x)", E, "x)", Code::Tag},
      {"data(+ 1)", E, "+ 1)", Code::Float},
      {"data(1.5e3x)", E, "x)", Code::Tag},
      {"bind(\"k\" , 1)", E, " , 1)", Code::Tag},
      {"bind_all( )", E, "( )", Code::Tag},
      {"bind_all(1)", E, "(1)", Code::Tag},
      {"bind_all", E, "", Code::Tag},
      {"assert_bounds(0 , 1, 2)", E, " , 1, 2)", Code::Tag},
      {"assert_bounds(0, 1, 2 )", E, " )", Code::Tag},
      // numbers
      {"data(1e)", F, "1e)", Code::Float},
      {"data(-2.5E+)", F, "-2.5E+)", Code::Float},
      {"log_level(1e)", F, "1e)", Code::Float},
      {"report(1e)", F, "1e)", Code::Float},
      {"residual(.5e-)", F, ".5e-)", Code::Float},
      {"assert_bounds(0, 1, 2e)", F, "2e)", Code::Float},
      {"harmony(-inf)", E, "-inf)", Code::Float},
      {"harmony(+nan)", E, "+nan)", Code::Float},
      {"data(.)", E, ".)", Code::Float},
      {"data(-.e1)", E, "-.e1)", Code::Float},
      {"data()", E, ")", Code::Float},
      {"data(infinit)", E, "init)", Code::Tag},
      {"data(nanx)", E, "x)", Code::Tag},
      {"data(0x10)", E, "x10)", Code::Tag},
      {"data(1", E, "", Code::Tag},
      // strings and booleans
      {"report_to(out)", E, "out)", Code::Tag},
      {"escalate(\"never closed)", E, "never closed)", Code::TakeUntil},
      {"alias(1, x)", E, "x)", Code::Tag},
      {"assert_bounds(0, 1, \"open", E, "\"open", Code::Float},
      {"assert_bounds(0, 1, x)", E, "x)", Code::Float},
      {"track_lineage(True)", E, "True)", Code::Tag},
      {"track_lineage(truely)", E, "ly)", Code::Tag},
      {"generate_zk_proof()", E, ")", Code::Tag},
      // bodies
      {"if_broken(", E, "(", Code::Tag},
      {"if_broken", E, "", Code::Tag},
      {"if_broken {", E, "", Code::Tag},
      {"if_broken { report()\n", E, "", Code::Tag},
      {"if_broken { if_broken { } ", E, "", Code::Tag},
      {"if_greater_than(\"x\", 1)(", E, "(", Code::Tag},
      {"if_greater_than(\"x\", 1) {", E, "", Code::Tag},
      {"if_greater_than(\"x\" ,1) {}", E, " ,1) {}", Code::Tag},
      {"if_broken { foo(1) }", E, "foo", Code::Tag},
      {"if_broken { data(1e) }", F, "1e) }", Code::Float},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const auto program = parse_program(c.script);
    ASSERT_FALSE(program.has_value()) << render(*program);
    EXPECT_EQ(program.error().severity, c.severity);
    EXPECT_EQ(program.error().input, c.input);
    EXPECT_EQ(program.error().code, c.code);
    // The error knows where it happened: `input` starts at its offset.
    EXPECT_EQ(std::string_view(c.script).substr(program.error().offset, c.input.size()), c.input);
  }
}

TEST(Parser, StatementSpanReadsOnlyUpToTheStatement) {
  const std::string text =
      "report()\n// note\nif_broken {\n  evolve(1)\n  if_greater_than(\"x\", 1) { data(0) }\n}\n"
      "residual()";
  struct Case {
    std::vector<std::size_t> path;
    std::optional<std::string_view> statement;
  };
  const Case cases[] = {
      {{0}, "report()"},
      {{1, 0}, "evolve(1)"},
      {{1, 1, 0}, "data(0)"},
      {{2}, "residual()"},
      {{3}, std::nullopt},
      {{0, 0}, std::nullopt},
      {{1, 2}, std::nullopt},
  };
  for (const Case& c : cases) {
    const auto span = statement_span(text, c.path);
    ASSERT_EQ(span.has_value(), c.statement.has_value());
    if (span) {
      EXPECT_EQ(std::string_view(text).substr(span->offset, span->length), *c.statement);
    }
  }
  // A broken statement after the one wanted is never read.
  EXPECT_EQ(statement_span("data(0) data(1e", std::vector<std::size_t>{0}), (SourceSpan{0, 7}));
}

TEST(Parser, ErrorText) {
  struct Case {
    Severity severity;
    std::string input;
    Code code;
    std::string text;
  };
  const Case cases[] = {
      {E, "foo", Code::Tag, "Error(Error { input: \"foo\", code: Tag })"},
      {F, "1e)", Code::Float, "Failure(Error { input: \"1e)\", code: Float })"},
      {E, "", Code::TakeUntil, "Error(Error { input: \"\", code: TakeUntil })"},
      {E, "\nreport()", Code::TakeWhile1,
       "Error(Error { input: \"\\nreport()\", code: TakeWhile1 })"},
      {E, "\ufeffx \"q\" \\", Code::TakeWhile1,
       "Error(Error { input: \"\\u{feff}x \\\"q\\\" \\\\\", code: TakeWhile1 })"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_error_text(ParseError{c.severity, c.input, c.code, 0, std::nullopt, {}, std::nullopt}), c.text);
  }
  // The two examples end to end.
  EXPECT_EQ(parse_error_text(parse_program("foo(1)\n").error()),
            "Error(Error { input: \"foo\", code: Tag })");
  EXPECT_EQ(parse_error_text(parse_program("data(1e)").error()),
            "Failure(Error { input: \"1e)\", code: Float })");
}

TEST(Parser, ErrorInputRunsToTheEndOfTheText) {
  const std::string script = "report()\ndata( 1)\nreport()\n// end\n";
  const auto program = parse_program(script);
  ASSERT_FALSE(program.has_value());
  EXPECT_EQ(program.error().input, " 1)\nreport()\n// end\n");
}

TEST(Parser, ParseStatementReturnsTheRest) {
  const auto statement = parse_statement("  \n evolve(4)  tail");
  ASSERT_TRUE(statement.has_value());
  EXPECT_EQ(canonical_text(statement->value[0]), "Evolve(4)");
  EXPECT_EQ(statement->rest, "  tail");

  const auto nested = parse_statement("if_broken { report() } report()");
  ASSERT_TRUE(nested.has_value());
  EXPECT_EQ(canonical_text(nested->value[0]), "Branch([Report])");
  EXPECT_EQ(nested->rest, " report()");

  // Comments are a program-level matter only.
  EXPECT_EQ(parse_statement("// c\nreport()").error().code, Code::TakeWhile1);
}

// A script of nested blocks and its canonical text, built side by side from a seed: blocks of
// both kinds, opening first, last or between other statements of their parent, and empty ones.
struct Nest {
  std::string script;
  std::string expected;
};

Nest generated_nest(std::uint32_t seed, int depth) {
  std::uint32_t state = seed;
  const auto next = [&state](std::uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 16) % bound;
  };
  Nest nest;
  const auto body = [&](const auto& self, int level) -> void {
    const std::uint32_t count = level == 0 ? 0 : next(4);  // 0 to 3, mostly blocks below
    for (std::uint32_t i = 0; i < count; ++i) {
      if (i != 0) nest.expected += ", ";
      if (next(4) == 0) {
        nest.script += " evolve(" + std::to_string(i) + ")";
        nest.expected += "Evolve(" + std::to_string(i) + ")";
        continue;
      }
      if (next(2) == 0) {
        nest.script += " if_broken {";
        nest.expected += "Branch([";
      } else {
        nest.script += " if_greater_than(\"v\", 1.5) {";
        nest.expected += "IfGreaterThan(\"v\", 1.5, [";
      }
      self(self, level - 1);
      nest.script += " }";
      nest.expected += "])";
    }
  };
  nest.script = "if_broken {";
  nest.expected = "Branch([";
  while (nest.expected.size() < 200) {  // a nest too small to test much is drawn again
    nest.script = "if_broken {";
    nest.expected = "Branch([";
    body(body, depth);
  }
  nest.script += "}";
  nest.expected += "])";
  return nest;
}

TEST(Parser, GeneratedNests) {
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    const Nest nest = generated_nest(seed, 3 + static_cast<int>(seed % 5));
    SCOPED_TRACE(nest.script);
    const auto program = parse_program(nest.script + "\nreport()\n" + nest.script);
    ASSERT_TRUE(program.has_value()) << parse_error_text(program.error());
    EXPECT_EQ(render(*program), nest.expected + "\nReport\n" + nest.expected);
  }
}

TEST(Parser, MillionDeepNesting) {
  constexpr std::size_t kDepth = 1'000'000;
  const std::string open = repeat("if_broken {", kDepth);
  const std::string script = open + "report()" + repeat("}", kDepth);
  const auto program = parse_program(script);
  ASSERT_TRUE(program.has_value()) << parse_error_text(program.error());
  ASSERT_EQ(program->size(), 1u);
  std::size_t depth = 0;
  const Instruction* at = &(*program)[0];
  while (const auto* branch = std::get_if<Branch>(at)) {
    ++depth;
    ASSERT_EQ(branch->body.size(), 1u);
    at = &branch->body[0];
  }
  EXPECT_EQ(depth, kDepth);
  EXPECT_TRUE(std::holds_alternative<Report>(*at));

  // A block left open names the "{" of the innermost one: the outermost closes last.
  const std::string unclosed_text = open + repeat("}", kDepth - 1);
  const auto unclosed = parse_program(unclosed_text);
  ASSERT_FALSE(unclosed.has_value());
  EXPECT_EQ(unclosed.error(), (ParseError{E, "", Code::Tag, unclosed_text.size(), 10,
                                          ParseExpectation::CloseBrace, std::nullopt}));

  const std::string failing_text = repeat("if_broken {", 1000) + "nope";
  const auto failing_deep_inside = parse_program(failing_text);
  ASSERT_FALSE(failing_deep_inside.has_value());
  // The name "nope" is no keyword; the statement that failed begins where it does.
  EXPECT_EQ(failing_deep_inside.error(),
            (ParseError{E, "", Code::Tag, failing_text.size(), std::nullopt,
                        ParseExpectation::Keyword, failing_text.size() - 4}));
}

}  // namespace
}  // namespace tarn::lang
