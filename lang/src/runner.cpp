// compile -> evaluate (execute, then finish), each a step of its own; run_script is the two.
//
// The finish runs in a fixed order because each step reads what the one before wrote: the final
// residual, the equilibrium by the script's own tolerance, the decision, the lineage (which holds
// the decision), the report (which holds the lineage). A run error stops everything before the
// finish, so an error never leaves a report or a report file behind.
#include "tarn/lang/runner.hpp"

#include "tarn/lang/policy.hpp"

#include <memory>
#include <string>
#include <utility>

#include "file_system.hpp"
#include "interpreter.hpp"
#include "run_finish.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/memory/state_memory.hpp"

namespace tarn::lang {
namespace {

Result<void, RunError> finish(RunMemory run_memory, const RunSettings& settings,
                              const FileAccess& files, RunState& state) {
  state.residual = memory::residual(run_memory.signs, run_memory.values);
  state.pass = memory::in_equilibrium(run_memory.signs, run_memory.values, settings.tolerance);
  const std::string_view decision = run_decision(state);
  if (settings.track_lineage) {
    if (auto built = detail::build_lineage(state, decision); !built) return built;
  }
  if (settings.report) {
    state.report_text = detail::report_text(state, settings, decision);
    if (settings.report_to) {
      // A report that cannot be written is no reason to fail the run.
      (void)files.write_report(*settings.report_to, *state.report_text);
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

namespace detail {

// What compile() makes. The text is the policy's own copy, except for the policy that run_script
// compiles for one run: its text is the caller's, which outlives the run.
struct CompiledPolicy {
  std::string name;
  std::string owned_text;
  std::string_view text;
  Program program;
  bool spans = true;
};

namespace {

Result<std::shared_ptr<const CompiledPolicy>, ParseError> compile_policy(std::string_view text,
                                                                         std::string name,
                                                                         bool borrow_text,
                                                                         bool spans) {
  auto compiled = std::make_shared<CompiledPolicy>();
  compiled->name = std::move(name);
  if (borrow_text) {
    compiled->text = text;
  } else {
    compiled->owned_text = std::string(text);
    compiled->text = compiled->owned_text;
  }
  auto program = parse_program(compiled->text, ParseOptions{.spans = spans});
  if (!program) return fail(std::move(program).error());
  compiled->program = std::move(*program);
  compiled->spans = spans;
  return std::shared_ptr<const CompiledPolicy>(std::move(compiled));
}

Result<RunState, RunError> evaluate_compiled(const std::shared_ptr<const CompiledPolicy>& compiled,
                                             RunMemory run_memory,
                                             const nlohmann::json* context,
                                             const RunOptions& options) {
  const RunInputs inputs{.context = context,
                         .fuel_limit = options.fuel_limit,
                         .open_import_text_limit = options.open_import_text_limit,
                         .name = compiled->name,
                         .text = compiled->text,
                         .spans = compiled->spans,
                         .files = options.files};
  RunState state;
  state.residual = memory::residual(run_memory.signs, run_memory.values);
  RunSettings settings;
  // The run's log refers to the policy's instructions, so it shares the policy.
  std::shared_ptr<const Program> program(compiled, &compiled->program);
  if (auto ran = execute(std::move(program), run_memory, inputs, state, settings); !ran) {
    return fail(std::move(ran).error());
  }
  if (auto finished =
          finish(run_memory, settings, detail::files_or_default(options.files), state);
      !finished) {
    return fail(std::move(finished).error());
  }
  return state;
}

}  // namespace
}  // namespace detail

const std::string& Policy::name() const noexcept { return compiled_->name; }
std::string_view Policy::text() const noexcept { return compiled_->text; }
const Program& Policy::program() const noexcept { return compiled_->program; }

Result<Policy, ParseError> compile(std::string_view text, std::string name) {
  auto compiled = detail::compile_policy(text, std::move(name), false, true);
  if (!compiled) return fail(std::move(compiled).error());
  return Policy(std::move(*compiled));
}

Result<RunState, RunError> evaluate(const Policy& policy, RunMemory memory,
                                    const nlohmann::json* context, const RunOptions& options) {
  return detail::evaluate_compiled(policy.compiled_, memory, context, options);
}

// The verifier's road: the text is borrowed and parsed without spans, which a verdict never shows.
Result<RunState, RunError> run_script(std::span<const std::int8_t> signs, std::span<double> values,
                                      const nlohmann::json* context, std::string_view script,
                                      std::uint64_t fuel_limit, const FileAccess* files) {
  auto compiled = detail::compile_policy(script, {}, true, false);
  if (!compiled) {
    return fail(
        RunError{RunErrorCode::ParseError, "Parse error: " + parse_error_text(compiled.error())});
  }
  return detail::evaluate_compiled(*compiled, RunMemory{signs, values}, context,
                                   RunOptions{.fuel_limit = fuel_limit, .files = files});
}

}  // namespace tarn::lang
