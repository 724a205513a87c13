// The script run's report: its two text forms. (The report file is written by the run's
// FileAccess, report_file.cpp.)
//
// The JSON form is written member by member straight from the run state (json::SortedPrettyObject),
// in the bytes a sorted pretty document would have, because its lineage can hold up to a gigabyte
// of command text that a document would copy again.
#include <string>

#include "huge_pages.hpp"
#include "run_finish.hpp"
#include "tarn/json/number_text.hpp"
#include "tarn/json/object_writer.hpp"

namespace tarn::lang::detail {
namespace {

// Room for the whole report up front: a long record would otherwise grow the text by doubling,
// copying it and faulting in fresh pages each time. 64 bytes covers an indented entry of the
// usual kinds; longer ones only cost a regrowth.
std::string json_report(const RunState& state, std::string_view decision) {
  constexpr std::size_t kBytesPerEntry = 64;
  std::string out;
  out.reserve(512 + kBytesPerEntry * state.executed_commands.size());
  advise_huge_pages(out.data(), out.capacity());
  json::SortedPrettyObject report(out, 0);
  report.or_null("escalate_reason", state.escalation);
  report.integer("fuel_consumed", state.fuel_used);
  report.string("gate_state", decision);
  report.or_null("identity_linked", state.identity);
  append_lineage_json(report.member("lineage_proof"), state, 1);
  report.boolean("pass", state.pass);
  report.or_null("replay_hash", state.replay_hash);
  report.number("residual", state.residual);
  report.or_null("signature", state.signature);
  report.or_null("zk_proof", state.zk_proof);
  report.close();
  return out;
}

std::string text_report(const RunState& state) {
  std::string out = "Final Residual: ";
  json::append_six_decimal(out, state.residual);
  out += ", Pass: ";
  out += state.pass ? "true" : "false";
  return out;
}

}  // namespace

std::string report_text(const RunState& state, const RunSettings& settings,
                        std::string_view decision) {
  if (settings.json && settings.track_lineage) return json_report(state, decision);
  return text_report(state);
}

}  // namespace tarn::lang::detail
