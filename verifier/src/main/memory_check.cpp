// The default mode: hide the payload in the four-value state memory, optionally damage one value,
// then judge the memory here or hand it to the script verdict.
//
// The payload guards come first so that a refused payload never reaches a script: the harness
// relies on "--payload=-1 --script=x" refusing without touching x.
#include "memory_check.hpp"

#include <array>
#include <optional>

#include "verdict_report.hpp"
#include "script_verdict.hpp"
#include "tarn/memory/state_memory.hpp"

namespace qrv {
namespace {

// Payloads at or above this are refused (+inf included; NaN compares false and passes).
constexpr double kRefusalThreshold = 999999.0;
// The driver's own equilibrium test; a script run uses its own tolerance instead.
constexpr double kTolerance = 0.0001;

void print_deny(std::string& out, const char* reason, bool emit_json) {
  append_verdict_report(out, Deny{reason}, std::nullopt, {}, std::nullopt, emit_json);
}

}  // namespace

void run_state_check(const VerifierOptions& options, std::string& out) {
  const std::span<const std::int8_t> signs(tarn::memory::kDefaultSigns);

  // -0.0 and NaN are not below zero, so both pass this guard.
  if (options.payload < 0.0) {
    print_deny(out, "negative_budget_residual", options.emit_json);
    return;
  }
  if (options.payload >= kRefusalThreshold) {
    print_deny(out, "refusal_override_failed", options.emit_json);
    return;
  }

  std::array<double, 4> values = tarn::memory::encode(options.payload);

  // Only an index that names a position corrupts anything; larger ones leave no record at all.
  std::optional<CorruptionRecord> corruption;
  if (options.corrupt_index && *options.corrupt_index < values.size()) {
    tarn::memory::corrupt(values, *options.corrupt_index);
    corruption = CorruptionRecord{*options.corrupt_index, tarn::memory::residual(signs, values)};
  }

  if (options.script_text) {
    run_script_text_check(signs, values, corruption, *options.script_text, options.emit_json, out,
                          options.files);
    return;
  }
  if (options.script_path) {
    run_script_check(signs, values, corruption, *options.script_path, options.emit_json, out);
    return;
  }

  if (!tarn::memory::in_equilibrium(signs, values, kTolerance)) {
    print_deny(out, "equilibrium_lost", options.emit_json);
    return;
  }
  const double revealed = tarn::memory::reveal(signs, values);
  const double final_residual = tarn::memory::residual(signs, values);
  append_verdict_report(out, Permit{}, final_residual, {}, revealed, options.emit_json);
}

}  // namespace qrv
