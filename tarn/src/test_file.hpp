// A policy test file (*.test.toml): the cases it holds, checked key by key when it is read.
//
//   script = "heal.tarn"            # the policy under test, relative to the test file's folder
//   [[case]]
//   name = "heals a damaged inflow"
//   corrupt_index = 1
//   expect.decision = "ALLOW"
//
// Every key is known or the file is refused with the key's place: a misspelt expectation must
// not pass unnoticed.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "tarn/lang/limits.hpp"
#include "tarn/lang/result.hpp"

namespace tarn::tool {

/// One case: the memory and run it asks for, and what it expects of them.
struct TestCase {
  std::string name;
  std::string script;  // as written, relative to the test file's folder
  std::uint32_t line = 0;  // where the case's table begins
  std::uint32_t column = 0;

  // The memory: encode(payload), then corrupt_index damaged; or the vectors given.
  double payload = 1337.0;
  std::optional<std::uint64_t> corrupt_index;
  std::optional<std::vector<std::int8_t>> signs;
  std::optional<std::vector<double>> values;
  nlohmann::json context;                   // an inline table, or null
  std::optional<std::string> context_file;  // a JSON file, relative to the test file's folder
  std::uint64_t fuel = lang::kDefaultFuel;

  // What the run must give.
  nlohmann::json expect = nlohmann::json::object();  // members of the run result document
  std::optional<double> residual_tolerance;
  std::vector<std::string> executed_contains;
  std::optional<std::string> error;  // the run must fail with exactly this message
  std::optional<std::string> verifier_status;
  std::optional<std::string> verifier_reason;

  /// Whether the case checks the run itself, and not only the verifier's verdict.
  bool checks_run() const {
    return !expect.empty() || error || !executed_contains.empty() ||
           (!verifier_status && !verifier_reason);
  }
  bool checks_verifier() const { return verifier_status || verifier_reason; }
};

struct TestFileError {
  std::uint32_t line = 1;
  std::uint32_t column = 1;
  std::string message;
};

/// Reads the text of a test file. `result_members` are the members of the run result document
/// that `expect` may name. The error is the first problem found, at its place in the text.
Result<std::vector<TestCase>, TestFileError> parse_test_file(
    std::string_view text, const std::set<std::string, std::less<>>& result_members);

}  // namespace tarn::tool
