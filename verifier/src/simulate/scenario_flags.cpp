// The twenty scenario flags: each flag text maps to one constant verdict document.
//
// The documents are held as data in two tables: `kSkeletons` (one row per flag, the six verdict
// members) and `kFurtherMembers` (one row per extra member, in the flag's order; the expected
// lines are in tests/golden/scenarios.txt). A reviewer checks them row by row; one builder turns a
// flag's rows into an nlohmann::json, whose sorted keys and our compact writer give the bytes.
// Nothing here reads anything but the argument list, so a flag always prints the same line.

#include "scenario_flags.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tarn/json/writer.hpp"

namespace qrv {
namespace {

// One member value as the tables write it. `kAbsent` leaves the member out of the document, which
// a harness tells apart from null. The constructors are implicit so that a row reads as plain
// values: "text", 2, 0.12, true, kNull, kAbsent.
struct Value {
  enum class Kind : std::uint8_t { Absent, Null, Boolean, Integer, Float, Text, Object, TraceModules };

  Kind kind = Kind::Absent;
  bool boolean = false;
  std::int64_t integer = 0;
  double number = 0.0;
  std::string_view text{};

  constexpr Value() = default;
  constexpr explicit Value(Kind k) : kind(k) {}
  constexpr Value(bool b) : kind(Kind::Boolean), boolean(b) {}
  constexpr Value(int i) : kind(Kind::Integer), integer(i) {}
  constexpr Value(double d) : kind(Kind::Float), number(d) {}
  constexpr Value(const char* s) : kind(Kind::Text), text(s) {}
  constexpr Value(std::string_view s) : kind(Kind::Text), text(s) {}
};

constexpr Value kAbsent{};
constexpr Value kNull{Value::Kind::Null};
// An object whose members follow as rows keyed "object/member".
constexpr Value kObject{Value::Kind::Object};
// The "module_results" array, one object per row of `kTraceModules`.
constexpr Value kTraceModuleResults{Value::Kind::TraceModules};

struct Skeleton {
  std::string_view flag;
  bool pass;
  std::string_view gate_status;
  Value rejection_reason;
  Value residual_final;
  bool has_further_members;
};

// Every row also carries "indices_healed": [] and "revealed": null.
constexpr std::array<Skeleton, 20> kSkeletons{{
    {"--simulate-dpia-gate", false, "CLOSED", "high_risk_processing_lacks_completed_dpia", kNull, false},
    {"--simulate-provenance", true, "OPEN", kNull, 0.0, true},
    {"--simulate-legal-hold", false, "CLOSED", "data_disposition_blocked_by_active_legal_hold", kNull, false},
    {"--simulate-replay-token", false, "CLOSED", "token_replay_attack_detected", kNull, false},
    {"--simulate-double-spend", false, "CLOSED", "token_double_spend_detected", kNull, false},
    {"--simulate-trace-profile", true, "OPEN", kAbsent, kNull, true},
    {"--simulate-latency-ms=100", false, "CLOSED", "fail_closed_latency_timeout_exceeded", kNull, false},
    {"--simulate-rlwe-signature", false, "CLOSED", "invalid_rlwe_enclave_signature", kNull, true},
    {"--simulate-spectral-drift", false, "CLOSED", "phi_lattice_drift_limit_exceeded", kNull, false},
    {"--simulate-drift-exceeded", false, "REFUSE", "structural_drift_exceeds_threshold", kNull, true},
    {"--simulate-multisig-escape", false, "CLOSED", "insufficient_consensus_signatures", kNull, false},
    {"--simulate-weight-mismatch", false, "REFUSE", "model_weight_hash_mismatch", kNull, true},
    {"--simulate-prompt-injection", false, "CLOSED", "adversarial_prompt_injection_detected", kNull, false},
    {"--simulate-codon-delegation", false, "CLOSED", "invalid_codon_delegation_lineage", kNull, true},
    {"--simulate-security-linkage", true, "OPEN", kNull, 0.0, true},
    {"--simulate-heartbeat-failure", false, "CLOSED", "governance_heartbeat_timeout_failure", kNull, false},
    {"--simulate-unregistered-ai-id", false, "REFUSE", "ai_id_not_found_in_registry", kNull, true},
    {"--simulate-non-expansive-repair", true, "OPEN", kNull, 0.0, true},
    {"--simulate-coherence-escalation", true, "ESCALATE", kAbsent, 0.0, true},
    {"--simulate-transitive-revocation", false, "CLOSED", "parent_authority_revoked", kNull, false},
}};

struct FurtherMember {
  std::string_view flag;
  std::string_view key;  // "outer/inner" for a member of a nested object
  Value value;
};

constexpr std::array<std::string_view, 4> kTraceModules{"TR-ENV", "TR-SIG", "TR-RTE", "TR-POL"};

// The digests, signatures and hashes are fixture texts: nothing is computed from them.
constexpr auto kFurtherMembers = std::to_array<FurtherMember>({
    {"--simulate-provenance", "aibom", kObject},
    {"--simulate-provenance", "aibom/builder_uri",
     "https://ci.tarn.example/tarn-engine/tarn-engine/.github/workflows/release.yml"},
    {"--simulate-provenance", "aibom/model_id", "tarn-engine-v1.3.0"},
    {"--simulate-provenance", "aibom/slsa_level", 2},
    {"--simulate-provenance", "aibom/weights_digest",
     "sha256:a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2"},
    {"--simulate-provenance", "key_origin", "tee_sealed"},
    {"--simulate-provenance", "provenance_algorithm", "Ed25519"},
    {"--simulate-provenance", "provenance_signature",
     "ed25519:7d3a8f2c1e4b9d6f0a5c8e2b4d7f1a3e6c9d2f5b8e1c4a7f0d3b6e9c2a5f8d1b"},
    {"--simulate-provenance", "provenance_verified", true},

    {"--simulate-trace-profile", "audit_chain_length", 7},
    {"--simulate-trace-profile", "audit_chain_root",
     "deadbeef01020304050607080910111213141516171819202122232425262728"},
    {"--simulate-trace-profile", "audit_chain_tip",
     "cafef00d01020304050607080910111213141516171819202122232425262728"},
    {"--simulate-trace-profile", "conformance_tool_version", "0.2.0"},
    {"--simulate-trace-profile", "eat_profile", "tag:tarn.example,2026:trace-v0.1"},
    {"--simulate-trace-profile", "key_origin", "software_sealed"},
    {"--simulate-trace-profile", "module_results", kTraceModuleResults},
    {"--simulate-trace-profile", "overall_pass_rate", 1.0},
    {"--simulate-trace-profile", "policy_bundle_hash",
     "sha256:4a8f9c1d2e3f4a5b6c7d8e9f0a1b2c3d4e5f6a7b8c9d0e1f2a3b4c5d6e7f8a9b"},
    {"--simulate-trace-profile", "signature_algorithm", "Ed25519"},
    {"--simulate-trace-profile", "tee_provider", "software"},
    {"--simulate-trace-profile", "trace_level", 1},

    {"--simulate-rlwe-signature", "attestation_freshness_seconds", 86400},
    {"--simulate-rlwe-signature", "enclave_boot_hash",
     "sha256:deadbeef00000000000000000000000000000000000000000000000000000000"},
    {"--simulate-rlwe-signature", "key_origin", "software_sealed"},
    {"--simulate-rlwe-signature", "measurement", kObject},
    {"--simulate-rlwe-signature", "measurement/pcr0",
     "0000000000000000000000000000000000000000000000000000000000000000"},
    {"--simulate-rlwe-signature", "measurement/pcr1",
     "3d458cfe55cc03ea1f443f1562beec8df51c75e14a9fcf9a7234a13f198e7969"},
    {"--simulate-rlwe-signature", "measurement/pcr2",
     "0000000000000000000000000000000000000000000000000000000000000000"},
    {"--simulate-rlwe-signature", "signature_algorithm", "Ed25519"},
    {"--simulate-rlwe-signature", "tee_provider", "software"},

    {"--simulate-drift-exceeded", "drift_score", 0.12},

    {"--simulate-weight-mismatch", "manifest_binding", "agent-manifest-v0.1"},
    {"--simulate-weight-mismatch", "manifest_signature_valid", true},
    {"--simulate-weight-mismatch", "model_id", "tarn-engine-v1.3.0"},
    {"--simulate-weight-mismatch", "observed_digest",
     "sha256:ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"},
    {"--simulate-weight-mismatch", "registered_digest",
     "sha256:a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2"},
    {"--simulate-weight-mismatch", "weight_hash_verified", false},

    {"--simulate-codon-delegation", "chain_leaf_id", "spiffe://tarn.example/sub-agent-7f3a"},
    {"--simulate-codon-delegation", "chain_root_id", "spiffe://tarn.example/orchestrator"},
    {"--simulate-codon-delegation", "delegation_chain_depth", 3},
    {"--simulate-codon-delegation", "delegation_chain_valid", false},
    {"--simulate-codon-delegation", "manifest_artifact_8_present", true},
    {"--simulate-codon-delegation", "scope_monotonic", false},
    {"--simulate-codon-delegation", "scope_violation", "sub_agent_scope_exceeds_orchestrator"},

    {"--simulate-security-linkage", "encryption_enforced", "AES-256"},

    {"--simulate-unregistered-ai-id", "registry_lookup_result", "NOT_FOUND"},

    {"--simulate-non-expansive-repair", "is_contraction", true},

    {"--simulate-coherence-escalation", "next_step", "HumanApprovalRequired"},
});

// Guards the tables against drift: every flag is 20..32 bytes and unique, and a flag has further
// members exactly when its skeleton says so (so a mistyped flag in `kFurtherMembers` cannot hide).
consteval bool tables_agree() {
  for (std::size_t i = 0; i < kSkeletons.size(); ++i) {
    const auto& row = kSkeletons[i];
    if (row.flag.size() < 20 || row.flag.size() > 32) return false;
    for (std::size_t j = 0; j < i; ++j) {
      if (kSkeletons[j].flag == row.flag) return false;
    }
    bool listed = false;
    for (const auto& member : kFurtherMembers) listed = listed || member.flag == row.flag;
    if (listed != row.has_further_members) return false;
  }
  for (const auto& member : kFurtherMembers) {
    bool known = false;
    for (const auto& row : kSkeletons) known = known || row.flag == member.flag;
    if (!known) return false;
  }
  return true;
}
static_assert(tables_agree());

nlohmann::json to_json(const Value& value) {
  switch (value.kind) {
    case Value::Kind::Absent:
    case Value::Kind::Null:
      break;
    case Value::Kind::Boolean:
      return value.boolean;
    case Value::Kind::Integer:
      return value.integer;
    case Value::Kind::Float:
      return value.number;
    case Value::Kind::Text:
      return std::string(value.text);
    case Value::Kind::Object:
      return nlohmann::json::object();
    case Value::Kind::TraceModules: {
      auto modules = nlohmann::json::array();
      for (const auto id : kTraceModules) {
        modules.push_back(
            {{"error_code", nullptr}, {"mandatory", true}, {"module_id", std::string(id)}, {"passed", true}});
      }
      return modules;
    }
  }
  return nullptr;
}

// Sets `key` ("name" or "outer/inner") unless the value is absent.
void put(nlohmann::json& document, std::string_view key, const Value& value) {
  if (value.kind == Value::Kind::Absent) return;
  nlohmann::json* target = &document;
  for (auto slash = key.find('/'); slash != std::string_view::npos; slash = key.find('/')) {
    target = &(*target)[std::string(key.substr(0, slash))];
    key.remove_prefix(slash + 1);
  }
  (*target)[std::string(key)] = to_json(value);
}

nlohmann::json build_document(const Skeleton& row) {
  nlohmann::json document = nlohmann::json::object();
  put(document, "pass", row.pass);
  put(document, "gate_status", row.gate_status);
  put(document, "rejection_reason", row.rejection_reason);
  put(document, "residual_final", row.residual_final);
  document["indices_healed"] = nlohmann::json::array();
  put(document, "revealed", kNull);
  for (const auto& member : kFurtherMembers) {
    if (member.flag == row.flag) put(document, member.key, member.value);
  }
  return document;
}

const Skeleton* find_flag(std::string_view argument) {
  // No flag is shorter than 20 or longer than 32 bytes; most arguments are skipped here.
  if (argument.size() < 20 || argument.size() > 32) return nullptr;
  const auto* row = std::find_if(kSkeletons.begin(), kSkeletons.end(),
                                 [&](const Skeleton& s) { return s.flag == argument; });
  return row == kSkeletons.end() ? nullptr : row;
}

}  // namespace

std::optional<std::string> scenario_flag_document(std::span<const std::string> arguments) {
  for (const auto& argument : arguments) {
    if (const auto* row = find_flag(argument)) return tarn::json::to_compact(build_document(*row));
  }
  return std::nullopt;
}

}  // namespace qrv
