// Script mode: read the script, refuse one that mentions corruption, run it over the prepared
// memory and turn the run into a verdict. A host that holds the script as text (a browser has no
// files) gets the same verdict for it as for a file holding those bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarn::lang {
class FileAccess;
}  // namespace tarn::lang

namespace qrv {

/// What the memory check did to the memory before the script sees it.
struct CorruptionRecord {
  std::uint64_t index = 0;
  double pre_heal_residual = 0.0;
};

/// Appends exactly one output to `out`: a report or, for a run in equilibrium in JSON mode, the
/// success document.
void run_script_check(std::span<const std::int8_t> signs, std::span<double> values,
                      const std::optional<CorruptionRecord>& corruption,
                      const std::string& script_path, bool emit_json, std::string& out);

/// As run_script_check for a file holding exactly `script`: text the reader would refuse (past the
/// script text limit, or not UTF-8) is the Silence verdict, as an unreadable file is. Its imports
/// are read through `files` (null: the working directory's, as for a file).
void run_script_text_check(std::span<const std::int8_t> signs, std::span<double> values,
                           const std::optional<CorruptionRecord>& corruption,
                           std::string_view script, bool emit_json, std::string& out,
                           const tarn::lang::FileAccess* files = nullptr);

}  // namespace qrv
