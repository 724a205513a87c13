// The verifier's verdict report: one verdict as a short text block or one line of compact JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qrv {

struct Permit {};
struct Deny { std::string reason; };
struct Escalate { std::string reason; };
struct Silence {};
struct Hold { std::string reason; };
using GateDecision = std::variant<Permit, Deny, Escalate, Silence, Hold>;

/// Appends the report of one verdict to `out` (the text form, or compact JSON and "\n").
/// **Example** (text): "--- QRV Verifier Output ---\nPass: true\nStatus: OPEN\nResidual: 0\n"
/// "Signature: ed25519:authentic_core\n".
void append_verdict_report(std::string& out, GateDecision decision,
                           std::optional<double> residual_final,
                           std::vector<std::uint64_t> indices_healed,
                           std::optional<double> revealed, bool emit_json);

}  // namespace qrv
