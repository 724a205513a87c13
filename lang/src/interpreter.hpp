// The execution loop, and the run's record of what it started.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <memory>
#include <utility>

#include "tarn/lang/file_access.hpp"
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

/// What a run only reads, shared by every nesting level.
struct RunInputs {
  const nlohmann::json* context = nullptr;
  std::uint64_t fuel_limit = kDefaultFuel;
  /// Tests lower it to exercise the guard without writing hundreds of megabytes.
  std::uint64_t open_import_text_limit = kScriptTextLimit;
  /// The name and the text of the program run, for the locations of run errors. With `spans`
  /// (the program was parsed with them), imported files are parsed with spans too and run errors
  /// are located; without, they carry no location.
  std::string_view name;
  std::string_view text;
  bool spans = false;
  /// Where imports are read from; null: the working directory.
  const FileAccess* files = nullptr;
};

/// The location of `span` in the file named `file` whose text is `text`.
StatementLocation locate(std::string_view file, std::string_view text, SourceSpan span);

/// An offset as a span holds it: saturated at 2^32 - 1.
inline std::uint32_t saturate_u32(std::size_t offset) {
  return static_cast<std::uint32_t>(std::min<std::size_t>(offset, UINT32_MAX));
}

/// Runs `program` under the fuel rule: for each instruction, check fuel, charge one unit, record
/// it, run its handler; the first error ends the run. Blocks and imports nest on an explicit
/// frame stack, never on the call stack. The state's log keeps `program` alive.
/// **Example**: "evolve(0)\nreport()" with fuel_limit 11 fails with "Out of fuel (Gas limit
/// exceeded)" after one recorded instruction and fuel_used 11; with 12 it succeeds.
Result<void, RunError> execute(std::shared_ptr<const Program> program, RunMemory memory,
                               const RunInputs& inputs, RunState& state, RunSettings& settings);

}  // namespace tarn::lang
