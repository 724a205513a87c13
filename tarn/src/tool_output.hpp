// What one `tarn` subcommand produced. Subcommands return this instead of printing, so that
// main() alone writes to the streams and picks the exit status, and tests can run them in-process.
#pragma once

#include <string>

namespace tarn::tool {

struct ToolOutput {
  std::string out;   // standard output
  std::string err;   // standard error
  int status = 0;    // 0 success, 1 read/parse/run failure, 2 bad usage
};

}  // namespace tarn::tool
