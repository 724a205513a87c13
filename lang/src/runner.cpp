// compile -> evaluate (execute, then finish), each a step of its own; run_script is the two.
//
// The finish runs in a fixed order because each step reads what the one before wrote: the final
// residual, the equilibrium by the script's own tolerance, the decision, the lineage (which holds
// the decision), the report (which holds the lineage). A run error stops everything before the
// finish, so an error never leaves a report or a report file behind.
#include "tarn/lang/runner.hpp"

#include "tarn/lang/policy.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "file_system.hpp"
#include "interpreter.hpp"
#include "run_finish.hpp"
#include "tracer.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/source_file.hpp"
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

// What compile() makes. The text is the policy's own copy, or a text it shares with the caller,
// except for the policy that run_script compiles for one run: its text is the caller's, which
// outlives the run.
struct CompiledPolicy {
  std::string name;
  std::string owned_text;
  std::shared_ptr<const SourceText> shared_text;
  std::string_view text;
  Program program;
  bool spans = true;   // the program holds the spans of its statements
  bool locate = true;  // run errors carry their location (see RunInputs::locate)
};

// Every run keeps the compiled policy alive for the state it returns, which takes a reference.
// Taken all from one count, threads that evaluate one policy together would pass that count's
// cache line between them at every decision. So a policy has several counts, each on a cache
// line of its own, and a thread takes its references from the one its id picks (two threads
// that pick the same one are no worse off than with one count). Measured with two threads
// (bench/micro.cpp, BM_EvaluateDecision, five runs each, alternating): 1.45 times the decisions
// per second of one thread in the median run with one count, 1.68 with these.
struct PolicyShares {
  struct alignas(64) Share {
    std::shared_ptr<const CompiledPolicy> compiled;
  };
  static constexpr std::size_t kCount = 8;
  std::array<std::shared_ptr<const CompiledPolicy>, kCount> shares;

  explicit PolicyShares(const std::shared_ptr<const CompiledPolicy>& compiled) {
    for (auto& share : shares) {
      // A count of its own (the Share's), which holds a reference to the policy while it lasts.
      auto kept = std::make_shared<const Share>(Share{compiled});
      share = std::shared_ptr<const CompiledPolicy>(kept, compiled.get());
    }
  }

  const std::shared_ptr<const CompiledPolicy>& for_this_thread() const {
    // Thread ids often differ in their high bits only (the threads' stacks lie far apart): mixed
    // as splitmix64 mixes, every bit counts.
    std::uint64_t x = std::hash<std::thread::id>{}(std::this_thread::get_id());
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9U;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebU;
    return shares[(x ^ (x >> 31)) % kCount];
  }
};

namespace {

// How compile_policy parses: compile() with or without spans (its errors always complete and
// its run errors located), run_script without either.
struct PolicyParse {
  bool borrow_text = false;
  bool spans = true;
  bool locate = true;
};

// The policy of `text`, whose own copy it makes unless it borrows the text or shares `shared`.
Result<std::shared_ptr<const CompiledPolicy>, ParseError> compile_policy(
    std::string_view text, std::string name, PolicyParse how,
    std::shared_ptr<const SourceText> shared = nullptr) {
  auto compiled = std::make_shared<CompiledPolicy>();
  compiled->name = std::move(name);
  if (shared != nullptr) {
    compiled->text = shared->view();
    compiled->shared_text = std::move(shared);
  } else if (how.borrow_text) {
    compiled->text = text;
  } else {
    compiled->owned_text = std::string(text);
    compiled->text = compiled->owned_text;
  }
  auto program = parse_program(compiled->text, ParseOptions{.spans = how.spans});
  // A parse with spans also tells where the failing statement begins, which messages use.
  if (!program && how.locate && !how.spans) program = parse_program(compiled->text);
  if (!program) return fail(std::move(program).error());
  compiled->program = std::move(*program);
  compiled->spans = how.spans;
  compiled->locate = how.locate;
  return std::shared_ptr<const CompiledPolicy>(std::move(compiled));
}

Result<RunState, RunError> evaluate_compiled(const std::shared_ptr<const CompiledPolicy>& compiled,
                                             RunMemory run_memory,
                                             const nlohmann::json* context,
                                             const RunOptions& options) {
  // A trace locates every step, so it needs the spans.
  Trace* trace = compiled->spans ? options.trace : nullptr;
  const RunInputs inputs{.context = context,
                         .fuel_limit = options.fuel_limit,
                         .open_import_text_limit = options.open_import_text_limit,
                         .name = compiled->name,
                         .text = compiled->text,
                         .spans = compiled->spans,
                         .locate = compiled->locate,
                         .trace = trace,
                         .files = options.files};
  RunState state;
  state.residual = memory::residual(run_memory.signs, run_memory.values);
  RunSettings settings;
  // The run's log refers to the policy's instructions, so it shares the policy.
  std::shared_ptr<const Program> program(compiled, &compiled->program);
  auto ran = execute(std::move(program), run_memory, inputs, state, settings);
  if (ran) ran = finish(run_memory, settings, detail::files_or_default(options.files), state);
  if (!ran) {
    if (trace != nullptr) conclude_failed_trace(*trace, ran.error());
    return fail(std::move(ran).error());
  }
  if (trace != nullptr) conclude_trace(*trace, state, settings);
  return state;
}

}  // namespace
}  // namespace detail

Policy::Policy(std::shared_ptr<const detail::CompiledPolicy> compiled)
    : compiled_(std::move(compiled)),
      shares_(std::make_shared<const detail::PolicyShares>(compiled_)) {}

const std::shared_ptr<const detail::CompiledPolicy>& Policy::share() const {
  return shares_->for_this_thread();
}

const std::string& Policy::name() const noexcept { return compiled_->name; }
std::string_view Policy::text() const noexcept { return compiled_->text; }
const Program& Policy::program() const noexcept { return compiled_->program; }

Result<Policy, ParseError> compile(std::shared_ptr<const SourceText> text, std::string name,
                                   CompileOptions options) {
  const std::string_view view = text->view();
  auto compiled =
      detail::compile_policy(view, std::move(name), {.spans = options.spans}, std::move(text));
  if (!compiled) return fail(std::move(compiled).error());
  return Policy(std::move(*compiled));
}

Result<Policy, ParseError> compile(std::string_view text, std::string name,
                                   CompileOptions options) {
  auto compiled = detail::compile_policy(text, std::move(name),
                                         {.borrow_text = false, .spans = options.spans});
  if (!compiled) return fail(std::move(compiled).error());
  return Policy(std::move(*compiled));
}

Result<RunState, RunError> evaluate(const Policy& policy, RunMemory memory,
                                    const nlohmann::json* context, const RunOptions& options) {
  return detail::evaluate_compiled(policy.share(), memory, context, options);
}

// The verifier's road: the text is borrowed and parsed without spans, which a verdict never shows.
Result<RunState, RunError> run_script(std::span<const std::int8_t> signs, std::span<double> values,
                                      const nlohmann::json* context, std::string_view script,
                                      std::uint64_t fuel_limit, const FileAccess* files) {
  auto compiled = detail::compile_policy(
      script, {}, {.borrow_text = true, .spans = false, .locate = false});
  if (!compiled) {
    return fail(
        RunError{RunErrorCode::ParseError, "Parse error: " + parse_error_text(compiled.error())});
  }
  return detail::evaluate_compiled(*compiled, RunMemory{signs, values}, context,
                                   RunOptions{.fuel_limit = fuel_limit, .files = files});
}

}  // namespace tarn::lang
