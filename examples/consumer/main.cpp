// policy-gate: the smallest useful embedding of the tarn policy engine.
//
// A host application keeps its own state memory and context document, parses a policy once to
// show what it will do, and runs it with run_script. The run changes the host's values in place;
// the host reads the decision and the report from the returned RunState. Everything a run can
// fail with arrives as a RunError value, never as an exception or a message on a stream.
#include <array>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tarn/lang/instruction.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/memory/state_memory.hpp"

namespace {

// The inflow position lost its value; the policy takes the current figure from the context and
// reports only when the memory is back in balance with a credible inflow.
constexpr std::string_view kPolicy = R"(// rebuild the inflow from the host's figures
alias(1, "inflow")
bind_all()
require_equilibrium(0.0001)
if_greater_than("inflow", 100) {
  report()
}
)";

std::string shortest(double x) {
  std::array<char, 32> buffer{};
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x);
  return error == std::errc{} ? std::string(buffer.data(), end) : std::string("?");
}

}  // namespace

int main() {
  std::printf("package: tarn %s\n", TARN_PACKAGE_VERSION);

  auto program = tarn::lang::parse_program(kPolicy);
  if (!program) {
    std::printf("Parse error: %s\n", tarn::lang::parse_error_text(program.error()).c_str());
    return 1;
  }
  std::printf("policy: %zu instructions\n", program->size());
  for (const auto& instruction : *program) {
    std::printf("  %s\n", tarn::lang::canonical_text(instruction).c_str());
  }

  std::array<double, 4> values = tarn::memory::encode(1337.0);
  values[1] = 0.0;
  const nlohmann::json context = {{"inflow", 101}, {"region", "north"}};

  auto run = tarn::lang::run_script(tarn::memory::kDefaultSigns, values, &context, kPolicy, 1000);
  if (!run) {
    std::printf("run error: %s\n", run.error().message.c_str());
    return 1;
  }
  std::printf("decision: %s\n", std::string(tarn::lang::run_decision(*run)).c_str());
  std::printf("pass: %s\n", run->pass ? "true" : "false");
  std::printf("residual: %s\n", shortest(run->residual).c_str());
  std::printf("fuel used: %llu\n", static_cast<unsigned long long>(run->fuel_used));
  std::printf("values:");
  for (double v : values) std::printf(" %s", shortest(v).c_str());
  std::printf("\nreport: %s\n", run->report_text.value_or("(none)").c_str());
  return 0;
}
