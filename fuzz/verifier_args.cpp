// Fuzz target: the verifier's whole argument handling, in process.
//
// The input is split at NUL bytes into arguments (the program name not included, as main()
// passes them). Argument lists that main() would stop (invalid UTF-8) are skipped, and so are
// those whose --script= path leaves the scratch directory; inside it, the fixture scripts give
// the script verdicts something to run (healing, imports, lineage, refusal, read and parse
// failures), and none of them writes a file.
//
// Oracle: every argument list yields one complete output: non-empty, ending in a line feed, and
// either one JSON line or a text report (a case id may also print its fixed line).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "oracle.hpp"
#include "scratch.hpp"
#include "tarn/lang/source_file.hpp"
#include "verifier.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarn::fuzz::require;
  tarn::fuzz::enter_scratch_directory();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (start <= input.size()) {
    const std::size_t end = std::min(input.find('\0', start), input.size());
    arguments.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  constexpr std::string_view kScript = "--script=";
  for (const auto& argument : arguments) {
    if (!tarn::lang::is_valid_utf8(argument)) return 0;  // main() stops those with status 101
    if (argument.starts_with(kScript) &&
        !tarn::fuzz::stays_inside(std::string_view(argument).substr(kScript.size()))) {
      return 0;
    }
  }
  const std::string output = qrv::run_verifier(arguments);
  require(!output.empty() && output.back() == '\n', "the verifier printed no complete output");
  const std::size_t lines = static_cast<std::size_t>(std::count(output.begin(), output.end(), '\n'));
  require(lines == 1 || output.starts_with("--- QRV Verifier Output ---\n"),
          "neither one line nor a text report");
  return 0;
}
