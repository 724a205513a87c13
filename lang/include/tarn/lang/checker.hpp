// The checker: what can be known about policies without running them.
//
// It parses each policy, follows its imports (every import names its file by a literal string, so
// the checker reads the files a run would read, relative to the working directory), checks every
// file it reaches once, and warns of what a run or the verifier would stumble on: the text
// "corrupt", which makes the verifier refuse a script; an alias used that no alias statement in
// the policy or its imports makes; a position the memory does not have, or one that a run cuts to
// a whole number; an imported file that cannot be read or does not parse; files that import each
// other. Nothing runs, and nothing is written.
//
//   std::vector<tarn::lang::PolicyFile> files{{"p.tarn", text}};
//   tarn::lang::CheckReport report = tarn::lang::check_policies(files);
//   for (const tarn::lang::Diagnostic& d : report.diagnostics) ...
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/instruction.hpp"

namespace tarn::lang {

/// A policy to check: its name (its path, as the run would be given it) and its text.
struct PolicyFile {
  std::string name;
  std::string_view text;
};

struct CheckOptions {
  /// Positions from this one on are warned of: the verifier's memory has four values.
  std::size_t value_count = 4;
  /// True when value_count comes from a memory given by the caller rather than the verifier's.
  bool values_given = false;
  /// How imported files are read.
  ReadSource read = read_imported_file;
};

/// A policy that was checked, and what it was parsed into (none when it does not parse).
struct CheckedPolicy {
  std::string name;
  std::optional<Program> program;
};

struct CheckReport {
  std::vector<CheckedPolicy> policies;  // the files given, in order
  /// Per policy, in order: its parse error or its warnings (by place), then those of the files
  /// it imports that no earlier policy imported.
  std::vector<Diagnostic> diagnostics;

  /// Whether any diagnostic is an error (not only warnings).
  bool has_errors() const;
};

/// Checks the policies. **Example**: a policy "assert_bounds(0, 1, \"x\")\n" gives one warning,
/// code "unknown-alias", at 1:21.
CheckReport check_policies(std::span<const PolicyFile> files, const CheckOptions& options = {});

}  // namespace tarn::lang
