// `tarn fmt FILE...`: print, check or rewrite policies in the one standard layout.
#pragma once

#include <string>
#include <vector>

#include "tool_output.hpp"

namespace tarn::tool {

struct FmtCommandOptions {
  std::vector<std::string> files;  // "-" is standard input
  bool write = false;              // -w: rewrite the files that are not formatted
  bool check = false;              // --check: name them, and fail
  bool diff = false;               // --diff: show what formatting would change
};

/// Formats each file in turn. Prints the formatted texts (no option), the names of the files
/// that are not formatted (--check), or unified diffs (--diff); -w rewrites. Status 1 when a
/// file cannot be read, parsed or rewritten, or with --check when one is not formatted; 2 for
/// -w on standard input or together with --check or --diff.
ToolOutput fmt_command(const FmtCommandOptions& options);

}  // namespace tarn::tool
