// `tarn test [PATH...]`: run the cases of policy test files (*.test.toml) and report each.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tool_output.hpp"

namespace tarn::tool {

struct TestCommandOptions {
  std::vector<std::string> paths;  // files and folders; none: the working directory
  std::optional<std::string> run;  // --run REGEX: only the cases whose name it matches
  std::optional<std::string> junit;  // --junit FILE: also write JUnit XML there
  std::string coverage;  // --coverage: "" (off), "text" or "json"
};

/// Runs every selected case in process, one line each, then "N passed, M failed". Status 0
/// when nothing failed, 1 otherwise (a test file that cannot be read or parsed is a failure),
/// 2 for a bad --run pattern or --coverage form.
ToolOutput test_command(const TestCommandOptions& options);

}  // namespace tarn::tool
