// The verifier report byte for byte, in both forms, for every kind of decision and residual.
#include "verdict_report.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace qrv {
namespace {

std::string report(GateDecision decision, std::optional<double> residual,
                   std::vector<std::uint64_t> healed, std::optional<double> revealed, bool json) {
  std::string out;
  append_verdict_report(out, std::move(decision), residual, std::move(healed), revealed, json);
  return out;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Case {
  const char* name;
  GateDecision decision;
  std::optional<double> residual;
  std::vector<std::uint64_t> healed;
  std::optional<double> revealed;
  const char* text;
  const char* json;
};

TEST(VerdictReport, TextAndJsonForms) {
  const Case cases[] = {
      {"default run", Permit{}, 0.0, {}, 1337.0000000000018,
       "--- QRV Verifier Output ---\nPass: true\nStatus: OPEN\nResidual: 0\n"
       "Signature: ed25519:authentic_core\n",
       R"({"gate_decision":"PERMIT","pass":true,"gate_status":"OPEN","residual_final":0.0,)"
       R"("rejection_reason":null,"indices_healed":[],"revealed":1337.0000000000018,)"
       R"("provenance_signature":"ed25519:authentic_core","provenance_verified":true})"
       "\n"},
      {"refused payload", Deny{"negative_budget_residual"}, std::nullopt, {}, std::nullopt,
       "--- QRV Verifier Output ---\nPass: false\nStatus: CLOSED\n"
       "Reason: negative_budget_residual\nSignature: ed25519:authentic_core\n",
       R"({"gate_decision":{"DENY":"negative_budget_residual"},"pass":false,)"
       R"("gate_status":"CLOSED","residual_final":null,"rejection_reason":"negative_budget_residual",)"
       R"("indices_healed":[],"revealed":null,"provenance_signature":"ed25519:authentic_core",)"
       R"("provenance_verified":true})"
       "\n"},
      {"silence", Silence{}, std::nullopt, {}, std::nullopt,
       "--- QRV Verifier Output ---\nPass: false\nStatus: SILENCE\n"
       "Reason: system_unreachable\nSignature: ed25519:authentic_core\n",
       R"({"gate_decision":"SILENCE","pass":false,"gate_status":"SILENCE","residual_final":null,)"
       R"("rejection_reason":"system_unreachable","indices_healed":[],"revealed":null,)"
       R"("provenance_signature":"ed25519:authentic_core","provenance_verified":true})"
       "\n"},
      {"refused script", Deny{"instruction_hierarchy_violation"}, -21.383029, {}, std::nullopt,
       "--- QRV Verifier Output ---\nPass: false\nStatus: CLOSED\n"
       "Reason: instruction_hierarchy_violation\nResidual: -21.383029\n"
       "Signature: ed25519:authentic_core\n",
       R"({"gate_decision":{"DENY":"instruction_hierarchy_violation"},"pass":false,)"
       R"("gate_status":"CLOSED","residual_final":-21.383029,)"
       R"("rejection_reason":"instruction_hierarchy_violation","indices_healed":[],)"
       R"("revealed":null,"provenance_signature":"ed25519:authentic_core","provenance_verified":true})"
       "\n"},
      // Healed indices keep their order and duplicates; revealed never shows in text.
      {"drifted run", Deny{"mathematical_drift_detected"}, -125.87469806587123, {3, 1, 3}, 2.5,
       "--- QRV Verifier Output ---\nPass: false\nStatus: CLOSED\n"
       "Reason: mathematical_drift_detected\nResidual: -125.87469806587123\n"
       "Signature: ed25519:authentic_core\n",
       R"({"gate_decision":{"DENY":"mathematical_drift_detected"},"pass":false,)"
       R"("gate_status":"CLOSED","residual_final":-125.87469806587123,)"
       R"("rejection_reason":"mathematical_drift_detected","indices_healed":[3,1,3],)"
       R"("revealed":2.5,"provenance_signature":"ed25519:authentic_core","provenance_verified":true})"
       "\n"},
      {"not-a-number residual", Permit{}, kNaN, {18446744073709551615u}, kInf,
       "--- QRV Verifier Output ---\nPass: true\nStatus: OPEN\nResidual: NaN\n"
       "Signature: ed25519:authentic_core\n",
       R"({"gate_decision":"PERMIT","pass":true,"gate_status":"OPEN","residual_final":null,)"
       R"("rejection_reason":null,"indices_healed":[18446744073709551615],"revealed":null,)"
       R"("provenance_signature":"ed25519:authentic_core","provenance_verified":true})"
       "\n"},
      {"escalate, negative infinity", Escalate{"needs \"review\"\n"}, -kInf, {}, std::nullopt,
       "--- QRV Verifier Output ---\nPass: false\nStatus: ESCALATE\n"
       "Reason: needs \"review\"\n\nResidual: -inf\nSignature: ed25519:authentic_core\n",
       R"({"gate_decision":{"ESCALATE":"needs \"review\"\n"},"pass":false,)"
       R"("gate_status":"ESCALATE","residual_final":null,"rejection_reason":"needs \"review\"\n",)"
       R"("indices_healed":[],"revealed":null,"provenance_signature":"ed25519:authentic_core",)"
       R"("provenance_verified":true})"
       "\n"},
      {"hold, small and negative-zero residuals", Hold{"legal_hold"}, -0.0, {0}, 0.0000001,
       "--- QRV Verifier Output ---\nPass: false\nStatus: HOLD\nReason: legal_hold\n"
       "Residual: -0\nSignature: ed25519:authentic_core\n",
       R"({"gate_decision":{"HOLD":"legal_hold"},"pass":false,"gate_status":"HOLD",)"
       R"("residual_final":-0.0,"rejection_reason":"legal_hold","indices_healed":[0],)"
       R"("revealed":1e-7,"provenance_signature":"ed25519:authentic_core","provenance_verified":true})"
       "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(report(c.decision, c.residual, c.healed, c.revealed, false), c.text);
    EXPECT_EQ(report(c.decision, c.residual, c.healed, c.revealed, true), c.json);
  }
}

}  // namespace
}  // namespace qrv
