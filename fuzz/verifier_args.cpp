// Fuzz target: the verifier's whole argument handling, in process.
//
// The input is split at NUL bytes into arguments. Argument lists that name a script path with a
// path separator or ".." are skipped (a script run may import files or write a report), and the
// target runs in a scratch directory.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "oracle.hpp"
#include "tarn/lang/source_file.hpp"
#include "verifier.hpp"

namespace {

void enter_scratch_directory() {
  static const bool entered = [] {
    char pattern[] = "/tmp/qrv-fuzz-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    return dir != nullptr && ::chdir(dir) == 0;
  }();
  if (!entered) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarn::fuzz::require;
  enter_scratch_directory();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (start <= input.size()) {
    const std::size_t end = std::min(input.find('\0', start), input.size());
    arguments.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  for (const auto& argument : arguments) {
    if (!tarn::lang::is_valid_utf8(argument)) return 0;  // main() stops those with status 101
    if (argument.starts_with("--script=") &&
        (argument.find('/') != std::string::npos || argument.find("..") != std::string::npos)) {
      return 0;
    }
  }
  const std::string output = qrv::run_verifier(arguments);
  require(!output.empty() && output.back() == '\n', "the verifier printed no complete output");
  return 0;
}
