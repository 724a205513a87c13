// run_script: parse -> execute -> finish, each a step of its own.
//
// The finish runs in a fixed order because each step reads what the one before wrote: the final
// residual, the equilibrium by the script's own tolerance, the decision, the lineage (which holds
// the decision), the report (which holds the lineage). A run error stops everything before the
// finish, so an error never leaves a report or a report file behind.
#include "tarn/lang/runner.hpp"

#include <memory>
#include <string>
#include <utility>

#include "interpreter.hpp"
#include "run_finish.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/memory/state_memory.hpp"

namespace tarn::lang {
namespace {

Result<std::shared_ptr<const Program>, RunError> parse(std::string_view script) {
  auto parsed = parse_program(script, ParseOptions{.spans = false});
  if (!parsed) return fail(RunError{"Parse error: " + parse_error_text(parsed.error())});
  return std::make_shared<const Program>(std::move(*parsed));
}

Result<void, RunError> finish(RunMemory run_memory, const RunSettings& settings,
                              RunState& state) {
  state.residual = memory::residual(run_memory.signs, run_memory.values);
  state.pass = memory::in_equilibrium(run_memory.signs, run_memory.values, settings.tolerance);
  const std::string_view decision = run_decision(state);
  if (settings.track_lineage) {
    if (auto built = detail::build_lineage(state, decision); !built) return built;
  }
  if (settings.report) {
    state.report_text = detail::report_text(state, settings, decision);
    if (settings.report_to) {
      detail::write_report_file(*settings.report_to, *state.report_text);
      state.report_path = settings.report_to;
    }
  }
  return {};
}

}  // namespace

std::string_view run_decision(const RunState& state) {
  if (state.escalation) return "ESCALATE";
  return state.pass ? "ALLOW" : "DENY";
}

Result<RunState, RunError> run_script(std::span<const std::int8_t> signs, std::span<double> values,
                                      const nlohmann::json* context, std::string_view script,
                                      std::uint64_t fuel_limit) {
  auto program = parse(script);
  if (!program) return fail(std::move(program).error());

  const RunMemory run_memory{.signs = signs, .values = values};
  const RunInputs inputs{.context = context, .fuel_limit = fuel_limit};
  RunState state;
  state.residual = memory::residual(signs, values);
  RunSettings settings;

  if (auto ran = execute(std::move(*program), run_memory, inputs, state, settings); !ran) {
    return fail(std::move(ran).error());
  }
  if (auto finished = finish(run_memory, settings, state); !finished) {
    return fail(std::move(finished).error());
  }
  return state;
}

}  // namespace tarn::lang
