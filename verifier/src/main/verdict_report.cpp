// The verifier's verdict report: derive pass, status word and reason from the gate decision, then
// lay the record out as text lines or as one compact JSON object.
//
// The JSON object keeps the record's declaration order (gate_decision first), unlike the
// key-sorted documents elsewhere, so it is written member by member with json::CompactObject
// rather than built as a document; the number and string forms are the shared ones of tarn::json.
#include "verdict_report.hpp"

#include <string_view>

#include "provenance.hpp"
#include "tarn/json/number_text.hpp"
#include "tarn/json/object_writer.hpp"

namespace qrv {
namespace {

constexpr std::string_view kSignature = kProvenanceSignature;

/// What a decision means for the printed record.
struct DecisionView {
  bool pass = false;
  std::string_view status;      // gate status word
  std::string_view json_key;    // "PERMIT"/"SILENCE" as a plain string, else the object's key
  bool carries_reason = false;  // the JSON form is {"<json_key>":"<reason>"}
  std::optional<std::string_view> reason;
};

// Overloads rather than a switch on index(): adding a variant without its row fails to compile.
DecisionView view(const Permit&) { return {true, "OPEN", "PERMIT", false, std::nullopt}; }
DecisionView view(const Deny& d) { return {false, "CLOSED", "DENY", true, d.reason}; }
DecisionView view(const Escalate& d) { return {false, "ESCALATE", "ESCALATE", true, d.reason}; }
DecisionView view(const Silence&) {
  return {false, "SILENCE", "SILENCE", false, std::string_view("system_unreachable")};
}
DecisionView view(const Hold& d) { return {false, "HOLD", "HOLD", true, d.reason}; }

void append_bool(std::string& out, bool value) { out += value ? "true" : "false"; }

void append_json(std::string& out, const DecisionView& d, const std::optional<double>& residual_final,
                 const std::vector<std::uint64_t>& indices_healed,
                 const std::optional<double>& revealed) {
  tarn::json::CompactObject report(out);
  if (d.carries_reason) {
    tarn::json::CompactObject decision(report.member("gate_decision"));
    decision.string(d.json_key, *d.reason);
    decision.close();
  } else {
    report.string("gate_decision", d.json_key);
  }
  report.boolean("pass", d.pass);
  report.string("gate_status", d.status);
  report.or_null("residual_final", residual_final);
  report.or_null("rejection_reason", d.reason);
  report.array("indices_healed", indices_healed.size(), [&](std::string& text, std::size_t i) {
    tarn::json::append_integer(text, indices_healed[i]);
  });
  report.or_null("revealed", revealed);
  report.string("provenance_signature", kSignature);
  report.boolean("provenance_verified", true);
  report.close();
  out += '\n';
}

// The text form deliberately leaves out the healed indices and the revealed value.
void append_text(std::string& out, const DecisionView& d, const std::optional<double>& residual_final) {
  out += "--- QRV Verifier Output ---\nPass: ";
  append_bool(out, d.pass);
  out += "\nStatus: ";
  out += d.status;
  out += '\n';
  if (d.reason) {
    out += "Reason: ";
    out += *d.reason;
    out += '\n';
  }
  if (residual_final) {
    out += "Residual: ";
    tarn::json::append_display_number(out, *residual_final);
    out += '\n';
  }
  out += "Signature: ";
  out += kSignature;
  out += '\n';
}

}  // namespace

void append_verdict_report(std::string& out, GateDecision decision,
                           std::optional<double> residual_final,
                           std::vector<std::uint64_t> indices_healed,
                           std::optional<double> revealed, bool emit_json) {
  const DecisionView d = std::visit([](const auto& variant) { return view(variant); }, decision);
  if (emit_json) {
    append_json(out, d, residual_final, indices_healed, revealed);
  } else {
    append_text(out, d, residual_final);
  }
}

}  // namespace qrv
