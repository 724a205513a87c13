// Script verdicts: every outcome (unreachable, refused, in equilibrium, drifted), the success
// document byte for byte, the healing of each corrupted position, and the verifier process ending
// in an orderly verdict on scripts that nest or import without end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "verdict_report.hpp"
#include "script_verdict.hpp"
#include "tarn/testing/process.hpp"
#include "tarn/lang/file_access.hpp"
#include "verifier.hpp"
#include "tarn/testing/scratch.hpp"

namespace qrv {
namespace {

using tarn::testing::ScratchDir;
using tarn::testing::repeat;

constexpr std::string_view kSuccessExample =
    R"json({"audit_history":[{"action":"evaluate","status":"verified"}],"corrupted_index":null,)json"
    R"json("disparate_impact_ratio":1.0,"drift":0.0,"explanation_trace":{"resolved_rules":["CORE-MATH"]},)json"
    R"json("gate_status":"OPEN","indices_healed":[],"log_complete":true,"pass":true,"pre_heal_residual":null,)json"
    R"json("provenance_signature":"ed25519:authentic","provenance_verified":true,"residual_final":0.0,)json"
    R"json("residual_history":["0.000000"],"revealed":null,"revealed_matches":true})json"
    "\n";

constexpr std::array<std::int8_t, 4> kSigns{1, -1, -1, 1};

/// The driver's memory for payload 1337, with the corruption record the memory check would make.
struct Prepared {
  std::array<double, 4> values{125.87469806587123, 101.0, 99.0, 74.12530193412877};
  std::optional<CorruptionRecord> corruption;
  explicit Prepared(std::optional<std::size_t> corrupt_index = std::nullopt) {
    static constexpr std::array<double, 4> kPreHealResiduals{-125.87469806587123, 101.0, 99.0,
                                                             -74.12530193412877};
    if (corrupt_index) {
      values[*corrupt_index] = 0.0;
      corruption = CorruptionRecord{*corrupt_index, kPreHealResiduals[*corrupt_index]};
    }
  }
};

std::string check(const std::string& path, bool emit_json,
                  std::optional<std::size_t> corrupt_index = std::nullopt) {
  Prepared memory(corrupt_index);
  std::string out;
  run_script_check(kSigns, memory.values, memory.corruption, path, emit_json, out);
  return out;
}

TEST(ScriptVerdict, OutcomesThroughTheReport) {
  ScratchDir dir;
  struct Case {
    std::string name;
    std::string path;
    std::optional<std::size_t> corrupt_index;
    GateDecision decision;
    std::optional<double> residual;
    std::vector<std::uint64_t> healed;
    std::optional<double> revealed;
  };
  const Case cases[] = {
      {"missing file", dir.file("missing.txt"), {}, Silence{}, {}, {}, {}},
      {"empty path", "", {}, Silence{}, {}, {}, {}},
      {"directory", dir.file(""), {}, Silence{}, {}, {}, {}},
      {"not UTF-8", dir.write("latin1.txt", "report()\n// caf\xe9\n"), {}, Silence{}, {}, {}, {}},
      {"parse error", dir.write("bad.txt", "report(\n"), {}, Silence{}, {}, {}, {}},
      {"run error", dir.write("assert.txt", "assert_bounds(0, 100, 0)"), {}, Silence{}, {}, {}, {}},
      {"out of fuel", dir.write("fuel.txt", repeat("report()", 100001)), {}, Silence{}, {}, {}, {}},
      {"refused in a comment",
       dir.write("c1.txt", "// do not corrupt\nreport()\n"),
       {},
       Deny{"instruction_hierarchy_violation"},
       -21.383029,
       {},
       {}},
      {"refused inside a word",
       dir.write("c2.txt", "link_identity(\"incorruptible\")"),
       {},
       Deny{"instruction_hierarchy_violation"},
       -21.383029,
       {},
       {}},
      {"refused before parsing",
       dir.write("c3.txt", "corrupt(1"),
       2,
       Deny{"instruction_hierarchy_violation"},
       -21.383029,
       {},
       {}},
      {"capital Corrupt is not refused",
       dir.write("c4.txt", "// Corrupt\nreport()\n"),
       {},
       Permit{},
       0.0,
       {},
       {}},
      {"in equilibrium",
       dir.write("ok.txt", "if_broken { evolve(1) }\ndata(0)\n"),
       1,
       Permit{},
       0.0,
       {1},
       1337.0000000000018},
      {"drifted",
       dir.write("drift.txt", "residual()\n"),
       0,
       Deny{"mathematical_drift_detected"},
       -125.87469806587123,
       {},
       {}},
      {"drifted by the script's own tolerance",
       dir.write("strict.txt", "harmony(0)\n"),
       {},
       Deny{"mathematical_drift_detected"},
       0.0,
       {},
       {}},
  };
  for (const Case& c : cases) {
    for (const bool emit_json : {false, true}) {
      SCOPED_TRACE(c.name + (emit_json ? " (json)" : " (text)"));
      // A run in equilibrium in JSON mode prints the success document instead.
      if (emit_json && std::holds_alternative<Permit>(c.decision)) continue;
      const std::string out = check(c.path, emit_json, c.corrupt_index);
      std::string expected;
      append_verdict_report(expected, c.decision, c.residual, c.healed, c.revealed, emit_json);
      EXPECT_EQ(out, expected);
    }
  }
}

// A host that holds the script as text gets the verdict of a file holding those bytes.
TEST(ScriptVerdict, TextGivesTheVerdictOfItsFile) {
  ScratchDir dir;
  const std::string texts[] = {"if_broken { evolve(1) }\ndata(0)\n", "residual()\n", "report(\n",
                               "// corrupt\nreport()", "report()\n// caf\xe9\n",
                               "import(\"nowhere.tarn\")", ""};
  for (const std::string& text : texts) {
    const std::string path = dir.write("script.txt", text);
    for (const bool emit_json : {false, true}) {
      for (const auto corrupt_index : {std::optional<std::size_t>{}, std::optional<std::size_t>{1}}) {
        SCOPED_TRACE(text);
        Prepared memory(corrupt_index);
        std::string from_text;
        run_script_text_check(kSigns, memory.values, memory.corruption, text, emit_json, from_text);
        EXPECT_EQ(from_text, check(path, emit_json, corrupt_index));
      }
    }
  }
}

// Its imports come from the files the host gives: here as if the imported text stood in place.
TEST(ScriptVerdict, TextImportsFromTheHostsFiles) {
  const tarn::lang::MemoryFiles files{{"heal.tarn", "if_broken { evolve(1) }\n"}};
  std::string imported;
  std::string inlined;
  Prepared first(1);
  run_script_text_check(kSigns, first.values, first.corruption,
                        "import(\"heal.tarn\")\ndata(0)\n", true, imported, &files);
  Prepared second(1);
  run_script_text_check(kSigns, second.values, second.corruption,
                        "if_broken { evolve(1) }\ndata(0)\n", true, inlined);
  EXPECT_EQ(imported, inlined);
  EXPECT_NE(imported.find("\"indices_healed\":[1]"), std::string::npos) << imported;
}

TEST(ScriptVerdict, SuccessDocumentExample) {
  ScratchDir dir;
  EXPECT_EQ(check(dir.write("ok.txt", "report()\n"), true), kSuccessExample);
  EXPECT_EQ(check(dir.write("empty.txt", ""), true), kSuccessExample);
}

TEST(ScriptVerdict, SuccessDocumentShowsRevealedAndTheScriptsTolerance) {
  ScratchDir dir;
  const std::string lenient = check(dir.write("lenient.txt", "harmony(200)\n"), true, 1);
  EXPECT_NE(lenient.find(R"("corrupted_index":1,)"), std::string::npos) << lenient;
  EXPECT_NE(lenient.find(R"("pre_heal_residual":101.0,)"), std::string::npos) << lenient;
  EXPECT_NE(lenient.find(R"("residual_final":101.0,"residual_history":["101.000000"],)"),
            std::string::npos)
      << lenient;
  const std::string revealed = check(dir.write("data.txt", "data(0)\n"), true);
  EXPECT_NE(revealed.find(R"("revealed":1337.0000000000018,)"), std::string::npos) << revealed;
}

// The healing example through the whole verifier, for each position the driver can corrupt.
TEST(ScriptVerdict, HealingEachCorruptedPosition) {
  ScratchDir dir;
  struct Case {
    int index;
    std::string_view pre_heal_residual;
  };
  const Case cases[] = {
      {0, "-125.87469806587123"}, {1, "101.0"}, {2, "99.0"}, {3, "-74.12530193412877"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    const std::string index = std::to_string(c.index);
    const std::string script =
        dir.write("heal" + index + ".txt", "if_broken { evolve(" + index + ") }\n");
    const std::vector<std::string> arguments{"--script=" + script, "--emit=json",
                                             "--corrupt-index=" + index};
    std::string expected(kSuccessExample);
    expected.replace(expected.find("\"corrupted_index\":null"), 22, "\"corrupted_index\":" + index);
    expected.replace(expected.find("\"indices_healed\":[]"), 19,
                     "\"indices_healed\":[" + index + "]");
    expected.replace(expected.find("\"pre_heal_residual\":null"), 24,
                     "\"pre_heal_residual\":" + std::string(c.pre_heal_residual));
    EXPECT_EQ(run_verifier(arguments), expected);
  }
  // An index beyond the memory corrupts nothing and records nothing.
  const std::string script = dir.write("plain.txt", "if_broken { evolve(0) }\n");
  EXPECT_EQ(run_verifier(
                std::vector<std::string>{"--script=" + script, "--emit=json", "--corrupt-index=4"}),
            kSuccessExample);
}

TEST(ScriptVerdict, UnhealedCorruptionDriftsInText) {
  ScratchDir dir;
  const std::string script = dir.write("none.txt", "report()\n");
  const std::string out =
      run_verifier(std::vector<std::string>{"--script=" + script, "--corrupt-index=0"});
  EXPECT_NE(out.find("Pass: false\nStatus: CLOSED\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Reason: mathematical_drift_detected\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Residual: -125.87469806587123\n"), std::string::npos) << out;
}

// Scripts that would nest or import without end finish as ordinary verdicts of the process.
TEST(ScriptVerdictProcess, EndlessNestingEndsInAVerdict) {
  ScratchDir dir;
  const std::string self = dir.file("self.txt");
  tarn::testing::write_file(self, "import(\"" + self + "\")\n");
  const std::size_t depth = 1000000;
  const std::string deep =
      dir.write("deep.txt", repeat("if_broken {\n", depth) + repeat("}\n", depth));
  struct Case {
    std::vector<std::string> arguments;
    std::string_view status_line;
  };
  const Case cases[] = {
      {{"--script=" + self}, "Status: SILENCE\n"},
      {{"--script=" + deep}, "Status: OPEN\n"},
      {{"--script=" + deep, "--corrupt-index=1"}, "Status: SILENCE\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.back());
    const auto result =
        tarn::testing::run_process(tarn::testing::tool_path("qrv-verifier"), c.arguments);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find(c.status_line), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "");
  }
}

}  // namespace
}  // namespace qrv
