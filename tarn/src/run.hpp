// `tarn run FILE [options]`: run a script with run_script and print the whole run result.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "tarn/lang/result.hpp"
#include "tarn/lang/run_state.hpp"

#include "tool_output.hpp"

namespace tarn::tool {

/// The options as given on the command line; run_command validates them (bad values: status 2).
struct RunCommandOptions {
  std::string file;
  std::optional<std::string> payload;        // --payload=NUMBER
  std::optional<std::string> corrupt_index;  // --corrupt-index=N
  std::optional<std::string> signs;          // --signs=LIST
  std::optional<std::string> values;         // --values=LIST
  std::optional<std::string> context;        // --context=JSONFILE
  std::optional<std::string> fuel;           // --fuel=N
  std::optional<std::string> root;           // --root=DIR
};

ToolOutput run_command(const RunCommandOptions& options);

/// The run result as `tarn run` prints it (pretty JSON, every member always there, without the
/// final line feed) for a run that left the memory's values at `values`. Past the limit of
/// executed-command text, the texts give way to their count (executed_commands_omitted) and
/// `commands_omitted` is set. `tarn test` compares its expectations with this document, so that
/// the two commands cannot disagree on a member.
std::string run_result_document(const lang::RunState& state, std::span<const double> values,
                                bool* commands_omitted = nullptr);

}  // namespace tarn::tool
