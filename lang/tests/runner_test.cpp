// run_script as a whole: parse errors, the finish (residual, pass, decision), the lineage with
// its size guard, both report forms byte for byte, and the report file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tarn/json/writer.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/memory/state_memory.hpp"
#include "tarn/testing/process.hpp"
#include "tarn/testing/scratch.hpp"
#include "memory_fixture.hpp"

namespace tarn::lang {
namespace {

using tarn::testing::ScratchDir;
using tarn::testing::repeat;

Result<RunState, RunError> run(Memory& memory, std::string_view script,
                               std::uint64_t fuel_limit = 100000) {
  return run_script(memory.signs, memory.values, nullptr, script, fuel_limit);
}

TEST(RunScript, ParseErrorsComeFirst) {
  Memory memory;
  const auto result = run(memory, "report_to(\"never\")\nreport()\nfoo(1)\n");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message, "Parse error: Error(Error { input: \"foo\", code: Tag })");
  const auto failure = run(memory, "data(1e)");
  ASSERT_FALSE(failure.has_value());
  EXPECT_EQ(failure.error().message, "Parse error: Failure(Error { input: \"1e)\", code: Float })");
}

TEST(RunScript, EmptyScript) {
  Memory memory;
  const auto result = run(memory, "  // nothing\n");
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->fuel_used, 0U);
  EXPECT_TRUE(result->executed_commands.empty());
  EXPECT_FALSE(result->report_text.has_value());
  EXPECT_FALSE(result->lineage.has_value());
  EXPECT_TRUE(result->pass);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(result->residual), 0U);
}

TEST(RunScript, FinishRecomputesResidualAndPassWithTheScriptsTolerance) {
  struct Case {
    std::string_view script;
    std::size_t damaged;  // 4: intact
    bool pass;
    double residual;
    std::string_view decision;
  };
  const Case cases[] = {
      {"report()", 4, true, 0.0, "ALLOW"},
      {"report()", 1, false, 101.0, "DENY"},
      {"harmony(200)", 1, true, 101.0, "ALLOW"},
      {"harmony(101)", 1, false, 101.0, "DENY"},  // strict: |residual| == tolerance fails
      {"escalate(\"x\")", 4, true, 0.0, "ESCALATE"},
      {"escalate(\"x\")", 1, false, 101.0, "ESCALATE"},
      // pass written by an instruction is recomputed at the end.
      {"harmony(0.001)\ncorrupt(2)\nevolve(2)", 4, true, 0.0, "ALLOW"},
      {"if_broken { evolve(1) }\nharmony(0)", 1, false, 0.0, "DENY"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Memory memory = c.damaged < 4 ? Memory::damaged(c.damaged) : Memory{};
    const auto result = run(memory, c.script);
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(result->pass, c.pass);
    EXPECT_EQ(result->residual, c.residual);
    EXPECT_EQ(run_decision(*result), c.decision);
  }
}

TEST(RunScript, TextReport) {
  struct Case {
    std::string_view script;
    std::size_t damaged;
    std::string_view text;
  };
  const Case cases[] = {
      {"report()", 4, "Final Residual: 0.000000, Pass: true"},
      {"report_verbose()", 0, "Final Residual: -125.874698, Pass: false"},
      {"report_json()", 1, "Final Residual: 101.000000, Pass: false"},
      {"track_lineage(true)\nreport_json()\ntrack_lineage(false)", 4,
       "Final Residual: 0.000000, Pass: true"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Memory memory = c.damaged < 4 ? Memory::damaged(c.damaged) : Memory{};
    const auto result = run(memory, c.script);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->report_text, c.text);
    EXPECT_FALSE(result->report_path.has_value());
  }
  Memory memory;
  const auto untracked = run(memory, "track_lineage(true)\nreport_json()\ntrack_lineage(false)");
  EXPECT_FALSE(untracked->lineage.has_value());
  EXPECT_FALSE(untracked->replay_hash.has_value());
  EXPECT_FALSE(untracked->signature.has_value());
}

TEST(RunScript, EmptyMemoryHasANegativeZeroResidual) {
  std::vector<std::int8_t> signs;
  std::vector<double> values;
  const auto result = run_script(signs, values, nullptr, "report()\ntrack_lineage(true)", 100);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->report_text, "Final Residual: -0.000000, Pass: true");
  EXPECT_EQ(result->replay_hash, "hash_8000000000000000");
}

TEST(RunScript, ReplayHashIsTheResidualsBitPattern) {
  struct Case {
    double value;
    std::string_view hash;
  };
  const Case cases[] = {{0.0, "hash_0"},
                        {1.0, "hash_3ff0000000000000"},
                        {-1.0, "hash_bff0000000000000"},
                        {std::numeric_limits<double>::denorm_min(), "hash_1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hash);
    std::vector<std::int8_t> signs{1};
    std::vector<double> values{c.value};
    const auto result = run_script(signs, values, nullptr, "track_lineage(true)", 100);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->replay_hash, c.hash);
    EXPECT_EQ(result->signature, "qrv-sha256:generated_tdo_sig_placeholder");
  }
}

TEST(RunScript, JsonReportExample) {
  Memory memory;
  const auto result = run(memory, "track_lineage(true) report_json()");
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result->report_text, R"json({
  "escalate_reason": null,
  "fuel_consumed": 2,
  "gate_state": "ALLOW",
  "identity_linked": null,
  "lineage_proof": {
    "executed_commands": [
      "TrackLineage(true)",
      "ReportJson"
    ],
    "final_residual": 0.0,
    "fuel_used": 2,
    "gate_state": "ALLOW",
    "identity": null
  },
  "pass": true,
  "replay_hash": "hash_0",
  "residual": 0.0,
  "signature": "qrv-sha256:generated_tdo_sig_placeholder",
  "zk_proof": null
})json");
}

// The report is written straight from the run state; it must be the same bytes as the sorted
// pretty document of the same values, strings with escapes and non-finite numbers included.
TEST(RunScript, JsonReportEqualsThePrettyDocumentOfItsValues) {
  std::vector<std::int8_t> signs{1, -1};
  std::vector<double> values{std::numeric_limits<double>::infinity(), 1.0};
  const auto ok = run_script(signs, values, nullptr,
                             "link_identity(\"b\\c\nd\t\x01\")\nescalate(\"why/\")\n"
                             "generate_zk_proof(true)\ntrack_lineage(true)\nreport_json()\n"
                             "if_broken { alias(1, \"\xc3\xa9\\\") }",
                             100);
  ASSERT_TRUE(ok.has_value()) << ok.error().message;
  ASSERT_TRUE(ok->lineage.has_value());
  const nlohmann::json lineage = {
      {"executed_commands", ok->executed_commands.texts()},
      {"final_residual", ok->lineage->final_residual},
      {"fuel_used", ok->lineage->fuel_used},
      {"gate_state", ok->lineage->gate_state},
      {"identity", *ok->lineage->identity},
  };
  nlohmann::json expected = {
      {"escalate_reason", *ok->escalation},
      {"fuel_consumed", ok->fuel_used},
      {"gate_state", "ESCALATE"},
      {"identity_linked", *ok->identity},
      {"lineage_proof", lineage},
      {"pass", false},
      {"replay_hash", *ok->replay_hash},
      {"residual", nullptr},
      {"signature", *ok->signature},
      {"zk_proof", *ok->zk_proof},
  };
  EXPECT_EQ(*ok->report_text, json::to_pretty(expected));
  const auto written = nlohmann::json::parse(*ok->report_text)["lineage_proof"];
  EXPECT_EQ(written["executed_commands"][0], "LinkIdentity(\"b\\\\c\\nd\\t\\u{1}\")");
  EXPECT_EQ(written["final_residual"], nullptr);
  EXPECT_EQ(written["identity"], "b\\c\nd\t\x01");
}

TEST(RunScript, LineageJson) {
  Memory memory = Memory::damaged(1);
  const auto result = run(memory, "link_identity(\"me\")\ntrack_lineage(true)\nresidual()");
  ASSERT_TRUE(result.has_value());
  ASSERT_TRUE(result->lineage.has_value());
  std::string written = "lineage: ";
  append_lineage_json(written, *result, 0);
  EXPECT_EQ(written, R"json(lineage: {
  "executed_commands": [
    "LinkIdentity(\"me\")",
    "TrackLineage(true)",
    "Residual(0.0)"
  ],
  "final_residual": 101.0,
  "fuel_used": 3,
  "gate_state": "DENY",
  "identity": "me"
})json");
  EXPECT_FALSE(result->report_text.has_value());
  Memory intact;
  const auto untracked = run(intact, "report()");
  written.clear();
  append_lineage_json(written, *untracked, 0);
  EXPECT_EQ(written, "null");
}

TEST(RunScript, LineageGuardRefusesMoreThanOneGibibyteOfCommandText) {
  ScratchDir dir;
  const std::string report = dir.file("report.txt");
  // Entry k of a nest d deep is 10 * (d - k) bytes long: 5 * d * d in all, 2e9 bytes here.
  const std::size_t depth = 20000;
  const std::string nest = repeat("if_broken{", depth) + repeat("}", depth);
  Memory memory = Memory::damaged(1);
  const auto result =
      run(memory, "report_to(\"" + report + "\")\nreport()\ntrack_lineage(true)\n" + nest);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message, "Lineage record exceeds 1 GiB of executed-command text");
  EXPECT_FALSE(std::filesystem::exists(report));

  // Without tracking the same run succeeds: nothing has been rendered.
  Memory again = Memory::damaged(1);
  const auto untracked = run(again, nest + "report()");
  ASSERT_TRUE(untracked.has_value());
  EXPECT_EQ(untracked->report_text, "Final Residual: 101.000000, Pass: false");
  EXPECT_GT(untracked->executed_commands.total_text_length(), 1073741824U);
}

TEST(RunScript, ReportFile) {
  ScratchDir dir;
  const std::string path = dir.file("report.txt");
  struct Case {
    std::string name;
    std::string script;
    std::string before;  // file content before the run ("" : no file)
    bool succeeds;
    std::optional<std::string> after;  // nullopt: no file afterwards
  };
  const Case cases[] = {
      {"written", "report()\nreport_to(\"" + path + "\")", "", true,
       "Final Residual: 0.000000, Pass: true"},
      {"truncated", "report_to(\"" + path + "\")\nreport()", repeat("old report text ", 10), true,
       "Final Residual: 0.000000, Pass: true"},
      {"not without report()", "report_to(\"" + path + "\")", "", true, std::nullopt},
      {"not after an error", "report_to(\"" + path + "\")\nreport()\nreport()", "", false,
       std::nullopt},
      {"untouched after an error", "report_to(\"" + path + "\")\nreport()\nreport()", "keep", false,
       "keep"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(path);
    if (!c.before.empty()) testing::write_file(path, c.before);
    Memory memory;
    const auto result = run(memory, c.script, 2);
    ASSERT_EQ(result.has_value(), c.succeeds);
    if (c.after) {
      EXPECT_EQ(testing::read_file(path), *c.after);
    } else {
      EXPECT_FALSE(std::filesystem::exists(path));
    }
    if (c.succeeds) {
      EXPECT_EQ(result->report_path.has_value(), c.after.has_value());
    }
  }
}

TEST(RunScript, ReportFileJsonFormAndUnwritableTargets) {
  ScratchDir dir;
  const std::string path = dir.file("report.json");
  Memory memory;
  const auto result =
      run(memory, "report_to(\"" + path + "\")\ntrack_lineage(true)\nreport_json()");
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(testing::read_file(path), *result->report_text);

  const std::string missing_dir = dir.file("no/such/dir/r.txt");
  const auto ignored = run(memory, "report()\nreport_to(\"" + missing_dir + "\")");
  ASSERT_TRUE(ignored.has_value());
  EXPECT_EQ(ignored->report_path, missing_dir);
  const auto directory = run(memory, "report()\nreport_to(\"" + dir.file("") + "\")");
  ASSERT_TRUE(directory.has_value());
  EXPECT_EQ(directory->report_path, dir.file(""));
}

TEST(RunScript, NonFiniteResidual) {
  std::vector<std::int8_t> signs{1, 1};
  std::vector<double> values{std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
  const auto result = run_script(signs, values, nullptr, "report()", 100);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->report_text, "Final Residual: NaN, Pass: false");
}

}  // namespace
}  // namespace tarn::lang
