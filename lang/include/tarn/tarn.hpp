// tarn: the policy engine for a host program, in one header.
//
// Compile a policy once, then evaluate it over as many state memories as you like, from as many
// threads as you like:
//
//   #include "tarn/tarn.hpp"
//
//   auto policy = tarn::lang::compile(text, "limits.tarn");         // parsed once
//   if (!policy) { /* policy.error(): ParseError, with its offset */ }
//
//   std::array<std::int8_t, 4> signs = tarn::memory::kDefaultSigns;
//   std::array<double, 4> values = tarn::memory::encode(1337.0);
//   nlohmann::json context = {{"amount", 125}};
//   auto run = tarn::lang::evaluate(*policy, {signs, values}, &context);
//   if (run) {
//     std::string_view decision = tarn::lang::run_decision(*run);   // ALLOW, DENY or ESCALATE
//   } else {
//     switch (run.error().code) {                                    // the message never changes
//       case tarn::lang::RunErrorCode::OutOfFuel: ...
//       case tarn::lang::RunErrorCode::BoundsAssertion: ...          // run.error().location
//       default: ...
//     }
//   }
//
// What each name is:
// - Policy, compile, evaluate, RunOptions: policy.hpp. A Policy never changes; share it freely.
// - Which files a policy may import and write its report to (the working directory's, those
//   beneath one folder, texts in memory, none): FileAccess and its kinds, file_access.hpp.
// - RunState (the whole run result), RunError and RunErrorCode, RunMemory: run_state.hpp.
// - run_script (compile and evaluate in one call) and run_decision: runner.hpp.
// - Program and Instruction (what a policy was parsed into), canonical_text: instruction.hpp.
// - ParseError, parse_error_text, line_column: parser.hpp. Each keyword's form and meaning, as
//   editors show them: keywords.hpp. The one layout of policy text: format.hpp.
// - Diagnostic (errors located and worded for people, with text, JSON and SARIF forms):
//   diagnostics.hpp; check_policies (warnings found without running): checker.hpp; Trace (each
//   step of a run explained, through RunOptions::trace): trace.hpp.
// - The limits (script text, executed-command text, default fuel): limits.hpp.
// - The state memory (kDefaultSigns, encode, residual, ...): tarn/memory/state_memory.hpp.
//
// Link with the CMake target tarn::lang (find_package(Tarn)). The policy language itself is
// described in docs/language.md; examples/consumer is a complete host program.
#pragma once

#include "tarn/lang/checker.hpp"
#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/file_access.hpp"
#include "tarn/lang/format.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/keywords.hpp"
#include "tarn/lang/limits.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/policy.hpp"
#include "tarn/lang/result.hpp"
#include "tarn/lang/run_state.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/lang/trace.hpp"
#include "tarn/memory/state_memory.hpp"
