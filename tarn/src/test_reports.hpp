// What `tarn test` reports besides its case lines: JUnit XML for CI systems, and the statements
// of each policy that no case started.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tarn/lang/instruction.hpp"

namespace tarn::tool {

struct CaseResult {
  std::string name;
  double seconds = 0.0;
  std::vector<std::string> differences;  // none: the case passed
};

struct FileResult {
  std::string path;                   // of the test file, as found
  std::optional<std::string> error;   // the file could not be read or parsed (a located message)
  std::vector<CaseResult> cases;
};

/// The statements of one policy file and which of them some case started.
struct PolicyCoverage {
  std::string file;  // as the cases name it, from the working directory
  std::string text;
  std::vector<lang::SourceSpan> statements;  // every statement, blocks' bodies too, in text order
  std::vector<bool> started;                 // one per statement
};

/// One <testsuite> per test file and one <testcase> per case (a file that could not be read or
/// parsed is a failed case of its own).
std::string junit_xml(const std::vector<FileResult>& files);

/// Per policy, "coverage: FILE: S of N statements started (P%)" and then "  FILE:LINE:COLUMN:
/// STATEMENT" for each statement no case started (its first line).
std::string coverage_text(const std::vector<const PolicyCoverage*>& policies);

/// The same as a JSON document: {"files": [{"file", "not_started": [{"column", "line",
/// "statement"}], "share", "started", "statements"}]}, with a final line feed.
std::string coverage_json(const std::vector<const PolicyCoverage*>& policies);

}  // namespace tarn::tool
