// Scenario flags and case catalogue against their goldens.
//
// The expected lines live in tests/golden/scenarios.txt (written out by hand from the catalogue,
// reviewable as data) and are checked twice: through the simulator functions, and through the
// whole verifier, which must add nothing and take nothing away. scenario_precedence.txt holds the
// runs whose answer depends on the driver's mode choice, so it only goes through the verifier.

#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "scenario_catalogue.hpp"
#include "scenario_flags.hpp"
#include "verifier.hpp"

namespace {

constexpr std::string_view case_prefix = "--simulate-case=";
constexpr std::string_view unknown_case_line =
    R"({"pass": false, "gate_status": "CLOSED", "rejection_reason": "unknown_simulate_case"})";

struct GoldenRun {
  std::vector<std::string> arguments;
  std::string expected;  // without its line feed
  int line_number = 0;
};

// Each data line: the arguments, each followed by a TAB, then the expected line.
std::vector<GoldenRun> read_golden(const std::string& name) {
  std::ifstream file(std::string(TARN_TEST_DATA_DIR) + "/tests/golden/" + name, std::ios::binary);
  EXPECT_TRUE(file) << "cannot open golden file " << name;
  std::vector<GoldenRun> runs;
  std::string line;
  int line_number = 0;
  while (std::getline(file, line)) {
    ++line_number;
    if (line.empty() || line.front() == '#') continue;
    GoldenRun run;
    run.line_number = line_number;
    std::string::size_type start = 0;
    for (auto tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
      run.arguments.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    run.expected = line.substr(start);
    EXPECT_FALSE(run.arguments.empty()) << name << ":" << line_number << " has no arguments";
    runs.push_back(std::move(run));
  }
  return runs;
}

std::string trace_of(const std::string& file, const GoldenRun& run) {
  std::ostringstream text;
  text << file << ":" << run.line_number << ":";
  for (const auto& argument : run.arguments) text << " [" << argument << "]";
  return text.str();
}

bool is_single_case(const GoldenRun& run) {
  return run.arguments.size() == 1 && run.arguments.front().starts_with(case_prefix);
}

std::string case_line(std::string_view id) {
  std::string out;
  qrv::append_case_line(out, id);
  return out;
}

TEST(ScenarioGolden, SimulatorPrintsEveryGoldenLine) {
  const auto runs = read_golden("scenarios.txt");
  std::set<std::string> flags_seen;
  std::set<std::string> cases_seen;
  for (const auto& run : runs) {
    SCOPED_TRACE(trace_of("scenarios.txt", run));
    if (is_single_case(run)) {
      const auto id = run.arguments.front().substr(case_prefix.size());
      EXPECT_EQ(case_line(id), run.expected + "\n");
      if (run.expected != unknown_case_line) cases_seen.insert(id);
    } else {
      const auto document = qrv::scenario_flag_document(run.arguments);
      ASSERT_TRUE(document.has_value());
      EXPECT_EQ(*document, run.expected);
      if (run.arguments.size() == 1) flags_seen.insert(run.arguments.front());
    }
  }
  // A truncated golden file must not pass quietly.
  EXPECT_EQ(flags_seen.size(), 20U);
  EXPECT_EQ(cases_seen.size(), 41U);
}

TEST(ScenarioGolden, VerifierPrintsEveryGoldenLine) {
  for (const std::string file : {"scenarios.txt", "scenario_precedence.txt"}) {
    for (const auto& run : read_golden(file)) {
      SCOPED_TRACE(trace_of(file, run));
      EXPECT_EQ(qrv::run_verifier(run.arguments), run.expected + "\n");
    }
  }
}

TEST(ScenarioFlags, OnlyCompleteFlagTextsMatch) {
  const std::vector<std::vector<std::string>> not_flags = {
      {},
      {""},
      {"--SIMULATE-DPIA-GATE"},
      {"--simulate-dpia-gate=1"},
      {"--simulate-dpia-gate "},
      {" --simulate-dpia-gate"},
      {"-simulate-dpia-gate"},
      {"--simulate-dpia-gat"},
      {"--simulate-latency-ms=200"},
      {"--simulate-latency-ms=1000"},
      {"--simulate-latency-ms="},
      {"--simulate-latency-ms"},
      {"--simulate-trace"},
      {"--simulate-drift"},
      {"--simulate-transitive-revocationX"},  // 33 bytes: one past the longest flag
      {"--simulate-case=--simulate-dpia-gate"},
      {"--simulate-dpia-gate\n"},
      {std::string("--simulate-dpia-gate\0", 21)},
      {"--payload=5", "--emit=json", "--script=policy.tarn"},
  };
  for (const auto& arguments : not_flags) {
    std::string trace;
    for (const auto& argument : arguments) trace += "[" + argument + "] ";
    SCOPED_TRACE(trace);
    EXPECT_EQ(qrv::scenario_flag_document(arguments), std::nullopt);
  }
}

TEST(ScenarioFlags, FirstFlagOnTheLineWins) {
  const auto multisig = qrv::scenario_flag_document(std::vector<std::string>{"--simulate-multisig-escape"});
  const auto dpia = qrv::scenario_flag_document(std::vector<std::string>{"--simulate-dpia-gate"});
  ASSERT_TRUE(multisig && dpia);
  EXPECT_EQ(qrv::scenario_flag_document(
                std::vector<std::string>{"x", "--simulate-multisig-escape", "--simulate-dpia-gate"}),
            multisig);
  EXPECT_EQ(qrv::scenario_flag_document(std::vector<std::string>{"--simulate-dpia-gate", "--simulate-multisig-escape"}),
            dpia);
  // A near miss before a flag does not stop the scan.
  EXPECT_EQ(qrv::scenario_flag_document(std::vector<std::string>{"--simulate-dpia-gate=1", "--simulate-dpia-gate"}),
            dpia);
}

TEST(ScenarioCatalogue, IdsMatchOnlyWhole) {
  for (const std::string_view id :
       {"TC-043-01", "tc-043-1", "tc-043-01 ", " tc-043-01", "tc-043-010", "tc-043-0", "", "tc-043-01\n",
        "tc-sah-001", "TC-SAH-001 ", "TC-NEG-061-01x", "TC-NEG-061-0", "TC-NEG-070-01", "unknown"}) {
    SCOPED_TRACE("[" + std::string(id) + "]");
    EXPECT_EQ(case_line(id), std::string(unknown_case_line) + "\n");
  }
  EXPECT_EQ(case_line(std::string_view("tc-043-01\0", 10)), std::string(unknown_case_line) + "\n");
}

TEST(ScenarioCatalogue, SharedLines) {
  EXPECT_EQ(case_line("tc-043-01"), case_line("tc-050-01"));
  EXPECT_EQ(case_line("tc-046-01"), case_line("tc-049-01"));
  EXPECT_NE(case_line("tc-043-01"), case_line("tc-046-01"));
}

TEST(ScenarioCatalogue, AppendsOneLineToWhatIsThere) {
  std::string out = "before\n";
  qrv::append_case_line(out, "tc-043-01");
  qrv::append_case_line(out, "TC-NEG-064-01");
  qrv::append_case_line(out, "?");
  EXPECT_EQ(out, "before\n"
                 "{\"verdict\": \"allow\"}\n"
                 "{\"auth_age_ms\":7200000,\"gate_status\":\"CLOSED\",\"pass\":false,"
                 "\"provenance_signature\":\"ed25519:authentic_core\",\"provenance_verified\":true,"
                 "\"rejection_reason\":\"stale_authorization\"}\n" +
                     std::string(unknown_case_line) + "\n");
}

}  // namespace
