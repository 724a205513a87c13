// The keywords' help: see keywords.hpp. The parser's own table (statement_forms.cpp) stays apart,
// small and fast; a test keeps the two lists equal.
#include "tarn/lang/keywords.hpp"

#include <array>
#include <span>
#include <string_view>

namespace tarn::lang {
namespace {

constexpr std::array<KeywordHelp, 27> kKeywordHelp{{
    {"harmony", "harmony(tolerance)", "harmony(${1:tolerance})",
     "Sets the tolerance to the number and checks the memory against it now. Never stops the "
     "run."},
    {"require_equilibrium", "require_equilibrium(tolerance)", "require_equilibrium(${1:tolerance})",
     "Exactly the same as harmony: sets the tolerance and checks the memory against it. Despite "
     "its name it does not stop a run that is out of equilibrium; the end of the run decides."},
    {"evolve", "evolve(position)", "evolve(${1:position})",
     "Heals the position from the others, records it as healed and costs 10 units of fuel on "
     "top of the usual one."},
    {"data", "data(number)", "data(${1:0})",
     "Reveals the payload from the first four positions and keeps it as the run's revealed "
     "value. The number is ignored. Needs four signs and four values."},
    {"corrupt", "corrupt(position)", "corrupt(${1:position})",
     "Sets the value at the position to 0 and checks the memory against the tolerance. The "
     "verifier refuses any script that contains the letters \"corrupt\", so this statement is "
     "for tarn run and embedding programs only."},
    {"residual", "residual([number])", "residual()",
     "Appends the current residual to the run's residual log. The number is ignored."},
    {"report", "report([number])", "report()",
     "Asks for a report at the end of the run. The optional number is read and dropped."},
    {"report_compact", "report_compact([number])", "report_compact()",
     "The same as report (there is one text form)."},
    {"report_verbose", "report_verbose([number])", "report_verbose()", "The same as report."},
    {"report_to", "report_to(\"path\")", "report_to(\"${1:path}\")",
     "Names the file the report is written to, replacing an earlier one. Has no effect unless a "
     "report is asked for."},
    {"report_json", "report_json([number])", "report_json()",
     "Asks for a report in the JSON form; used only when lineage is tracked at the end of the "
     "run, otherwise the text form is written."},
    {"log_level", "log_level(number)", "log_level(${1:level})",
     "Has no effect (there is no logging); the number saturates to 0..255."},
    {"if_broken", "if_broken { ... }", "if_broken {\n\t$0\n}",
     "Runs the block when the memory is out of equilibrium by the current tolerance, tested once "
     "when the statement starts."},
    {"budget_limit", "budget_limit(number)", "budget_limit(${1:limit})",
     "Records the number in the run result; nothing consults it."},
    {"time_window", "time_window(number)", "time_window(${1:window})",
     "Records the number, as a whole number, in the run result; nothing consults it."},
    {"volatility_limit", "volatility_limit(number)", "volatility_limit(${1:limit})",
     "Records the number in the run result; nothing consults it."},
    {"max_exposure", "max_exposure(number)", "max_exposure(${1:limit})",
     "Records the number in the run result; nothing consults it."},
    {"assert_bounds", "assert_bounds(min, max, position) or assert_bounds(min, max, \"name\")",
     "assert_bounds(${1:min}, ${2:max}, \"${3:name}\")",
     "Fails the run unless min <= value <= max at the position, or at the position the alias "
     "name stands for (a string third argument). Both bounds are inclusive; a NaN value passes; "
     "an alias that does not exist fails the run."},
    {"link_identity", "link_identity(\"identity\")", "link_identity(\"${1:identity}\")",
     "Records the identity that owns the run; it appears in the lineage and the JSON report."},
    {"track_lineage", "track_lineage(true)", "track_lineage(${1:true})",
     "Switches lineage tracking on or off; only the last value counts."},
    {"bind", "bind(\"key\", position)", "bind(\"${1:key}\", ${2:position})",
     "Sets the value at the position to the number held by member key of the context document. "
     "Fails when there is no context, or when the context has no such member holding a number."},
    {"alias", "alias(position, \"name\")", "alias(${1:position}, \"${2:name}\")",
     "Gives the position a name, replacing an earlier alias of that name. Names are "
     "case-sensitive; the position is not checked here."},
    {"bind_all", "bind_all()", "bind_all()",
     "For each member of the context whose name is an alias and whose value is a number, in "
     "name order, sets the aliased position to it; skips every other member. Takes exactly ()."},
    {"if_greater_than", "if_greater_than(\"name\", threshold) { ... }",
     "if_greater_than(\"${1:name}\", ${2:threshold}) {\n\t$0\n}",
     "Runs the block when the value at the aliased position is strictly greater than the number "
     "(never for NaN). The alias must exist, even when the block is empty."},
    {"escalate", "escalate(\"reason\")", "escalate(\"${1:reason}\")",
     "Records the reason, replacing an earlier one. The run goes on; its decision will be "
     "ESCALATE."},
    {"import", "import(\"path\")", "import(\"${1:path}\")",
     "Reads, parses and runs another script file here, as if its statements stood in place of "
     "the import. The path is relative to the working directory, not to the importing script; "
     "the memory, settings, aliases and fuel are shared."},
    {"generate_zk_proof", "generate_zk_proof(true)", "generate_zk_proof(${1:true})",
     "With true records the proof text zk:disabled_rebuild_with_--features_zk; with false "
     "removes it."},
}};

}  // namespace

std::span<const KeywordHelp> keyword_help() { return kKeywordHelp; }

const KeywordHelp* find_keyword_help(std::string_view keyword) {
  for (const KeywordHelp& help : kKeywordHelp) {
    if (help.keyword == keyword) return &help;
  }
  return nullptr;
}

}  // namespace tarn::lang
