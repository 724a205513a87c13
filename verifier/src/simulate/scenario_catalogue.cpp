// The forty-one-case catalogue: one line per case id.
//
// Two kinds of output, held apart because harnesses compare them byte for byte in two different
// forms. The lower-case ids print stored texts (spaces after ':' and ',', members in the order
// written), so they stay raw string literals that are never parsed. The upper-case "TC-" ids print
// built documents: each family of ids is a table with one column per member its documents may
// hold, every row turns into a list of members, and one builder makes the nlohmann::json whose
// sorted keys and our compact writer give the bytes (tests/golden/scenarios.txt holds every line).
// Any other id, the empty one included, prints the unknown line.

#include "scenario_catalogue.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include <nlohmann/json.hpp>

#include "provenance.hpp"
#include "tarn/json/writer.hpp"

namespace qrv {
namespace {

struct FixedLine {
  std::string_view id;
  std::string_view line;
};

// Printed exactly as they stand: these are the bytes harnesses compare, not documents.
constexpr std::array<FixedLine, 14> kFixedLines{{
    {"tc-043-01", R"({"verdict": "allow"})"},
    {"tc-043-02", R"({"verdict": "hard_deny", "error_code": "PRECONDITION_FAILED"})"},
    {"tc-044-01", R"({"verdict": "hard_deny", "action": "process_kill"})"},
    {"tc-045-01", R"({"verdict": "allow", "session_state": "resumed"})"},
    {"tc-046-01", R"({"verdict": "allow", "integrity": "verified"})"},
    {"tc-047-01", R"({"verdict": "hard_deny", "action": "page_fault_panic"})"},
    {"tc-048-01", R"({"verdict": "allow", "reconstruction": "successful"})"},
    {"tc-049-01", R"({"verdict": "allow", "integrity": "verified"})"},
    {"tc-050-01", R"({"verdict": "allow"})"},
    {"tc-051-01", R"({"verdict": "allow", "mapped_articles": ["Art. 15"]})"},
    {"tc-052-01", R"({"verdict": "allow", "route_status": "forwarded"})"},
    {"tc-053-01", R"({"verdict": "allow", "recovery_status": "keys_rotated_and_healed"})"},
    {"tc-054-01", R"({"verdict": "hard_deny", "error": "RE_ATTESTATION_REQUIRED"})"},
    {"tc-055-01", R"({"verdict": "hard_deny", "action": "halt_inference"})"},
}};

constexpr std::string_view kUnknownCaseLine =
    R"({"pass": false, "gate_status": "CLOSED", "rejection_reason": "unknown_simulate_case"})";

// One cell of a family table. `kAbsent` leaves the member out, which a harness tells apart from
// null. The constructors are implicit so that a row reads as a plain list of values.
struct Cell {
  enum class Kind : std::uint8_t { Absent, Null, Boolean, Integer, Text };

  Kind kind = Kind::Absent;
  bool boolean = false;
  std::int64_t integer = 0;
  std::string_view text{};

  constexpr Cell() = default;
  constexpr explicit Cell(Kind k) : kind(k) {}
  constexpr Cell(bool b) : kind(Kind::Boolean), boolean(b) {}
  constexpr Cell(int i) : kind(Kind::Integer), integer(i) {}
  constexpr Cell(const char* s) : kind(Kind::Text), text(s) {}
  constexpr Cell(std::string_view s) : kind(Kind::Text), text(s) {}
};

constexpr Cell kAbsent{};
constexpr Cell kNull{Cell::Kind::Null};

struct Member {
  std::string_view key;
  Cell value;
};

// The "TC-SAH-" cases, one column per member their documents may hold.
struct SahCase {
  std::string_view id;
  bool pass;
  std::string_view gate_status;
  Cell committed;
  Cell interpretations_maintained;
  Cell collapse_reason;
  Cell premature_collapse_detected;
  Cell rejection_reason;
};

constexpr std::array<SahCase, 4> kSahCases{{
    {"TC-SAH-001", false, "HOLD", false, 2, kNull, kAbsent, kAbsent},
    {"TC-SAH-002", false, "HOLD", false, 3, kNull, kAbsent, kAbsent},
    {"TC-SAH-003", true, "OPEN", true, 1, "eliminating_constraint_satisfied", kAbsent, kAbsent},
    {"TC-SAH-004", false, "CLOSED", false, 2, kAbsent, true, "premature_epistemic_collapse_detected"},
}};

constexpr auto members(const SahCase& c) {
  return std::to_array<Member>({
      {"pass", c.pass},
      {"gate_status", c.gate_status},
      {"committed", c.committed},
      {"interpretations_maintained", c.interpretations_maintained},
      {"collapse_reason", c.collapse_reason},
      {"premature_collapse_detected", c.premature_collapse_detected},
      {"rejection_reason", c.rejection_reason},
  });
}

// The "TC-LCB-" cases, one column per member that varies; every row is a blocked, preserved state.
struct LcbCase {
  std::string_view id;
  Cell continuation_path;
  Cell rejection_reason;
  Cell retry_permitted_after_refresh;
  Cell continuation_path_absent_detected;
  Cell governance_violation;
};

constexpr std::array<LcbCase, 5> kLcbCases{{
    {"TC-LCB-001", "request_clarification", "insufficient_evidence", kAbsent, kAbsent, kAbsent},
    {"TC-LCB-002", "request_reattestation", "missing_authority", kAbsent, kAbsent, kAbsent},
    {"TC-LCB-003", "escalate_to_human", "high_consequence_no_basis", kAbsent, kAbsent, kAbsent},
    {"TC-LCB-004", "request_freshness_restoration", "stale_information", true, kAbsent, kAbsent},
    {"TC-LCB-005", "request_clarification", "insufficient_evidence", kAbsent, true, true},
}};

constexpr auto members(const LcbCase& c) {
  return std::to_array<Member>({
      {"pass", false},
      {"gate_status", "CLOSED"},
      {"blocked_state_preserved", true},
      {"continuation_path", c.continuation_path},
      {"rejection_reason", c.rejection_reason},
      {"retry_permitted_after_refresh", c.retry_permitted_after_refresh},
      {"continuation_path_absent_detected", c.continuation_path_absent_detected},
      {"governance_violation", c.governance_violation},
  });
}

// The "TC-CUO-" cases, one column per member that varies; every output was correct.
struct CuoCase {
  std::string_view id;
  bool pass;
  std::string_view gate_status;
  Cell blocked_despite_correctness;
  Cell rejection_reason;
  Cell policy_override_detected;
};

constexpr std::array<CuoCase, 4> kCuoCases{{
    {"TC-CUO-001", false, "CLOSED", true, "role_insufficient_for_commitment", kAbsent},
    {"TC-CUO-002", false, "CLOSED", true, "domain_scope_exceeded", kAbsent},
    {"TC-CUO-003", true, "OPEN", false, kAbsent, kAbsent},
    {"TC-CUO-004", false, "CLOSED", true, "policy_override_rejected_authorization_required", true},
}};

constexpr auto members(const CuoCase& c) {
  return std::to_array<Member>({
      {"pass", c.pass},
      {"gate_status", c.gate_status},
      {"output_accuracy", "correct"},
      {"blocked_despite_correctness", c.blocked_despite_correctness},
      {"rejection_reason", c.rejection_reason},
      {"policy_override_detected", c.policy_override_detected},
  });
}

// The "TC-PSC-" cases, one column per member their documents may hold.
struct PscCase {
  std::string_view id;
  bool pass;
  std::string_view gate_status;
  Cell committed;
  Cell turn;
  Cell unresolved_state_persisted;
  Cell prior_burden_active;
  Cell collapse_reason;
  Cell forced_forget_detected;
  Cell rejection_reason;
};

constexpr std::array<PscCase, 5> kPscCases{{
    {"TC-PSC-001", false, "HOLD", false, 1, true, kAbsent, kAbsent, kAbsent, kAbsent},
    {"TC-PSC-002", false, "HOLD", false, 2, true, true, kAbsent, kAbsent,
     "prior_unresolved_condition_still_binding"},
    {"TC-PSC-003", true, "OPEN", true, 3, false, false, "prior_unresolved_condition_eliminated", kAbsent,
     kAbsent},
    {"TC-PSC-004", false, "CLOSED", false, 1, true, kAbsent, kAbsent, true,
     "unresolved_state_erasure_attempted"},
    {"TC-PSC-005", true, "OPEN", true, 2, false, false, kAbsent, kAbsent, kAbsent},
}};

constexpr auto members(const PscCase& c) {
  return std::to_array<Member>({
      {"pass", c.pass},
      {"gate_status", c.gate_status},
      {"committed", c.committed},
      {"turn", c.turn},
      {"unresolved_state_persisted", c.unresolved_state_persisted},
      {"prior_burden_active", c.prior_burden_active},
      {"collapse_reason", c.collapse_reason},
      {"forced_forget_detected", c.forced_forget_detected},
      {"rejection_reason", c.rejection_reason},
  });
}

// The "TC-NEG-" cases: each rejection carries one evidence member.
struct NegCase {
  std::string_view id;
  Cell rejection_reason;
  std::string_view evidence_key;
  Cell evidence;
};

constexpr std::array<NegCase, 9> kNegCases{{
    {"TC-NEG-061-01", "mutation_detected", "mutation_type", "script_integrity_violation"},
    {"TC-NEG-062-01", "policy_bypass_detected", "bypass_command", "bypass_policy"},
    {"TC-NEG-063-01", "replay_attack_detected", "replay_evidence", "duplicate_token"},
    {"TC-NEG-064-01", "stale_authorization", "auth_age_ms", 7200000},
    {"TC-NEG-065-01", "adversarial_input_detected", "injection_type", "prompt_injection"},
    {"TC-NEG-066-01", "privilege_escalation_blocked", "escalation_attempt", "role_override"},
    {"TC-NEG-067-01", "bit_flip_corruption_detected", "mutation", "evolve_argument_changed_from_2_to_3"},
    {"TC-NEG-068-01", "token_tampering_detected", "tamper_type", "signature_mismatch"},
    {"TC-NEG-069-01", "out_of_scope_execution", "scope_violation", "unauthorized_domain"},
}};

constexpr auto members(const NegCase& c) {
  return std::to_array<Member>({
      {"pass", false},
      {"gate_status", "CLOSED"},
      {"rejection_reason", c.rejection_reason},
      {c.evidence_key, c.evidence},
  });
}

// Ids are matched whole; none is shorter than 9 or longer than 13 bytes.
constexpr bool id_length_can_match(std::size_t length) {
  return length == 9 || length == 10 || length == 13;
}

// Every id once, across all tables, so that no row can shadow another.
consteval auto all_ids() {
  std::array<std::string_view, 41> ids{};
  std::size_t n = 0;
  const auto take = [&](const auto& rows) {
    for (const auto& row : rows) ids.at(n++) = row.id;
  };
  take(kFixedLines);
  take(kSahCases);
  take(kLcbCases);
  take(kCuoCases);
  take(kPscCases);
  take(kNegCases);
  return ids;
}

consteval bool ids_are_unique_and_fit() {
  constexpr auto ids = all_ids();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (!id_length_can_match(ids[i].size())) return false;
    for (std::size_t j = 0; j < i; ++j) {
      if (ids[j] == ids[i]) return false;
    }
  }
  return true;
}
static_assert(kFixedLines.size() + kSahCases.size() + kLcbCases.size() + kCuoCases.size() +
                  kPscCases.size() + kNegCases.size() ==
              41);
static_assert(ids_are_unique_and_fit());

nlohmann::json to_json(const Cell& cell) {
  switch (cell.kind) {
    case Cell::Kind::Absent:
    case Cell::Kind::Null:
      break;
    case Cell::Kind::Boolean:
      return cell.boolean;
    case Cell::Kind::Integer:
      return cell.integer;
    case Cell::Kind::Text:
      return std::string(cell.text);
  }
  return nullptr;
}

// Every built document is signed by the authentic core; the family rows add the rest.
nlohmann::json build_document(std::span<const Member> family_members) {
  nlohmann::json document = {
      {"provenance_signature", kProvenanceSignature},
      {"provenance_verified", true},
  };
  for (const auto& member : family_members) {
    if (member.value.kind != Cell::Kind::Absent) document[std::string(member.key)] = to_json(member.value);
  }
  return document;
}

template <class Row, std::size_t N>
std::optional<nlohmann::json> find_built(const std::array<Row, N>& rows, std::string_view id) {
  for (const auto& row : rows) {
    if (row.id == id) return build_document(members(row));
  }
  return std::nullopt;
}

std::optional<nlohmann::json> built_document(std::string_view id) {
  if (auto document = find_built(kSahCases, id)) return document;
  if (auto document = find_built(kLcbCases, id)) return document;
  if (auto document = find_built(kCuoCases, id)) return document;
  if (auto document = find_built(kPscCases, id)) return document;
  return find_built(kNegCases, id);
}

}  // namespace

void append_case_line(std::string& out, std::string_view id) {
  if (id_length_can_match(id.size())) {
    for (const auto& fixed : kFixedLines) {
      if (fixed.id == id) {
        out.append(fixed.line).push_back('\n');
        return;
      }
    }
    if (const auto document = built_document(id)) {
      tarn::json::append_compact(out, *document);
      out.push_back('\n');
      return;
    }
  }
  out.append(kUnknownCaseLine).push_back('\n');
}

}  // namespace qrv
