// The verifier's command line: one left-to-right scan into VerifierOptions.
//
// Malformed values and unknown arguments are ignored without a word: a conformance harness reads
// the verdict, never a usage text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarn::lang {
class FileAccess;
}  // namespace tarn::lang

namespace qrv {

struct VerifierOptions {
  double payload = 1337.0;
  std::optional<std::string> script_path;
  bool emit_json = false;
  std::optional<std::string> simulate_case;
  std::optional<std::uint64_t> corrupt_index;
  /// The script itself, for a host that holds it as text; no argument sets it. When set, it is
  /// judged in place of the file that script_path names.
  std::optional<std::string> script_text;
  /// Where the imports of script_text are read, for such a host (null: the working directory).
  const tarn::lang::FileAccess* files = nullptr;
};

/// Scans the arguments (program name already removed).
/// **Example**: {"--payload=1e3", "--emit=json", "--emit=text"} -> payload 1000, emit_json true.
VerifierOptions parse_options(std::span<const std::string> arguments);

/// The "--corrupt-index=" value: optional "+", ASCII digits only, at most 2^64 - 1.
/// **Example**: "+2" -> 2, "00000000000000000003" -> 3, "-1" -> nullopt, "18446744073709551616" -> nullopt.
std::optional<std::uint64_t> parse_index(std::string_view text);

}  // namespace qrv
