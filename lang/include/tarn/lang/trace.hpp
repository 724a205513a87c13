// A trace of a run: one record per started instruction saying what it decided, and the reason
// for the run's decision at its end.
//
// Runs are small and deterministic, so a trace can afford to say everything: where each
// instruction stands, the fuel, residual and equilibrium after it, and for each test the values it
// compared. A run records a trace only when RunOptions::trace points at one; otherwise the loop
// has no trace code at all. Any front end (the `tarn` tool, an editor) shows the same records;
// the two renderers below are the tool's forms.
//
//   tarn::lang::Trace trace;
//   auto run = tarn::lang::evaluate(policy, memory, nullptr, {.trace = &trace});
//   std::string text;
//   tarn::lang::append_trace_text(text, trace);   // ends with "decision ALLOW: pass is true ..."
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tarn/lang/run_state.hpp"

namespace tarn::lang {

/// One member of a context document as bind or bind_all treated it.
struct TraceBinding {
  std::string key;
  std::optional<std::uint64_t> position;  // the position it names or its alias stands for
  std::optional<double> value;            // the number it holds, when it holds one
  bool bound = false;
  std::string reason;  // why it was bound or skipped, e.g. "no alias has this name"
};

/// One started instruction and what it decided.
struct TraceStep {
  std::uint64_t step = 0;    // 1 for the first instruction started
  std::uint32_t depth = 0;   // 0 at the top level; one more inside each block and import
  StatementLocation location;
  /// The canonical text, with a block's body shown by its size: `Branch([3 statements])`.
  std::string instruction;
  // After the instruction: the fuel used, the memory's residual, the tolerance in force and
  // whether the memory is in equilibrium by it (what the run's pass would be if it ended here).
  std::uint64_t fuel_used = 0;
  double residual = 0.0;
  double tolerance = 0.0;
  bool pass = true;
  // What it compared, where it compared something: the alias and its position, the value tested
  // (the residual for if_broken) and what it was tested against (the tolerance for if_broken).
  std::optional<std::string> alias;
  std::optional<std::uint64_t> position;
  std::optional<double> value;
  std::optional<double> threshold;
  std::optional<bool> entered;  // blocks and imports: whether their statements run
  std::vector<TraceBinding> bindings;  // bind and bind_all
  std::string explanation;             // what it decided, for a person
  std::optional<std::string> error;    // the run error it ended the run with
};

/// How the run ended, and why.
struct TraceEnd {
  /// "ALLOW", "DENY" or "ESCALATE"; empty when the run failed.
  std::string decision;
  bool pass = true;
  double residual = 0.0;
  double tolerance = 1e-12;
  std::optional<StatementLocation> tolerance_set_at;  // the harmony that set it; none: the default
  std::optional<std::string> escalation;
  std::optional<StatementLocation> escalated_at;
  std::optional<std::string> error;  // the run error's message
  std::optional<StatementLocation> error_at;
  /// One sentence for the decision. **Example**: "decision DENY: pass is false because
  /// |residual| 10.5 > tolerance 1e-12 (the default tolerance: no harmony or require_equilibrium
  /// ran)".
  std::string because;
};

struct Trace {
  std::vector<TraceStep> steps;
  TraceEnd end;
};

/// The text form: a line per step, then the because line.
/// **Example**: `step 1 depth 0 p.tarn:1:1 Alias(0, "reserve"); fuel 1, residual 0.0, pass false;
/// "reserve" names position 0`.
void append_trace_text(std::string& out, const Trace& trace);

/// JSON lines: a compact object per step ("kind": "step"), then one for the end ("kind": "end"),
/// each on a line of its own, with the members in the order of the structs above.
void append_trace_json_lines(std::string& out, const Trace& trace);

}  // namespace tarn::lang
