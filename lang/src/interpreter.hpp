// The execution loop, and the run's record of what it started.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

#include "tarn/lang/instruction.hpp"
#include "tarn/lang/result.hpp"
#include "tarn/lang/run_state.hpp"

namespace tarn::lang {

namespace detail {

/// The loop's side of a CommandLog: recording is a pointer push, and the log keeps every program
/// it refers to alive (the top-level one and each imported one), so that its entries stay valid
/// after the run.
class Recorder {
 public:
  static void record(CommandLog& log, const Instruction& instruction) {
    log.entries_.push_back(&instruction);
  }
  static void keep(CommandLog& log, std::shared_ptr<const Program> program) {
    log.programs_.push_back(std::move(program));
  }
  /// Room for `count` more entries, so that a long run records without regrowing the log.
  static void reserve(CommandLog& log, std::size_t count) {
    log.entries_.reserve(log.entries_.size() + count);
  }
};

}  // namespace detail

/// Runs `program` under the fuel rule: for each instruction, check fuel, charge one unit, record
/// it, run its handler; the first error ends the run. Blocks and imports nest on an explicit
/// frame stack, never on the call stack. The state's log keeps `program` alive.
/// **Example**: "evolve(0)\nreport()" with fuel_limit 11 fails with "Out of fuel (Gas limit
/// exceeded)" after one recorded instruction and fuel_used 11; with 12 it succeeds.
Result<void, RunError> execute(std::shared_ptr<const Program> program, RunMemory memory,
                               const RunInputs& inputs, RunState& state, RunSettings& settings);

}  // namespace tarn::lang
