// The execution loop: fuel accounting, recording, nesting through blocks and imports, settings
// shared by every level, and depth bounded only by fuel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "interpreter.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/run_state.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/memory/state_memory.hpp"
#include "tarn/testing/process.hpp"
#include "tarn/testing/scratch.hpp"
#include "memory_fixture.hpp"

namespace tarn::lang {
namespace {

using tarn::testing::ScratchDir;
using tarn::testing::repeat;

constexpr std::string_view kOutOfFuel = "Out of fuel (Gas limit exceeded)";

struct Executed {
  Result<void, RunError> result;
  RunState state;
  RunSettings settings;
};

Executed run_program(std::string_view script, Memory& memory, std::uint64_t fuel_limit = 100000,
                     std::uint64_t import_limit = kScriptTextLimit) {
  auto parsed = parse_program(script);
  EXPECT_TRUE(parsed.has_value()) << script;
  if (!parsed) return {fail(RunError{RunErrorCode::ParseError, "unparsed"}), {}, {}};
  RunInputs inputs;
  inputs.fuel_limit = fuel_limit;
  inputs.open_import_text_limit = import_limit;
  RunState state;
  RunSettings settings;
  auto result = execute(std::make_shared<const Program>(std::move(*parsed)),
                        RunMemory{memory.signs, memory.values}, inputs, state, settings);
  return {std::move(result), std::move(state), std::move(settings)};
}

TEST(Execute, FuelAccounting) {
  struct Case {
    std::string_view script;
    std::uint64_t fuel_limit;
    bool damaged;
    bool succeeds;
    std::uint64_t fuel_used;
    std::size_t recorded;
  };
  const Case cases[] = {
      {"", 0, false, true, 0, 0},
      {"", 100000, false, true, 0, 0},
      {"report()", 0, false, false, 0, 0},
      {"report()", 1, false, true, 1, 1},
      {"report()report()", 1, false, false, 1, 1},
      // Evolve's ten extra units are charged without a check; the next start fails.
      {"evolve(0)\nreport()", 11, false, false, 11, 1},
      {"evolve(0)\nreport()", 12, false, true, 12, 2},
      {"evolve(0)", 1, false, true, 11, 1},
      // A block costs one unit; each body instruction its own.
      {"if_broken { report() report() }", 100000, true, true, 3, 3},
      {"if_broken { report() report() }", 2, true, false, 2, 2},
      {"if_broken { report() report() }", 100000, false, true, 1, 1},
      {"if_broken { evolve(1) }", 100000, true, true, 12, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.script << " with fuel " << c.fuel_limit);
    Memory memory = c.damaged ? Memory::damaged(1) : Memory{};
    const Executed run = run_program(c.script, memory, c.fuel_limit);
    EXPECT_EQ(run.result.has_value(), c.succeeds);
    if (!c.succeeds) {
      EXPECT_EQ(run.result.error().message, kOutOfFuel);
    }
    EXPECT_EQ(run.state.fuel_used, c.fuel_used);
    EXPECT_EQ(run.state.executed_commands.size(), c.recorded);
  }
}

TEST(Execute, DriverBudgetAllowsExactlyOneHundredThousandStarts) {
  Memory memory;
  const std::string script = repeat("report()\n", 100000);
  const Executed full = run_program(script, memory);
  ASSERT_TRUE(full.result.has_value());
  EXPECT_EQ(full.state.fuel_used, 100000U);

  const Executed over = run_program(script + "report()", memory);
  ASSERT_FALSE(over.result.has_value());
  EXPECT_EQ(over.result.error().message, kOutOfFuel);
  EXPECT_EQ(over.state.fuel_used, 100000U);
  EXPECT_EQ(over.state.executed_commands.size(), 100000U);
}

TEST(Execute, RecordsBlockBeforeItsBodyAndTheFailingInstruction) {
  Memory memory = Memory::damaged(1);
  const Executed run =
      run_program("if_broken { evolve(1) report() }\nassert_bounds(0, 1, 0)\nreport()", memory);
  ASSERT_FALSE(run.result.has_value());
  EXPECT_EQ(run.state.executed_commands.texts(),
            (std::vector<std::string>{"Branch([Evolve(1), Report])", "Evolve(1)", "Report",
                                      "AssertBounds(0.0, 1.0, 0)"}));
  // What ran before the error stays done.
  EXPECT_EQ(memory.values[1], 101.0);
}

TEST(Execute, SettingsChangedInABlockOutliveIt) {
  Memory memory = Memory::damaged(1);
  const Executed run = run_program(
      "if_broken { harmony(200) report_json() alias(2, \"x\") track_lineage(true) report_to(\"r\") "
      "}",
      memory);
  ASSERT_TRUE(run.result.has_value());
  EXPECT_EQ(run.settings.tolerance, 200.0);
  EXPECT_TRUE(run.settings.report);
  EXPECT_TRUE(run.settings.json);
  EXPECT_TRUE(run.settings.track_lineage);
  EXPECT_EQ(run.settings.report_to, "r");
  EXPECT_EQ(run.settings.aliases.at("x"), 2U);
}

TEST(Import, RunsTheFileInPlaceSharingEverything) {
  ScratchDir dir;
  const std::string inner = dir.file("inner.txt");
  testing::write_file(inner, "harmony(200)\nalias(3, \"low\")\nif_broken { evolve(1) }\n");
  Memory memory = Memory::damaged(1);
  const Executed run =
      run_program("import(\"" + inner + "\")\nassert_bounds(0, 100, \"low\")", memory, 100000);
  ASSERT_TRUE(run.result.has_value()) << run.result.error().message;
  EXPECT_EQ(run.settings.tolerance, 200.0);
  // The tolerance of 200 keeps the damaged memory "in equilibrium", so the block was skipped.
  EXPECT_EQ(memory.values[1], 0.0);
  EXPECT_EQ(
      run.state.executed_commands.texts(),
      (std::vector<std::string>{"Import(\"" + inner + "\")", "Harmony(200.0)", "Alias(3, \"low\")",
                                "Branch([Evolve(1)])", "AssertBoundsNamed(0.0, 100.0, \"low\")"}));
  EXPECT_EQ(run.state.fuel_used, 5U);
}

TEST(Import, Failures) {
  ScratchDir dir;
  const std::string bad = dir.file("bad.txt");
  testing::write_file(bad, "foo(1)\n");
  const std::string failing = dir.file("failing.txt");
  testing::write_file(failing, "if_broken { assert_bounds(0, 1, 0) }\n");
  const std::string not_utf8 = dir.file("latin1.txt");
  testing::write_file(not_utf8, "report()\n// caf\xe9\n");

  struct Case {
    std::string script;
    std::string error;
  };
  const Case cases[] = {
      {"import(\"missing.txt\")", "Import failed for 'missing.txt': No such file or directory"},
      {"import(\"" + dir.file("") + "\")",
       "Import failed for '" + dir.file("") + "': Is a directory"},
      {"import(\"" + not_utf8 + "\")",
       "Import failed for '" + not_utf8 + "': stream did not contain valid UTF-8"},
      {"import(\"" + bad + "\")",
       "Parse error in imported file: Error(Error { input: \"foo\", code: Tag })"},
      // An error inside the imported file's block is reported as itself.
      {"import(\"" + failing + "\")",
       "Bounds assertion failed at index 0: value 125.87469806587123 not in [0, 1]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Memory memory = Memory::damaged(1);
    const Executed run = run_program(c.script, memory);
    ASSERT_FALSE(run.result.has_value());
    EXPECT_EQ(run.result.error().message, c.error);
  }
}

TEST(Import, SelfImportRunsOutOfFuel) {
  ScratchDir dir;
  const std::string self = dir.file("self.txt");
  testing::write_file(self, "report()\nimport(\"" + self + "\")\n");
  Memory memory;
  const Executed run = run_program("import(\"" + self + "\")", memory);
  ASSERT_FALSE(run.result.has_value());
  EXPECT_EQ(run.result.error().message, kOutOfFuel);
  EXPECT_EQ(run.state.fuel_used, 100000U);
}

TEST(Import, CycleOfTwoFilesRunsOutOfFuel) {
  ScratchDir dir;
  const std::string a = dir.file("a.txt");
  const std::string b = dir.file("b.txt");
  testing::write_file(a, "import(\"" + b + "\")");
  testing::write_file(b, "residual()\nimport(\"" + a + "\")");
  Memory memory;
  const Executed run = run_program("import(\"" + a + "\")", memory, 1000);
  ASSERT_FALSE(run.result.has_value());
  EXPECT_EQ(run.result.error().message, kOutOfFuel);
  EXPECT_EQ(run.state.residual_log.size(), 333U);  // 1 + 3 per round: import a, import b, residual
}

// A self-importing file that also holds a large block: identical texts share one parsed program,
// so 100000 levels do not hold 100000 copies of the block (which would need many gigabytes).
TEST(Import, SelfImportUnderALargeSkippedBlockSharesOneProgram) {
  ScratchDir dir;
  const std::string self = dir.file("self.txt");
  const std::size_t depth = 200;  // 100000 levels of a 2.5 KB file stay below 256 MiB
  testing::write_file(self, "import(\"" + self + "\")\nif_broken{" + repeat("if_broken{", depth) +
                                repeat("}", depth + 1));
  Memory memory;
  const Executed run = run_program("import(\"" + self + "\")", memory);
  ASSERT_FALSE(run.result.has_value());
  EXPECT_EQ(run.result.error().message, kOutOfFuel);

  // A larger file reaches the limit on open import text first, after about 256 MiB / 55 KB levels.
  testing::write_file(self, "import(\"" + self + "\")\nif_broken{" + repeat("if_broken{", 5000) +
                                repeat("}", 5001));
  const Executed large = run_program("import(\"" + self + "\")", memory);
  ASSERT_FALSE(large.result.has_value());
  EXPECT_EQ(large.result.error().message,
            "Import failed for '" + self + "': open imports exceed 256 MiB of script text");
  const std::uint64_t size = testing::read_file(self).size();
  EXPECT_EQ(large.state.fuel_used, kScriptTextLimit / size + 1);
}

// The limit on text held by open imports, lowered so that small files reach it.
TEST(Import, OpenImportTextGuard) {
  ScratchDir dir;
  const std::string self = dir.file("self.txt");
  const std::string self_text = "import(\"" + self + "\")";
  testing::write_file(self, self_text);
  const std::string leaf = dir.file("leaf.txt");
  testing::write_file(leaf, "report()      ");  // 14 bytes
  const std::uint64_t limit = 4 * self_text.size();
  {
    SCOPED_TRACE("nested imports add up");
    Memory memory;
    const Executed run = run_program(self_text, memory, 100000, limit);
    ASSERT_FALSE(run.result.has_value());
    EXPECT_EQ(run.result.error().message,
              "Import failed for '" + self + "': open imports exceed 256 MiB of script text");
    // Four levels fit; the fifth would pass the limit.
    EXPECT_EQ(run.state.fuel_used, 5U);
  }
  {
    SCOPED_TRACE("imports that have ended hold nothing");
    Memory memory;
    const Executed run = run_program(repeat("import(\"" + leaf + "\")", 20), memory, 100000, 14);
    ASSERT_TRUE(run.result.has_value()) << run.result.error().message;
    EXPECT_EQ(run.state.fuel_used, 40U);
  }
  {
    SCOPED_TRACE("one file larger than the limit");
    Memory memory;
    const Executed run = run_program("import(\"" + leaf + "\")", memory, 100000, 13);
    ASSERT_FALSE(run.result.has_value());
  }
}

// Depth is bounded by fuel only and never reaches the call stack: running, recording, measuring
// and destroying a million-deep nest all work. Parsed once: parsing is the slow part here.
TEST(Execute, MillionDeepNest) {
  const std::size_t depth = 1000000;
  auto parsed = parse_program(repeat("if_broken {\n", depth) + repeat("}\n", depth));
  ASSERT_TRUE(parsed.has_value());
  auto program = std::make_shared<const Program>(std::move(*parsed));
  struct Case {
    std::string_view name;
    Memory memory;
    bool succeeds;
    std::uint64_t fuel_used;
  };
  Case cases[] = {
      {"intact: the outer block is skipped", Memory{}, true, 1},
      {"damaged: every level is entered until the fuel ends", Memory::damaged(1), false, 100000}};
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunState state;
    RunSettings settings;
    const auto result = execute(program, RunMemory{c.memory.signs, c.memory.values}, RunInputs{},
                                state, settings);
    ASSERT_EQ(result.has_value(), c.succeeds);
    if (!c.succeeds) {
      EXPECT_EQ(result.error().message, kOutOfFuel);
    }
    EXPECT_EQ(state.fuel_used, c.fuel_used);
    EXPECT_EQ(state.executed_commands.total_text_length(),
              state.executed_commands.size() == 1 ? 10 * depth : 5 * (2 * depth - 99999) * 100000);
  }
  EXPECT_EQ(program.use_count(), 1);
}

}  // namespace
}  // namespace tarn::lang
