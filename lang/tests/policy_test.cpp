// Compiled policies: the same runs as run_script, run errors with their codes and locations, and
// one policy evaluated from several threads at once.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tarn/lang/policy.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/testing/scratch.hpp"
#include "memory_fixture.hpp"

namespace tarn::lang {
namespace {

using tarn::testing::ScratchDir;

// Everything a run leaves that a caller can see.
std::string summary(const Result<RunState, RunError>& run, const Memory& memory) {
  if (!run) return "error: " + run.error().message;
  std::string out = std::string(run_decision(*run)) + " fuel " + std::to_string(run->fuel_used);
  for (const std::string& text : run->executed_commands.texts()) out += " | " + text;
  out += " report " + run->report_text.value_or("-");
  for (const double value : memory.values) out += " " + std::to_string(value);
  return out;
}

TEST(Policy, EvaluatesAsRunScriptRuns) {
  const ScratchDir dir;
  const std::string shared = dir.write("shared.tarn", "alias(1, \"inflow\")\nharmony(0.0001)\n");
  const std::string scripts[] = {
      "",
      "if_broken { evolve(1) }\ndata(0)\nreport()",
      "import(\"" + shared + "\")\nif_greater_than(\"inflow\", 50) { escalate(\"high\") }",
      "bind_all()\nassert_bounds(0, 200, \"amount\")",
      "track_lineage(true)\nreport_json()\nlink_identity(\"ops\")\nresidual()",
      "assert_bounds(0, 100, 0)",
      "report() report() evolve(9)",
  };
  const nlohmann::json context = {{"amount", 150}};
  for (const std::string& script : scripts) {
    SCOPED_TRACE(script);
    const auto policy = compile(script, "p.tarn");
    ASSERT_TRUE(policy.has_value());
    for (const std::size_t damaged : {std::size_t{1}, std::size_t{4}}) {
      Memory by_script = damaged < 4 ? Memory::damaged(damaged) : Memory{};
      Memory by_policy = by_script;
      const auto expected =
          run_script(by_script.signs, by_script.values, &context, script, kDefaultFuel);
      const auto actual =
          evaluate(*policy, RunMemory{by_policy.signs, by_policy.values}, &context);
      EXPECT_EQ(summary(actual, by_policy), summary(expected, by_script));
    }
  }
}

TEST(Policy, RunErrorsCarryTheirCodeAndWhereTheyHappened) {
  const ScratchDir dir;
  const std::string inner = dir.write("inner.tarn", "report()\n  assert_bounds(0, 1, \"nobody\")\n");
  const std::string broken = dir.write("broken.tarn", "report()\nrport()\n");
  struct Case {
    std::string script;
    RunErrorCode code;
    std::string file;  // of the location
    std::uint32_t line;
    std::uint32_t column;
    std::size_t imports;  // how many imports on the way
  };
  const Case cases[] = {
      {"report()\nreport()", RunErrorCode::OutOfFuel, "p.tarn", 2, 1, 0},
      {"\talias(0, \"\u00e9\") if_greater_than(\"x\", 1) {}", RunErrorCode::UnknownAlias,
       "p.tarn", 1, 16, 0},
      {"alias(0, \"a\")\nif_greater_than(\"a\", 0) {\n  assert_bounds(0, 100, 0)\n}",
       RunErrorCode::BoundsAssertion, "p.tarn", 3, 3, 0},
      {"bind(\"k\", 0)", RunErrorCode::NoContext, "p.tarn", 1, 1, 0},
      {"evolve(9)", RunErrorCode::PositionOutOfRange, "p.tarn", 1, 1, 0},
      {"import(\"" + dir.file("missing.tarn") + "\")", RunErrorCode::ImportFailed, "p.tarn", 1, 1,
       0},
      {"data(0)\nimport(\"" + inner + "\")", RunErrorCode::UnknownAlias, inner, 2, 3, 1},
      {"if_broken {} import(\"" + broken + "\")", RunErrorCode::ImportParseError, broken, 2, 7, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const auto policy = compile(c.script, "p.tarn");
    ASSERT_TRUE(policy.has_value());
    Memory memory;
    const RunOptions options{.fuel_limit = c.code == RunErrorCode::OutOfFuel ? 1u : kDefaultFuel};
    const auto run = evaluate(*policy, RunMemory{memory.signs, memory.values}, nullptr, options);
    ASSERT_FALSE(run.has_value());
    const RunError& error = run.error();
    EXPECT_EQ(error.code, c.code) << error.message;
    ASSERT_TRUE(error.location.has_value());
    EXPECT_EQ(error.location->file, c.file);
    EXPECT_EQ(error.location->line, c.line);
    EXPECT_EQ(error.location->column, c.column);
    ASSERT_EQ(error.imported_from.size(), c.imports);
    if (c.imports == 1) {
      EXPECT_EQ(error.imported_from[0].file, "p.tarn");
    }
  }
}

TEST(Policy, ParseErrorsAreLocatedAndRunScriptKeepsItsMessage) {
  // An unknown name fails where its argument list stops being a number in parentheses.
  const auto policy = compile("report()\n  asert_bounds(0, 1, 2)\n", "p.tarn");
  ASSERT_FALSE(policy.has_value());
  EXPECT_EQ(policy.error().offset, 25u);
  EXPECT_EQ(line_column("report()\n  asert_bounds(0, 1, 2)\n", policy.error().offset),
            (LineColumn{2, 17}));
  Memory memory;
  const auto run = run_script(memory.signs, memory.values, nullptr, "report()\nfoo(1)", 10);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error().code, RunErrorCode::ParseError);
  EXPECT_EQ(run.error().message, "Parse error: Error(Error { input: \"foo\", code: Tag })");
}

// Run under ThreadSanitizer by the hardening script: a shared policy is only read, and the one
// thing runs write into it (the cached lengths of its bodies' texts) is written atomically.
TEST(Policy, OnePolicyFromSeveralThreads) {
  auto policy = compile(
      "alias(1, \"inflow\")\nif_broken { evolve(1) }\ntrack_lineage(true)\nreport_json()\n"
      "if_greater_than(\"inflow\", 100) { if_broken { report() } }\n");
  ASSERT_TRUE(policy.has_value());
  Memory reference_memory = Memory::damaged(1);
  const auto reference =
      evaluate(*policy, RunMemory{reference_memory.signs, reference_memory.values}, nullptr);
  ASSERT_TRUE(reference.has_value());
  const std::string expected = summary(reference, reference_memory);

  constexpr int kThreads = 4;
  std::array<std::string, kThreads> seen;
  std::array<std::optional<RunState>, kThreads> last;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        Memory memory = Memory::damaged(1);
        auto run = evaluate(*policy, RunMemory{memory.signs, memory.values}, nullptr);
        const std::string got = summary(run, memory);
        if (got != expected) seen[static_cast<std::size_t>(t)] = got;
        if (run) last[static_cast<std::size_t>(t)] = std::move(*run);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& bad : seen) EXPECT_EQ(bad, "");
  // The states outlive the policy: what their logs point into stays with them.
  { const Policy gone = std::move(*policy); }
  for (const auto& state : last) {
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->executed_commands.texts(), reference->executed_commands.texts());
  }
}

}  // namespace
}  // namespace tarn::lang
