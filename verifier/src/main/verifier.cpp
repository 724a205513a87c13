// The whole verifier as a pure function from arguments to output text.
//
// The mode decision is a fixed precedence: a case id wins over everything, a scenario flag over
// the state check. Keeping it here, away from main(), lets tests and the fuzzer drive every mode
// in-process.
#include "verifier.hpp"

#include "memory_check.hpp"
#include "options.hpp"
#include "scenario_catalogue.hpp"
#include "scenario_flags.hpp"
#include "tarn/lang/source_file.hpp"

namespace qrv {

std::string run_verifier(std::span<const std::string> arguments) {
  const VerifierOptions options = parse_options(arguments);
  std::string out;
  if (options.simulate_case) {
    append_case_line(out, *options.simulate_case);
    return out;
  }
  if (std::optional<std::string> document = scenario_flag_document(arguments)) {
    out = std::move(*document);
    out += '\n';
    return out;
  }
  run_state_check(options, out);
  return out;
}

std::optional<std::size_t> find_invalid_argument(std::span<const std::string> arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (!tarn::lang::is_valid_utf8(arguments[i])) return i;
  }
  return std::nullopt;
}

}  // namespace qrv
