// The run's side of a trace: what each started instruction decided, worked out from the state the
// handler left behind, and the reason for the decision once the run is over.
//
// The handlers know nothing of traces. After an instruction's handler has answered, the loop hands
// the tracer the instruction, the answer and where it stands; the tracer reads the memory, the
// settings and the context as the handler left them, which is all it needs: no handler changes
// what its own test read (a block's test reads the memory before the body runs, bind_all reads
// the aliases and the context, which it does not change).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "diagnostic_places.hpp"
#include "handlers.hpp"
#include "interpreter.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/run_state.hpp"
#include "tarn/lang/trace.hpp"

namespace tarn::lang::detail {

class Tracer {
 public:
  Tracer(Trace& trace, RunMemory memory, const RunInputs& inputs, const RunState& state,
         const RunSettings& settings, const ImportCache& imports);

  /// Records the instruction just started: `outcome` is its handler's answer, `file` and `span`
  /// where it stands, `depth` the number of blocks and imports around it.
  void step(const Instruction& instruction, const Outcome& outcome, std::uint32_t file,
            SourceSpan span, std::size_t depth);

 private:
  StatementLocation locate_step(std::uint32_t file, SourceSpan span);

  Trace& trace_;
  RunMemory memory_;
  const RunInputs& inputs_;
  const RunState& state_;
  const RunSettings& settings_;
  const ImportCache& imports_;
  // The lines of each file (0: the policy, then the imported files), indexed when first
  // needed: a trace of a long script locates every statement, and counting lines from the start
  // of the text each time would make that quadratic. An imported file's text may be let go and
  // read again between its imports, so an index is made anew when its text moved.
  std::vector<std::optional<LineIndex>> lines_;
};

/// Ends the trace of a run that finished: its decision and the reason for it.
void conclude_trace(Trace& trace, const RunState& state, const RunSettings& settings);

/// Ends the trace of a run that failed with `error`.
void conclude_failed_trace(Trace& trace, const RunError& error);

/// The canonical text with each body shown by its size. **Example**: `Branch([2 statements])`,
/// `IfGreaterThan("x", 0.5, [1 statement])`, `Branch([])`.
std::string short_text(const Instruction& instruction);

}  // namespace tarn::lang::detail
