// The whole verifier as a function: the order in which the run modes are chosen, and the check
// that refuses arguments that are not UTF-8.
#include "verifier.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace qrv {
namespace {

std::string run(std::vector<std::string> arguments) { return run_verifier(arguments); }

constexpr std::string_view kDefaultReport =
    "--- QRV Verifier Output ---\nPass: true\nStatus: OPEN\nResidual: 0\n"
    "Signature: ed25519:authentic_core\n";

TEST(ModeDecision, CaseIdComesFirstThenFlags) {
  const std::string case_only = run({"--simulate-case=X"});
  EXPECT_EQ(run({"--simulate-legal-hold", "--simulate-case=X", "--payload=-1"}), case_only);
  EXPECT_EQ(run({"--simulate-case="}), run({"--simulate-case=", "--emit=json"}));

  const std::string flag = run({"--simulate-legal-hold"});
  EXPECT_EQ(flag.rfind('{', 0), 0u) << flag;
  EXPECT_EQ(flag.back(), '\n');
  EXPECT_EQ(flag.find('\n'), flag.size() - 1);
  EXPECT_EQ(run({"--payload=-1", "--emit=json", "--simulate-legal-hold", "--script=x"}), flag);

  // Near misses of a flag fall through to the state check.
  EXPECT_EQ(run({"--simulate-legal-hold=1"}), kDefaultReport);
  EXPECT_EQ(run({"--simulate-LEGAL-hold"}), kDefaultReport);
}

TEST(FindInvalidArgument, NamesTheFirstBadArgument) {
  const std::vector<std::string> good{"--payload=1", "", "caf\xc3\xa9", "\xf0\x9f\x98\x80"};
  EXPECT_EQ(find_invalid_argument(good), std::nullopt);
  const std::vector<std::string> bad{"ok", "\xff", "\xc3"};
  EXPECT_EQ(find_invalid_argument(bad), std::optional<std::size_t>(1));
}

}  // namespace
}  // namespace qrv
