// policy-gate: a host program that embeds the tarn policy engine.
//
// The host compiles its policy once, then decides many requests with it: each request brings its
// own inflow figure, which the policy binds into the host's state memory. Two worker threads
// share the one compiled policy. The policy may import files from one folder (the program's
// argument) and from nowhere else. A run that fails tells the host what went wrong through a
// code, so the host switches on the code, never on the message.
#include <array>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tarn/tarn.hpp"

namespace {

// The inflow position lost its value; the policy takes the current figure from the request
// (inflow.tarn in the policy folder binds it and refuses an inflow above 500) and reports only
// when the memory is back in balance with a credible inflow.
constexpr std::string_view kPolicy = R"(// rebuild the inflow from the host's figures
import("inflow.tarn")
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

// One request: the memory as the host keeps it, with the inflow position lost.
std::string decide(const tarn::lang::Policy& policy, const tarn::lang::FileAccess& folder,
                   int inflow) {
  std::array<double, 4> values = tarn::memory::encode(1337.0);
  values[1] = 0.0;
  const nlohmann::json request = {{"inflow", inflow}, {"region", "north"}};
  const auto run = tarn::lang::evaluate(policy, {tarn::memory::kDefaultSigns, values}, &request,
                                        {.files = &folder});
  std::string line = "inflow " + std::to_string(inflow) + ": ";
  if (run) {
    return line + std::string(tarn::lang::run_decision(*run)) + ", residual " +
           shortest(run->residual) + ", report " + run->report_text.value_or("(none)");
  }
  const tarn::lang::RunError& error = run.error();
  switch (error.code) {
    case tarn::lang::RunErrorCode::BoundsAssertion:
      return line + "refused at " + error.location->file + ":" +
             std::to_string(error.location->line) + ": " + error.message;
    case tarn::lang::RunErrorCode::OutOfFuel:
      return line + "the policy needs more fuel";
    default:
      return line + "run error: " + error.message;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("package: tarn %s\n", TARN_PACKAGE_VERSION);
  const auto folder = tarn::lang::ConfinedFiles::open(argc > 1 ? argv[1] : "policies");
  if (!folder) {
    std::printf("cannot open the policy folder: %s\n", folder.error().reason.c_str());
    return 1;
  }

  const auto policy = tarn::lang::compile(kPolicy, "inflow.tarn");
  if (!policy) {
    std::printf("parse error: %s\n", tarn::lang::parse_error_text(policy.error()).c_str());
    return 1;
  }
  std::printf("policy: %zu statements\n", policy->program().size());
  for (const auto& statement : policy->program()) {
    std::printf("  %s\n", tarn::lang::canonical_text(statement).c_str());
  }

  // Two workers decide the requests, each its own half, both with the one compiled policy.
  const std::vector<int> inflows = {101, 80, 640, 99, 101, 250};
  std::vector<std::string> decisions(inflows.size());
  std::vector<std::thread> workers;
  for (std::size_t worker = 0; worker < 2; ++worker) {
    workers.emplace_back([&, worker] {
      for (std::size_t i = worker; i < inflows.size(); i += 2) {
        decisions[i] = decide(*policy, *folder, inflows[i]);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (const std::string& decision : decisions) std::printf("%s\n", decision.c_str());

  // Nothing outside the folder can be reached, whatever a policy names.
  const auto reaching_out = tarn::lang::compile(R"(import("../main.cpp"))", "out.tarn");
  std::array<double, 4> values = tarn::memory::encode(1337.0);
  const auto run = tarn::lang::evaluate(*reaching_out, {tarn::memory::kDefaultSigns, values},
                                        nullptr, {.files = &*folder});
  std::printf("reaching out: %s\n", run ? "allowed" : run.error().message.c_str());
  return 0;
}
