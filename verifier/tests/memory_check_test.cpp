// The state-memory check through run_verifier, in-process: the payload guards, the corruption of
// one position and the driver's own equilibrium test, each compared byte for byte.
#include "verifier.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qrv {
namespace {

std::string run(std::vector<std::string> arguments) { return run_verifier(arguments); }

std::string text_report(const std::string& pass, const std::string& status,
                        const std::string& reason, const std::string& residual) {
  std::string out = "--- QRV Verifier Output ---\nPass: " + pass + "\nStatus: " + status + "\n";
  if (!reason.empty()) out += "Reason: " + reason + "\n";
  if (!residual.empty()) out += "Residual: " + residual + "\n";
  return out + "Signature: ed25519:authentic_core\n";
}

std::string permit_text(const std::string& residual) { return text_report("true", "OPEN", "", residual); }
std::string deny_text(const std::string& reason) { return text_report("false", "CLOSED", reason, ""); }

std::string permit_json(const std::string& residual, const std::string& revealed) {
  return R"({"gate_decision":"PERMIT","pass":true,"gate_status":"OPEN","residual_final":)" + residual +
         R"(,"rejection_reason":null,"indices_healed":[],"revealed":)" + revealed +
         R"(,"provenance_signature":"ed25519:authentic_core","provenance_verified":true})" "\n";
}

std::string deny_json(const std::string& reason) {
  return R"({"gate_decision":{"DENY":")" + reason +
         R"("},"pass":false,"gate_status":"CLOSED","residual_final":null,"rejection_reason":")" +
         reason +
         R"(","indices_healed":[],"revealed":null,"provenance_signature":"ed25519:authentic_core","provenance_verified":true})"
         "\n";
}

struct Case {
  std::vector<std::string> arguments;
  std::string expected;
};

void run_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::string trace;
    for (const auto& a : c.arguments) trace += "[" + a + "]";
    SCOPED_TRACE(trace.empty() ? "no arguments" : trace);
    EXPECT_EQ(run(c.arguments), c.expected);
  }
}

TEST(StateCheck, DefaultRun) {
  EXPECT_EQ(run({}), permit_text("0"));
  EXPECT_EQ(run({"--emit=json"}), permit_json("0.0", "1337.0000000000018"));
  EXPECT_EQ(run({"--payload=1337"}), run({}));
}

TEST(StateCheck, PayloadGuards) {
  run_cases({
      {{"--payload=0", "--emit=json"}, permit_json("0.0", "0.0")},
      {{"--payload=-0", "--emit=json"}, permit_json("0.0", "0.0")},  // -0 is not negative
      {{"--payload=-0.5"}, deny_text("negative_budget_residual")},
      {{"--payload=-5", "--emit=json"}, deny_json("negative_budget_residual")},
      {{"--payload=-inf"}, deny_text("negative_budget_residual")},
      {{"--payload=999999"}, deny_text("refusal_override_failed")},
      {{"--payload=999999.0000000001", "--emit=json"}, deny_json("refusal_override_failed")},
      {{"--payload=inf"}, deny_text("refusal_override_failed")},
      {{"--payload=1e400"}, deny_text("refusal_override_failed")},
      {{"--payload=999998.99", "--emit=json"}, permit_json("0.0", "999998.9900000002")},
      {{"--payload=1e3", "--emit=json"}, permit_json("0.0", "1000.0000000000009")},
      // NaN slips past both guards and then fails the equilibrium test.
      {{"--payload=nan"}, deny_text("equilibrium_lost")},
      {{"--payload=-nan", "--emit=json"}, deny_json("equilibrium_lost")},
  });
}

TEST(StateCheck, ResidualWithinToleranceIsPrintedAsIs) {
  // Rounding leaves a tiny residual that the tolerance of 0.0001 accepts.
  run_cases({
      {{"--payload=123456.789"}, permit_text("-0.00000000000002842170943040401")},
      {{"--payload=123456.789", "--emit=json"},
       permit_json("-2.842170943040401e-14", "123456.78899999999")},
  });
}

TEST(StateCheck, Corruption) {
  run_cases({
      {{"--corrupt-index=0"}, deny_text("equilibrium_lost")},
      {{"--corrupt-index=1"}, deny_text("equilibrium_lost")},
      {{"--corrupt-index=2", "--emit=json"}, deny_json("equilibrium_lost")},
      {{"--corrupt-index=+3"}, deny_text("equilibrium_lost")},
      // Positions beyond the memory are ignored entirely.
      {{"--corrupt-index=4"}, permit_text("0")},
      {{"--corrupt-index=18446744073709551615", "--emit=json"},
       permit_json("0.0", "1337.0000000000018")},
      // A malformed index leaves the earlier one in force.
      {{"--corrupt-index=0", "--corrupt-index=-1"}, deny_text("equilibrium_lost")},
      // s is exactly 100 here, so position 3 already holds 0.0 and corrupting it changes nothing.
      {{"--payload=19998", "--corrupt-index=3"}, permit_text("0")},
      {{"--payload=19998", "--corrupt-index=3", "--emit=json"}, permit_json("0.0", "19998.0")},
  });
}

TEST(StateCheck, RefusedPayloadNeverReachesTheScript) {
  // An unreadable script would give SILENCE; the guard decides first.
  run_cases({
      {{"--payload=-1", "--script=/nonexistent/policy.tarn"}, deny_text("negative_budget_residual")},
      {{"--payload=inf", "--script=", "--emit=json"}, deny_json("refusal_override_failed")},
  });
}

}  // namespace
}  // namespace qrv
