// What each instruction does and how each fails, run through run_script over the driver's memory
// for payload 1337: values [125.87469806587123, 101.0, 99.0, 74.12530193412877], signs
// [1, -1, -1, 1].
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tarn/lang/runner.hpp"
#include "tarn/memory/state_memory.hpp"
#include "memory_fixture.hpp"

namespace tarn::lang {
namespace {

Result<RunState, RunError> run(Memory& memory, std::string_view script,
                               const nlohmann::json* context = nullptr) {
  return run_script(memory.signs, memory.values, context, script, 100000);
}

TEST(Handlers, RunErrors) {
  struct Case {
    std::string_view script;
    std::string_view error;
  };
  const Case cases[] = {
      {"assert_bounds(0, 100, 0)",
       "Bounds assertion failed at index 0: value 125.87469806587123 not in [0, 100]"},
      {"alias(1, \"b\")\nassert_bounds(0, 100, \"b\")",
       "Bounds assertion failed for 'b' (index 1): value 101 not in [0, 100]"},
      {"assert_bounds(1e20, 1e-12, 2)",
       "Bounds assertion failed at index 2: value 99 not in [100000000000000000000, "
       "0.000000000001]"},
      {"assert_bounds(-0.0, -0.5, 3)",
       "Bounds assertion failed at index 3: value 74.12530193412877 not in [-0, -0.5]"},
      {"assert_bounds(0, 100, \"nobody\")", "AssertBounds: Unknown alias 'nobody'"},
      {"if_greater_than(\"x\", 1) { report() }", "IfGreaterThan: Unknown alias 'x'"},
      {"if_greater_than(\"x\", 1) {}", "IfGreaterThan: Unknown alias 'x'"},
      {"bind(\"k\", 0)", "Bind failed: no JSON context provided"},
      // Invalid positions end the run instead of touching memory outside the vectors.
      {"evolve(4)", "Evolve: position 4 out of range (4 values, 4 signs)"},
      {"evolve(1e30)", "Evolve: position 18446744073709551615 out of range (4 values, 4 signs)"},
      {"corrupt(4)", "Corrupt: position 4 out of range (4 values)"},
      {"assert_bounds(0, 1, 4)", "AssertBounds: position 4 out of range (4 values)"},
      {"alias(7, \"a\")assert_bounds(0, 1, \"a\")",
       "AssertBounds: position 7 out of range (4 values)"},
      {"alias(5, \"a\")if_greater_than(\"a\", 0) {}",
       "IfGreaterThan: position 5 out of range (4 values)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Memory memory;
    const auto result = run(memory, c.script);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message, c.error);
  }
}

TEST(Handlers, RunErrorsOnOtherMemoryShapes) {
  struct Case {
    std::vector<std::int8_t> signs;
    std::vector<double> values;
    std::string_view script;
    std::string_view error;
  };
  const Case cases[] = {
      {{1, -1, -1},
       {1, 2, 3, 4},
       "evolve(1)",
       "Evolve: memory needs a sign for every value (3 signs, 4 values)"},
      {{1, -1, -1},
       {1, 2, 3, 4},
       "evolve(3)",
       "Evolve: position 3 out of range (4 values, 3 signs)"},
      {{}, {}, "evolve(0)", "Evolve: position 0 out of range (0 values, 0 signs)"},
      {{1, -1, -1, 1},
       {1, 2, 3},
       "data(0)",
       "Data: memory needs at least 4 signs and 4 values (4 signs, 3 values)"},
      {{1},
       {1, 2, 3, 4},
       "data(0)",
       "Data: memory needs at least 4 signs and 4 values (1 signs, 4 values)"},
      {{}, {}, "corrupt(0)", "Corrupt: position 0 out of range (0 values)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    std::vector<double> values = c.values;
    const auto result = run_script(c.signs, values, nullptr, c.script, 100000);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message, c.error);
    EXPECT_EQ(values, c.values);
  }
}

TEST(Handlers, EvolveHealsAndCharges) {
  Memory memory = Memory::damaged(1);
  const auto result = run(memory, "if_broken { evolve(1) }");
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(memory.values[1], 101.0);
  EXPECT_EQ(result->healed_indices, (std::vector<std::uint64_t>{1}));
  EXPECT_EQ(result->last_healed, 1U);
  EXPECT_EQ(result->fuel_used, 12U);
  EXPECT_TRUE(result->pass);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(result->residual), 0U);

  Memory intact;
  const auto skipped = run(intact, "if_broken { evolve(1) }");
  ASSERT_TRUE(skipped.has_value());
  EXPECT_EQ(skipped->fuel_used, 1U);
  EXPECT_TRUE(skipped->healed_indices.empty());
  EXPECT_FALSE(skipped->last_healed.has_value());
}

TEST(Handlers, EvolveRecordsEveryHealInOrder) {
  Memory memory = Memory::damaged(0);
  const auto result = run(memory, "evolve(0)\nevolve(3)\nevolve(0)");
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->healed_indices, (std::vector<std::uint64_t>{0, 3, 0}));
  EXPECT_EQ(result->last_healed, 0U);
  EXPECT_EQ(memory.values[0], 125.87469806587123);
  EXPECT_EQ(result->fuel_used, 33U);
}

TEST(Handlers, EquilibriumAndCorrupt) {
  Memory memory;
  // RequireEquilibrium never stops the run; it only refreshes pass and the tolerance.
  const auto corrupted = run(memory, "harmony(0.001)\ncorrupt(2)\nrequire_equilibrium(0.001)");
  ASSERT_TRUE(corrupted.has_value());
  EXPECT_FALSE(corrupted->pass);
  EXPECT_EQ(corrupted->residual, 99.0);
  EXPECT_EQ(memory.values[2], 0.0);

  Memory broken = Memory::damaged(1);
  const auto tolerant = run(broken, "require_equilibrium(200)");
  ASSERT_TRUE(tolerant.has_value());
  EXPECT_TRUE(tolerant->pass);
  EXPECT_EQ(tolerant->residual, 101.0);
}

TEST(Handlers, DataAndResidualIgnoreTheirOperands) {
  Memory memory;
  const auto result = run(memory, "data(5)\nresidual()\nresidual(42)\nbind_all()");
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->revealed, 1337.0000000000018);
  ASSERT_EQ(result->residual_log.size(), 2U);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(result->residual_log[0]), 0U);
  EXPECT_EQ(result->residual_log[1], 0.0);
}

TEST(Handlers, BookkeepingInstructions) {
  Memory memory;
  const auto result = run(memory,
                          "budget_limit(5)\ntime_window(2.9)\nvolatility_limit(0.5)\n"
                          "max_exposure(-7)\nlink_identity(\"a\")\nlink_identity(\"b\")\n"
                          "escalate(\"first\")\nescalate(\"review\")\nlog_level(3)\n"
                          "generate_zk_proof(true)\nreport_compact()\nreport_to(\"x\")\n"
                          "report_to(\"/nonexistent-dir/r.txt\")");
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->budget_limit, 5.0);
  EXPECT_EQ(result->time_window, 2U);
  EXPECT_EQ(result->volatility_limit, 0.5);
  EXPECT_EQ(result->max_exposure, -7.0);
  EXPECT_EQ(result->identity, "b");
  EXPECT_EQ(result->escalation, "review");
  EXPECT_EQ(result->zk_proof, "zk:disabled_rebuild_with_--features_zk");
  EXPECT_EQ(result->report_text, "Final Residual: 0.000000, Pass: true");
  EXPECT_EQ(result->report_path, "/nonexistent-dir/r.txt");
  EXPECT_EQ(run_decision(*result), "ESCALATE");

  const auto withdrawn = run(memory, "generate_zk_proof(true)\ngenerate_zk_proof(false)");
  ASSERT_TRUE(withdrawn.has_value());
  EXPECT_FALSE(withdrawn->zk_proof.has_value());
  EXPECT_FALSE(withdrawn->budget_limit.has_value());
}

TEST(Handlers, AliasesAndIfGreaterThan) {
  struct Case {
    std::string_view script;
    bool escalated;
  };
  const Case cases[] = {
      // The test is strict.
      {"alias(0, \"a\")\nif_greater_than(\"a\", 125.87469806587123) { escalate(\"high\") }", false},
      {"alias(0, \"a\")\nif_greater_than(\"a\", 125.8746980658712) { escalate(\"high\") }", true},
      // A later alias of the same name replaces the position.
      {"alias(0, \"a\")\nalias(3, \"a\")\nif_greater_than(\"a\", 100) { escalate(\"high\") }",
       false},
      // Names are case-sensitive.
      {"alias(0, \"a\")\nalias(3, \"A\")\nif_greater_than(\"a\", 100) { escalate(\"high\") }",
       true},
      {"alias(0, \"a\")\nif_greater_than(\"a\", nan) { escalate(\"high\") }", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Memory memory;
    const auto result = run(memory, c.script);
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(result->escalation.has_value(), c.escalated);
  }
}

TEST(Handlers, BoundsAreInclusiveAndNaNPasses) {
  std::vector<std::int8_t> signs{1};
  for (const double value : {0.0, 1.0, std::numeric_limits<double>::quiet_NaN()}) {
    SCOPED_TRACE(value);
    std::vector<double> values{value};
    const auto result =
        run_script(signs, values, nullptr,
                   "alias(0, \"v\")\nassert_bounds(0, 1, 0)\nassert_bounds(0, 1, \"v\")", 100000);
    EXPECT_TRUE(result.has_value());
  }
}

TEST(Handlers, BindConvertsJsonNumbers) {
  const auto context = nlohmann::json::parse(
      R"({"u": 18446744073709551615, "i": -9007199254740993, "f": 0.1, "s": "7", "n": null,
          "b": true, "a": [1], "o": {"x": 1}})");
  struct Case {
    std::string_view key;
    std::optional<double> value;  // nullopt: the key does not bind
  };
  const Case cases[] = {
      {"u", 18446744073709551616.0}, {"i", -9007199254740992.0}, {"f", 0.1},
      {"s", std::nullopt},           {"n", std::nullopt},        {"b", std::nullopt},
      {"a", std::nullopt},           {"o", std::nullopt},        {"missing", std::nullopt},
      {"U", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    Memory memory;
    const std::string script = "bind(\"" + std::string(c.key) + "\", 2)";
    const auto result = run(memory, script, &context);
    if (c.value) {
      ASSERT_TRUE(result.has_value());
      EXPECT_EQ(memory.values[2], *c.value);
    } else {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error().message, "Bind failed: key '" + std::string(c.key) +
                                            "' not found in context or not a number");
      EXPECT_EQ(memory.values[2], 99.0);
    }
  }
}

TEST(Handlers, BindChecksThePositionOnlyAfterTheLookup) {
  const auto context = nlohmann::json::parse(R"({"k": 1})");
  Memory memory;
  const auto missing = run(memory, "bind(\"nope\", 9)", &context);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message,
            "Bind failed: key 'nope' not found in context or not a number");
  const auto out_of_range = run(memory, "bind(\"k\", 9)", &context);
  ASSERT_FALSE(out_of_range.has_value());
  EXPECT_EQ(out_of_range.error().message, "Bind: position 9 out of range (4 values)");

  const auto array = nlohmann::json::parse("[1, 2]");
  const auto not_object = run(memory, "bind(\"k\", 0)", &array);
  ASSERT_FALSE(not_object.has_value());
  EXPECT_EQ(not_object.error().message,
            "Bind failed: key 'k' not found in context or not a number");
}

TEST(Handlers, BindAll) {
  struct Case {
    std::string_view context;
    std::string_view script;
    std::array<double, 4> values;
  };
  const double v0 = 125.87469806587123;
  const Case cases[] = {
      {R"({"a": 5, "b": "7"})",
       "alias(0, \"a\")alias(1, \"b\")bind_all()",
       {5.0, 101.0, 99.0, 74.12530193412877}},
      // Members in byte order: of two aliases at one position, the later name wins.
      {R"({"b": 2, "a": 1})",
       "alias(0, \"a\")alias(0, \"b\")bind_all()",
       {2.0, 101.0, 99.0, 74.12530193412877}},
      {R"({"B": 2, "a": 1})",
       "alias(0, \"a\")alias(0, \"B\")bind_all()",
       {1.0, 101.0, 99.0, 74.12530193412877}},
      {R"({"a": 5})", "bind_all()", {v0, 101.0, 99.0, 74.12530193412877}},
      {R"([5])", "alias(0, \"a\")bind_all()", {v0, 101.0, 99.0, 74.12530193412877}},
      // An aliased member that would not be written does not need a valid position.
      {R"({"a": "x", "c": 3})", "alias(9, \"a\")alias(3, \"c\")bind_all()", {v0, 101.0, 99.0, 3.0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.context);
    const auto context = nlohmann::json::parse(c.context);
    Memory memory;
    const auto result = run(memory, c.script, &context);
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(memory.values, c.values);
  }
  const auto context = nlohmann::json::parse(R"({"a": 1, "z": 2})");
  Memory memory;
  const auto result = run(memory, "alias(0, \"z\")alias(9, \"a\")bind_all()", &context);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message, "BindAll: position 9 out of range (4 values)");
  EXPECT_EQ(memory.values[0], 125.87469806587123);  // "a" comes first and stops the run
}

}  // namespace
}  // namespace tarn::lang
