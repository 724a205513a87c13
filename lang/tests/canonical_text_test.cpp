// Canonical text of instructions: every variant, text escapes, nested bodies, lengths.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tarn/json/writer.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/testing/scratch.hpp"
#include "tree_builder.hpp"

namespace tarn::lang {
namespace {

using tarn::testing::repeat;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The JSON string literal written in one pass, and the rendered text escaped afterwards: the
// two must agree byte for byte.
std::string json_form(const Instruction& instruction) {
  std::string out;
  append_canonical_json_string(out, instruction);
  return out;
}
std::string json_form_of_text(const Instruction& instruction) {
  std::string out;
  json::append_json_string(out, canonical_text(instruction));
  return out;
}

TEST(CanonicalText, EveryVariant) {
  detail::ProgramBuilder owner;
  std::vector<Instruction> instructions;
  instructions.emplace_back(Harmony{0.001});
  instructions.emplace_back(RequireEquilibrium{1e-12});
  instructions.emplace_back(Evolve{2});
  instructions.emplace_back(Data{-21.5});
  instructions.emplace_back(Corrupt{18446744073709551615u});
  instructions.emplace_back(Residual{0.0});
  instructions.emplace_back(Report{});
  instructions.emplace_back(ReportCompact{});
  instructions.emplace_back(ReportVerbose{});
  instructions.emplace_back(ReportTo{owner.text("out.json")});
  instructions.emplace_back(ReportJson{});
  instructions.emplace_back(LogLevel{255});
  instructions.emplace_back(Branch{});
  instructions.emplace_back(BudgetLimit{100.0});
  instructions.emplace_back(TimeWindow{0});
  instructions.emplace_back(VolatilityLimit{0.5});
  instructions.emplace_back(MaxExposure{1e16});
  instructions.emplace_back(owner.make<AssertBounds>(0.0, 1.0, std::uint64_t{2}));
  instructions.emplace_back(owner.make<AssertBoundsNamed>(-1.0, 1.0, owner.text("x")));
  instructions.emplace_back(LinkIdentity{owner.text("")});
  instructions.emplace_back(TrackLineage{true});
  instructions.emplace_back(owner.make<Bind>(owner.text("k"), std::uint64_t{3}));
  instructions.emplace_back(owner.make<Alias>(std::uint64_t{1}, owner.text("y")));
  instructions.emplace_back(BindAll{});
  instructions.emplace_back(
      owner.make<IfGreaterThan>(owner.text("x"), 0.5, body_of(owner, Report{})));
  instructions.emplace_back(Escalate{owner.text("why")});
  instructions.emplace_back(Import{owner.text("a.tarn")});
  instructions.emplace_back(GenerateZkProof{false});
  const std::vector<std::string> expected = {
      "Harmony(0.001)", "RequireEquilibrium(1e-12)", "Evolve(2)", "Data(-21.5)",
      "Corrupt(18446744073709551615)", "Residual(0.0)", "Report", "ReportCompact",
      "ReportVerbose", "ReportTo(\"out.json\")", "ReportJson", "LogLevel(255)", "Branch([])",
      "BudgetLimit(100.0)", "TimeWindow(0)", "VolatilityLimit(0.5)", "MaxExposure(1e16)",
      "AssertBounds(0.0, 1.0, 2)", "AssertBoundsNamed(-1.0, 1.0, \"x\")", "LinkIdentity(\"\")",
      "TrackLineage(true)", "Bind(\"k\", 3)", "Alias(1, \"y\")", "BindAll",
      "IfGreaterThan(\"x\", 0.5, [Report])", "Escalate(\"why\")", "Import(\"a.tarn\")",
      "GenerateZkProof(false)"};
  ASSERT_EQ(instructions.size(), expected.size());
  for (std::size_t i = 0; i < instructions.size(); ++i) {
    SCOPED_TRACE(expected[i]);
    EXPECT_EQ(instructions[i].index(), i);  // table order
    EXPECT_EQ(canonical_text(instructions[i]), expected[i]);
    EXPECT_EQ(canonical_text_length(instructions[i]), expected[i].size());
  }
}

TEST(CanonicalText, Numbers) {
  struct Case {
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {1.0, "1.0"},          {0.5, "0.5"},           {100.0, "100.0"},
      {0.0001, "0.0001"},    {0.00001, "1e-5"},      {0.000015, "1.5e-5"},
      {1e16, "1e16"},        {1.5e17, "1.5e17"},     {9999999999999998.0, "9999999999999998.0"},
      {-2.0, "-2.0"},        {-0.0, "-0.0"},         {0.0, "0.0"},
      {123456.75, "123456.75"}, {-0.00001, "-1e-5"}, {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e308"},
      {0.1 + 0.2, "0.30000000000000004"},
      {kNaN, "NaN"},         {kInf, "inf"},          {-kInf, "-inf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const Instruction data = Data{c.value};
    EXPECT_EQ(canonical_text(data), std::string("Data(") + c.expected + ")");
    EXPECT_EQ(canonical_text_length(data), canonical_text(data).size());
  }
}

TEST(CanonicalText, TextEscapes) {
  struct Case {
    std::string text;
    std::string expected;  // between the quotes
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"a\\b", "a\\\\b"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"\t\r\n", "\\t\\r\\n"},
      {std::string("a\0b", 3), "a\\0b"},
      {"\x01\x1f\x7f", "\\u{1}\\u{1f}\\u{7f}"},
      {"it's", "it's"},
      {"\u00e9t\u00e9", "\u00e9t\u00e9"},                // printable non-ASCII unchanged
      {"\U0001F600", "\U0001F600"},                      // emoji unchanged
      {"\u00a0", "\\u{a0}"},                             // no-break space (Zs)
      {"a b", "a b"},                                    // the plain space is printable
      {"\u3000", "\\u{3000}"},                           // ideographic space (Zs)
      {"\xc2\x85", "\\u{85}"},                           // C1 control
      {"\u00ad", "\\u{ad}"},                             // soft hyphen (Cf)
      {"\u200b", "\\u{200b}"},                           // zero width space (Cf)
      {"\ufeff", "\\u{feff}"},                           // byte order mark (Cf)
      {"\u2028\u2029", "\\u{2028}\\u{2029}"},            // line and paragraph separators
      {"e\u0301", "e\\u{301}"},                          // combining acute (Grapheme_Extend)
      {"\ue000", "\\u{e000}"},                           // private use (Co)
      {"\U0010FFFD", "\\u{10fffd}"},                     // private use, plane 16
      {"\U000E0001", "\\u{e0001}"},                      // language tag (Cf)
      {"\u0378", "\\u{378}"},                            // unassigned (Cn)
      {"x\ny\u00ad\"", "x\\ny\\u{ad}\\\""},              // runs between escapes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    std::string out;
    append_quoted_text(out, c.text);
    EXPECT_EQ(out, "\"" + c.expected + "\"");
    detail::ProgramBuilder owner;
    const Instruction escalate = Escalate{owner.text(c.text)};
    EXPECT_EQ(canonical_text(escalate), "Escalate(\"" + c.expected + "\")");
    EXPECT_EQ(canonical_text_length(escalate), canonical_text(escalate).size());
    EXPECT_EQ(json_form(escalate), json_form_of_text(escalate));
  }
}

TEST(CanonicalText, NestedBodies) {
  detail::ProgramBuilder owner;
  Body inner = body_of(owner, Report{}, Evolve{1});
  Body middle = body_of(owner, owner.make<IfGreaterThan>(owner.text("t"), 2.0, std::move(inner)),
                        Branch{}, ReportJson{});
  const Instruction outer = Branch{std::move(middle)};
  const std::string expected =
      "Branch([IfGreaterThan(\"t\", 2.0, [Report, Evolve(1)]), Branch([]), ReportJson])";
  EXPECT_EQ(canonical_text(outer), expected);
  EXPECT_EQ(canonical_text_length(outer), expected.size());
  // A second measure uses the cached body lengths and must agree.
  EXPECT_EQ(canonical_text_length(outer), expected.size());

  std::string appended = "x ";
  append_canonical_text(appended, outer);
  EXPECT_EQ(appended, "x " + expected);
}

TEST(CanonicalText, DeepNestDoesNotRecurse) {
  constexpr std::size_t kDepth = 200'000;
  const Program program = nested_branch(kDepth);
  const Instruction& deep = program[0];
  const std::string text = canonical_text(deep);
  EXPECT_EQ(text, repeat("Branch([", kDepth) + repeat("])", kDepth));
  EXPECT_EQ(canonical_text_length(deep), text.size());
}

TEST(CanonicalText, MeasuringEveryLevelOfADeepNestIsLinear) {
  // Quadratic work here (50,000 levels, each re-walking all below it) would take minutes.
  constexpr std::size_t kDepth = 50'000;
  const Program program = nested_branch(kDepth);
  const Instruction* level = &program[0];
  for (std::size_t remaining = kDepth; remaining > 0; --remaining) {
    ASSERT_EQ(canonical_text_length(*level), 10 * remaining);
    const Body& body = std::get<Branch>(*level).body;
    level = body.empty() ? nullptr : &body[0];
  }
  // Innermost first, on a fresh tree, must be just as fast.
  const Program fresh = nested_branch(kDepth);
  std::vector<const Instruction*> levels;
  for (const Instruction* at = &fresh[0]; at != nullptr;) {
    levels.push_back(at);
    const Body& body = std::get<Branch>(*at).body;
    at = body.empty() ? nullptr : &body[0];
  }
  for (std::size_t i = levels.size(); i-- > 0;) {
    ASSERT_EQ(canonical_text_length(*levels[i]), 10 * (kDepth - i));
  }
}

TEST(CanonicalText, LengthAndJsonFormMatchRenderingOverParsedScripts) {
  const char* scripts[] = {
      "report()evolve(3)data(0.1)residual()",
      "if_broken { if_greater_than(\"\u00e9\u0301\", 1e300) { bind(\"k\", 7) } escalate(\"a\tb\") }",
      "assert_bounds(-1, 1, \"\u2028\") assert_bounds(0, 1e-7, 4) alias(9, \"\U0001F600\")",
      "import(\"C:\\dir\\f.tarn\") link_identity(\"\u3000\") track_lineage(true) bind_all()",
      "if_broken {} if_broken { if_broken { report_to(\"r\") } log_level(7) } data(-0)",
      "harmony(nan) max_exposure(inf) volatility_limit(1e-400) time_window(1e30)",
  };
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    const auto program = parse_program(script);
    ASSERT_TRUE(program.has_value()) << parse_error_text(program.error());
    for (const Instruction& instruction : *program) {
      EXPECT_EQ(canonical_text_length(instruction), canonical_text(instruction).size());
      EXPECT_EQ(json_form(instruction), json_form_of_text(instruction));
    }
  }
}

}  // namespace
}  // namespace tarn::lang
