// The argument scan: one pass, left to right, each argument offered to a fixed table of option
// prefixes in order; the first prefix that matches decides the argument's fate.
//
// Nothing here reports an error. A harness passes whatever it likes and reads the verdict, so a
// malformed value simply leaves its option as it was, and an unknown argument is left for the
// scenario flags to look at.
#include "options.hpp"

#include <array>
#include <limits>

#include "tarn/lang/number_syntax.hpp"

namespace qrv {
namespace {

/// One recognised option: its prefix (the "=" included) and what the rest of the argument does.
struct OptionRule {
  std::string_view prefix;
  void (*apply)(VerifierOptions& options, std::string_view value);
};

// Tested in this order; the first prefix that matches takes the argument.
constexpr std::array<OptionRule, 5> kOptionRules{{
    {"--payload=",
     [](VerifierOptions& options, std::string_view value) {
       if (const auto payload = tarn::lang::parse_command_line_number(value)) {
         options.payload = *payload;
       }
     }},
    {"--script=",
     [](VerifierOptions& options, std::string_view value) { options.script_path = std::string(value); }},
    // Only the exact "--emit=json" switches JSON on; nothing switches it off again.
    {"--emit=",
     [](VerifierOptions& options, std::string_view value) {
       if (value == "json") options.emit_json = true;
     }},
    {"--simulate-case=",
     [](VerifierOptions& options, std::string_view value) { options.simulate_case = std::string(value); }},
    {"--corrupt-index=",
     [](VerifierOptions& options, std::string_view value) {
       if (const auto index = parse_index(value)) options.corrupt_index = *index;
     }},
}};

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Sixteen decimal digits stay below 10^16 < 2^64, so the accumulation needs no checks until the
// seventeenth digit.
constexpr std::size_t kDigitsWithoutOverflow = 16;

}  // namespace

VerifierOptions parse_options(std::span<const std::string> arguments) {
  VerifierOptions options;
  for (const std::string& argument : arguments) {
    const std::string_view text(argument);
    for (const OptionRule& rule : kOptionRules) {
      if (text.starts_with(rule.prefix)) {
        rule.apply(options, text.substr(rule.prefix.size()));
        break;
      }
    }
  }
  return options;
}

// index -> "+"? digit+        (a leading "-" is just an invalid digit)
std::optional<std::uint64_t> parse_index(std::string_view text) {
  if (text.empty() || text == "+" || text == "-") return std::nullopt;
  if (text.front() == '+') text.remove_prefix(1);

  std::uint64_t value = 0;
  std::size_t count = 0;
  for (const char c : text) {
    if (!is_digit(c)) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    ++count;
    if (count <= kDigitsWithoutOverflow) {
      value = value * 10 + digit;
      continue;
    }
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    if (value > kMax / 10 || value * 10 > kMax - digit) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace qrv
