// The run result document of `tarn run`.
//
// The run result is written member by member straight from the run state
// (json::SortedPrettyObject): the command texts (twice, with a lineage) are rendered into the
// output once each and never copied into a document first.
#include "run_document.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tarn/json/number_text.hpp"
#include "tarn/json/object_writer.hpp"
#include "tarn/json/writer.hpp"
#include "tarn/lang/limits.hpp"
#include "tarn/lang/runner.hpp"

namespace tarn::tool {
namespace {

void append_numbers(json::ObjectWriter& object, std::string_view key,
                    std::span<const double> values) {
  object.array(key, values.size(),
               [&](std::string& out, std::size_t i) { json::append_json_number(out, values[i]); });
}

/// The whole run result; every member is always there, null when the run has no value for it.
/// With `omit_commands` the command texts give way to their count, executed_commands_omitted.
void append_result(std::string& out, const lang::RunState& state, std::span<const double> values,
                   bool omit_commands) {
  json::SortedPrettyObject document(out, 0);
  document.or_null("budget_limit", state.budget_limit);
  document.string("decision", lang::run_decision(state));
  document.or_null("escalation", state.escalation);
  if (omit_commands) {
    document.integer("executed_commands_omitted", state.executed_commands.size());
  } else {
    document.array("executed_commands", state.executed_commands.size(),
                   [&](std::string& text, std::size_t i) {
                     state.executed_commands.append_json_text(text, i);
                   });
  }
  document.integer("fuel_used", state.fuel_used);
  document.array("healed_indices", state.healed_indices.size(),
                 [&](std::string& text, std::size_t i) {
                   json::append_integer(text, state.healed_indices[i]);
                 });
  document.or_null("identity", state.identity);
  document.or_null("last_healed", state.last_healed);
  lang::append_lineage_json(document.member("lineage"), state, 1);
  document.or_null("max_exposure", state.max_exposure);
  document.boolean("pass", state.pass);
  document.or_null("replay_hash", state.replay_hash);
  document.or_null("report_path", state.report_path);
  document.or_null("report_text", state.report_text);
  document.number("residual", state.residual);
  append_numbers(document, "residual_log", state.residual_log);
  document.or_null("revealed", state.revealed);
  document.or_null("signature", state.signature);
  document.or_null("time_window", state.time_window);
  append_numbers(document, "values", values);
  document.or_null("volatility_limit", state.volatility_limit);
  document.or_null("zk_proof", state.zk_proof);
  document.close();
}

// Room for the whole result, so that a long one is written without regrowing (and copying) the
// output: the command texts at their bound, once more with a lineage, plus their quotes, commas
// and indentation, and every number at its longest. Capped: past the cap the output just grows.
std::size_t result_size_bound(const lang::RunState& state, std::uint64_t text_bound,
                              std::size_t value_count) {
  constexpr std::uint64_t kPerText = 16;
  constexpr std::uint64_t kPerNumber = 40;
  constexpr std::uint64_t kFixed = 4096;
  constexpr std::uint64_t kCap = std::uint64_t{256} << 20;
  const lang::CommandLog& commands = state.executed_commands;
  const std::uint64_t copies = state.lineage ? 2 : 1;
  const std::uint64_t texts = std::min(text_bound, kCap) + kPerText * commands.size();
  const std::uint64_t numbers =
      kPerNumber * (state.residual_log.size() + state.healed_indices.size() + value_count);
  return static_cast<std::size_t>(std::min(copies * texts + numbers + kFixed, kCap));
}

}  // namespace

std::string run_result_document(const lang::RunState& state, std::span<const double> values,
                                bool* commands_omitted) {
  // One bound serves the limit and sizes the output. Past the limit the run still succeeded (a
  // report file may have been written): the result is shown without the texts. Its lineage is
  // null then, as a run whose lineage record would pass the same limit fails.
  const std::uint64_t text_bound = state.executed_commands.text_length_bound();
  const bool omit =
      state.executed_commands.text_length_exceeds(lang::kCommandTextLimit, text_bound);
  if (commands_omitted != nullptr) *commands_omitted = omit;
  std::string document;
  document.reserve(result_size_bound(state, omit ? 0 : text_bound, values.size()));
  append_result(document, state, values, omit);
  return document;
}

}  // namespace tarn::tool
