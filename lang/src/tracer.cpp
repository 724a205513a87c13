// What each instruction decided, in words and in values: see tracer.hpp.
//
// Numbers are written in the canonical form of instruction texts (1.0, 1e-12, 10.5), so that a
// threshold in an explanation reads as it does in the instruction beside it, and names and keys
// as quoted texts, escaped as canonical texts escape them.
#include "tracer.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "tarn/json/number_text.hpp"
#include "tarn/memory/state_memory.hpp"

namespace tarn::lang::detail {
namespace {

std::string number(double value) { return json::canonical_number(value); }

std::string quoted_text(std::string_view text) {
  std::string out;
  append_quoted_text(out, text);
  return out;
}

std::string where(const StatementLocation& location) {
  return location.file + ":" + std::to_string(location.line) + ":" +
         std::to_string(location.column);
}

// "|residual| 0.5 < tolerance 1.0", the test of equilibrium in words. A NaN residual is never in
// equilibrium and compares with nothing.
std::string equilibrium_test(double residual, double tolerance) {
  if (std::isnan(residual)) return "the residual is NaN, which is never in equilibrium";
  const double magnitude = std::fabs(residual);
  std::string comparison = tolerance > magnitude ? " < " : magnitude > tolerance ? " > " : " = ";
  return "|residual| " + number(magnitude) + comparison + "tolerance " + number(tolerance);
}

std::string statements(std::size_t count) {
  if (count == 0) return "[]";
  return "[" + std::to_string(count) + (count == 1 ? " statement]" : " statements]");
}

// One explanation per instruction; the instructions without a decision of their own say what
// they recorded.
class Explainer {
 public:
  Explainer(TraceStep& step, const Outcome& outcome, RunMemory memory, const RunInputs& inputs,
            const RunState& state, const RunSettings& settings)
      : step_(step), outcome_(outcome), memory_(memory), inputs_(inputs), state_(state),
        settings_(settings) {}

  void operator()(const Harmony& instruction) { tolerance_set(instruction.tolerance); }
  void operator()(const RequireEquilibrium& instruction) { tolerance_set(instruction.tolerance); }
  void operator()(const Evolve& instruction) {
    step_.position = instruction.index;
    if (failed()) return;
    say("heals position " + std::to_string(instruction.index) + ", which now holds " +
        number(memory_.values[static_cast<std::size_t>(instruction.index)]));
  }
  void operator()(const Data&) {
    if (failed() || !state_.revealed) return;
    say("reveals the payload " + number(*state_.revealed));
  }
  void operator()(const Corrupt& instruction) {
    step_.position = instruction.index;
    if (failed()) return;
    say("sets position " + std::to_string(instruction.index) + " to 0");
  }
  void operator()(const Residual&) {
    if (!state_.residual_log.empty()) say("logs the residual " + number(state_.residual_log.back()));
  }
  void operator()(const Report&) { say("asks for a report at the end of the run"); }
  void operator()(const ReportCompact&) { say("asks for a report at the end of the run"); }
  void operator()(const ReportVerbose&) { say("asks for a report at the end of the run"); }
  void operator()(const ReportJson&) {
    say("asks for the JSON report, used when lineage is tracked at the end of the run");
  }
  void operator()(const ReportTo& instruction) {
    say("names the report file " + quoted_text(instruction.target));
  }
  void operator()(const LogLevel&) { say("has no effect"); }
  void operator()(const Branch&) {
    const bool entered = std::holds_alternative<EnterBody>(outcome_);
    step_.entered = entered;
    step_.value = step_.residual;
    step_.threshold = settings_.tolerance;
    say(std::string(entered ? "enters its block: the memory is out of equilibrium, "
                            : "skips its block: the memory is in equilibrium, ") +
        equilibrium_test(step_.residual, settings_.tolerance));
  }
  void operator()(const BudgetLimit& instruction) {
    say("records the budget limit " + number(instruction.limit));
  }
  void operator()(const TimeWindow& instruction) {
    say("records the time window " + std::to_string(instruction.window));
  }
  void operator()(const VolatilityLimit& instruction) {
    say("records the volatility limit " + number(instruction.limit));
  }
  void operator()(const MaxExposure& instruction) {
    say("records the maximum exposure " + number(instruction.limit));
  }
  void operator()(const AssertBounds& instruction) {
    step_.position = instruction.index();
    bounds("position " + std::to_string(instruction.index()), instruction.index(), instruction.min(),
           instruction.max());
  }
  void operator()(const AssertBoundsNamed& instruction) {
    step_.alias = instruction.name();
    const auto alias = settings_.aliases.find(instruction.name());
    if (alias == settings_.aliases.end()) return;
    step_.position = alias->second;
    bounds(quoted_text(instruction.name()) + " (position " + std::to_string(alias->second) + ")",
           alias->second, instruction.min(), instruction.max());
  }
  void operator()(const LinkIdentity& instruction) {
    say("links the identity " + quoted_text(instruction.identity));
  }
  void operator()(const TrackLineage& instruction) {
    say(instruction.enabled ? "switches lineage tracking on" : "switches lineage tracking off");
  }
  void operator()(const Bind& instruction) {
    step_.position = instruction.index();
    if (const auto* error = std::get_if<RunError>(&outcome_)) {
      const char* reason = error->code == RunErrorCode::NoContext ? "the run has no context"
                           : error->code == RunErrorCode::MissingContextKey
                               ? "the context holds no number under this key"
                               : "its position has no value";
      step_.bindings.push_back(
          TraceBinding{std::string(instruction.key()), instruction.index(), std::nullopt, false, reason});
      return;
    }
    const double value = memory_.values[static_cast<std::size_t>(instruction.index())];
    step_.value = value;
    step_.bindings.push_back(
        TraceBinding{std::string(instruction.key()), instruction.index(), value, true,
                     "the context holds it"});
    say("binds " + quoted_text(instruction.key()) + " = " + number(value) + " to position " +
        std::to_string(instruction.index()));
  }
  void operator()(const Alias& instruction) {
    step_.alias = instruction.name();
    step_.position = instruction.index();
    say(quoted_text(instruction.name()) + " names position " + std::to_string(instruction.index()));
  }
  void operator()(const BindAll&) {
    const nlohmann::json* context = inputs_.context;
    if (context == nullptr) return say("binds nothing: the run has no context");
    if (!context->is_object()) return say("binds nothing: the context is not an object");
    if (settings_.aliases.empty()) return say("binds nothing: no alias has been made");
    std::size_t bound = 0;
    for (const auto& [key, member] : context->items()) {
      TraceBinding binding{key, std::nullopt, context_number(member), false, ""};
      const auto alias = settings_.aliases.find(key);
      if (alias != settings_.aliases.end()) binding.position = alias->second;
      if (!binding.position) {
        binding.reason = "no alias has this name";
      } else if (!binding.value) {
        binding.reason = "not a number";
      } else if (*binding.position >= memory_.values.size()) {
        binding.reason = "its position has no value";
        step_.bindings.push_back(std::move(binding));
        break;  // the run ends here
      } else {
        binding.bound = true;
        binding.reason = "an alias has this name";
        ++bound;
      }
      step_.bindings.push_back(std::move(binding));
    }
    if (failed()) return;
    const std::size_t skipped = step_.bindings.size() - bound;
    say("binds " + std::to_string(bound) + (bound == 1 ? " key" : " keys") + " and skips " +
        std::to_string(skipped));
  }
  void operator()(const IfGreaterThan& instruction) {
    step_.alias = instruction.name();
    step_.threshold = instruction.threshold();
    const auto alias = settings_.aliases.find(instruction.name());
    if (alias == settings_.aliases.end()) return;
    step_.position = alias->second;
    if (failed()) return;
    const double value = memory_.values[static_cast<std::size_t>(alias->second)];
    const bool entered = std::holds_alternative<EnterBody>(outcome_);
    step_.value = value;
    step_.entered = entered;
    say(std::string(entered ? "enters its block: " : "skips its block: ") +
        quoted_text(instruction.name()) + " (position " + std::to_string(alias->second) + ") holds " +
        number(value) + (entered ? " > " : ", not above ") + number(instruction.threshold()));
  }
  void operator()(const Escalate& instruction) {
    say("escalates: " + quoted_text(instruction.reason));
  }
  void operator()(const Import& instruction) {
    const auto* enter = std::get_if<EnterBody>(&outcome_);
    if (enter == nullptr) return;
    step_.entered = true;
    say("imports " + quoted_text(instruction.path) + ", " + std::to_string(enter->open_text_bytes) +
        " bytes of text");
  }
  void operator()(const GenerateZkProof& instruction) {
    say(instruction.enabled ? "records the proof placeholder" : "removes the proof");
  }

 private:
  bool failed() const { return std::holds_alternative<RunError>(outcome_); }
  void say(std::string explanation) { step_.explanation = std::move(explanation); }

  void tolerance_set(double tolerance) {
    say("sets the tolerance to " + number(tolerance) + ": the memory is " +
        (step_.pass ? "in equilibrium, " : "out of equilibrium, ") +
        equilibrium_test(step_.residual, tolerance));
  }

  void bounds(const std::string& what, std::uint64_t position, double min, double max) {
    if (position >= memory_.values.size()) return;
    const double value = memory_.values[static_cast<std::size_t>(position)];
    step_.value = value;
    if (failed()) return;
    say(what + " holds " + number(value) + ", within [" + number(min) + ", " + number(max) + "]");
  }

  TraceStep& step_;
  const Outcome& outcome_;
  RunMemory memory_;
  const RunInputs& inputs_;
  const RunState& state_;
  const RunSettings& settings_;
};

}  // namespace

std::string short_text(const Instruction& instruction) {
  if (const auto* branch = std::get_if<Branch>(&instruction)) {
    return "Branch(" + statements(branch->body.size()) + ")";
  }
  if (const auto* test = std::get_if<IfGreaterThan>(&instruction)) {
    return "IfGreaterThan(" + quoted_text(test->name()) + ", " + number(test->threshold()) +
           ", " + statements(test->body().size()) + ")";
  }
  return canonical_text(instruction);
}

Tracer::Tracer(Trace& trace, RunMemory memory, const RunInputs& inputs, const RunState& state,
               const RunSettings& settings, const ImportCache& imports)
    : trace_(trace), memory_(memory), inputs_(inputs), state_(state), settings_(settings),
      imports_(imports) {
  trace_ = Trace{};
}

StatementLocation Tracer::locate_step(std::uint32_t file, SourceSpan span) {
  std::string_view name = inputs_.name;
  std::string_view text = inputs_.text;
  if (file != 0) {
    const ImportedFile& imported = imports_[file];
    name = imported.name;
    text = imported.text ? imported.text->view() : std::string_view();
  }
  if (lines_.size() <= file) lines_.resize(file + 1);
  if (!lines_[file] || !lines_[file]->indexes(text)) lines_[file].emplace(text);
  const LineColumn place = lines_[file]->at(span.offset);
  return StatementLocation{std::string(name), span, place.line, place.column};
}

void Tracer::step(const Instruction& instruction, const Outcome& outcome, std::uint32_t file,
                  SourceSpan span, std::size_t depth) {
  TraceStep step;
  step.step = trace_.steps.size() + 1;
  step.depth = static_cast<std::uint32_t>(depth);
  step.location = locate_step(file, span);
  step.instruction = short_text(instruction);
  step.fuel_used = state_.fuel_used;
  step.residual = memory::residual(memory_.signs, memory_.values);
  step.tolerance = settings_.tolerance;
  step.pass = memory::in_equilibrium(memory_.signs, memory_.values, settings_.tolerance);
  if (const auto* error = std::get_if<RunError>(&outcome)) step.error = error->message;
  std::visit(Explainer(step, outcome, memory_, inputs_, state_, settings_),
             static_cast<const InstructionKind&>(instruction));

  if (std::holds_alternative<Harmony>(instruction) ||
      std::holds_alternative<RequireEquilibrium>(instruction)) {
    trace_.end.tolerance_set_at = step.location;
  }
  if (std::holds_alternative<Escalate>(instruction)) trace_.end.escalated_at = step.location;
  trace_.steps.push_back(std::move(step));
}

void conclude_trace(Trace& trace, const RunState& state, const RunSettings& settings) {
  TraceEnd& end = trace.end;
  end.decision = std::string(state.escalation ? "ESCALATE" : state.pass ? "ALLOW" : "DENY");
  end.pass = state.pass;
  end.residual = state.residual;
  end.tolerance = settings.tolerance;
  end.escalation = state.escalation;
  const std::string tolerance_origin =
      end.tolerance_set_at ? "tolerance set at " + where(*end.tolerance_set_at)
                           : "the default tolerance: no harmony or require_equilibrium ran";
  const std::string pass = std::string("pass is ") + (state.pass ? "true" : "false") +
                           " because " + equilibrium_test(state.residual, settings.tolerance) +
                           " (" + tolerance_origin + ")";
  if (state.escalation) {
    end.because = "decision ESCALATE: the run escalated with " + quoted_text(*state.escalation) +
                  (end.escalated_at ? " at " + where(*end.escalated_at) : "") +
                  ", which decides whatever the equilibrium; " + pass;
  } else {
    end.because = "decision " + end.decision + ": " + pass;
  }
}

void conclude_failed_trace(Trace& trace, const RunError& error) {
  TraceEnd& end = trace.end;
  end.decision.clear();
  // No finish ran: the state is the one the last step left.
  if (!trace.steps.empty()) {
    const TraceStep& last = trace.steps.back();
    end.pass = last.pass;
    end.residual = last.residual;
    end.tolerance = last.tolerance;
  }
  end.error = error.message;
  end.error_at = error.location;
  end.because = "no decision: the run failed" +
                (error.location ? " at " + where(*error.location) : std::string()) + ": " +
                error.message;
}

}  // namespace tarn::lang::detail
