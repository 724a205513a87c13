// Micro-benchmarks of the hot paths: number forms, the JSON writer, parsing (flat and deeply
// nested), canonical text, the interpreter, the lineage report, and one whole small decision
// (run_script on the decision workload of compare.sh, memory as the verifier builds it).
//
// Built with -DTARN_BUILD_BENCHMARKS=ON; never run as pass or fail. The whole-process workloads
// of compare.sh measure start-up, page faults and output as well; these isolate the code.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "tarn/json/number_text.hpp"
#include "tarn/json/writer.hpp"
#include "interpreter.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/number_syntax.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/policy.hpp"
#include "tarn/lang/run_state.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/memory/state_memory.hpp"

namespace {

constexpr std::string_view kDecision =
    "// one decision: the amount at position 0 must lie in [0, 200]\n"
    "alias(0, \"amount\")\n"
    "assert_bounds(0, 200, \"amount\")\n"
    "harmony(0.001)\n";

// The flat workload's cycle of statements, repeated to `count` lines.
std::string flat_script(std::size_t count) {
  static constexpr std::array<std::string_view, 8> cycle{
      "residual()", "report()", "harmony(0.001)", "data(0)", "alias(1, \"a\")",
      "assert_bounds(0, 200, 0)", "budget_limit(5)", "link_identity(\"x\")"};
  std::string script;
  for (std::size_t i = 0; i < count; ++i) {
    script += cycle[i % cycle.size()];
    script += '\n';
  }
  return script;
}

// One statement nested `depth` deep: if_broken { if_broken { ... report() ... } }.
std::string deep_script(std::size_t depth) {
  std::string script;
  for (std::size_t i = 0; i < depth; ++i) script += "if_broken { ";
  script += "report()";
  for (std::size_t i = 0; i < depth; ++i) script += " }";
  return script;
}

void BM_DisplayNumber(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    tarn::json::append_display_number(out, 1e-12);
    tarn::json::append_display_number(out, 200.0);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_DisplayNumber);

void BM_ScanNumber(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(tarn::lang::scan_number("0.001"));
    benchmark::DoNotOptimize(tarn::lang::scan_number("1.3370000000000018e3"));
  }
}
BENCHMARK(BM_ScanNumber);

void BM_JsonString(benchmark::State& state) {
  const std::string text = "AssertBoundsNamed(0.0, 200.0, \"amount\") and a longer plain tail";
  std::string out;
  for (auto _ : state) {
    out.clear();
    tarn::json::append_json_string(out, text);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_JsonString);

void BM_JsonNumber(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    tarn::json::append_json_number(out, 1337.0000000000018);
    tarn::json::append_json_number(out, -21.383029);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_JsonNumber);

void BM_CanonicalNumber(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    tarn::json::append_canonical_number(out, 0.001);
    tarn::json::append_canonical_number(out, 200.0);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_CanonicalNumber);

void BM_SixDecimal(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    tarn::json::append_six_decimal(out, -125.87469806587123);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_SixDecimal);

void BM_PrettyWriter(benchmark::State& state) {
  nlohmann::json document = nlohmann::json::object();
  auto& commands = document["executed_commands"] = nlohmann::json::array();
  for (int i = 0; i < 1000; ++i) commands.push_back("AssertBounds(0.0, 200.0, 0)");
  document["final_residual"] = 0.0;
  document["fuel_used"] = 1000;
  std::string out;
  for (auto _ : state) {
    out.clear();
    tarn::json::append_pretty(out, document);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(out.size()));
}
BENCHMARK(BM_PrettyWriter);

void BM_ParseFlat(benchmark::State& state) {
  const std::string script = flat_script(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto program = tarn::lang::parse_program(script);
    benchmark::DoNotOptimize(program.has_value());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(script.size()));
}
BENCHMARK(BM_ParseFlat)->Arg(1000)->Arg(100000);

void BM_ParseDeep(benchmark::State& state) {
  const std::string script = deep_script(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto program = tarn::lang::parse_program(script);
    benchmark::DoNotOptimize(program.has_value());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseDeep)->Arg(50000);

void BM_CanonicalText(benchmark::State& state) {
  auto program = tarn::lang::parse_program(flat_script(1000));
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (const auto& instruction : *program) tarn::lang::append_canonical_text(out, instruction);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 1000));
}
BENCHMARK(BM_CanonicalText);

void BM_ExecuteFlat(benchmark::State& state) {
  auto parsed = tarn::lang::parse_program(flat_script(1000));
  auto program = std::make_shared<const tarn::lang::Program>(std::move(*parsed));
  for (auto _ : state) {
    auto values = tarn::memory::encode(1337.0);
    tarn::lang::RunState run_state;
    tarn::lang::RunSettings settings;
    const tarn::lang::RunMemory memory{tarn::memory::kDefaultSigns, values};
    auto result = tarn::lang::execute(program, memory, tarn::lang::RunInputs{}, run_state, settings);
    benchmark::DoNotOptimize(result.has_value());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 1000));
}
BENCHMARK(BM_ExecuteFlat);

// The lineage and the pretty JSON report of the flat workload: the record rendered straight
// into the report text (the lineage workload of compare.sh, without the file write).
void BM_LineageReport(benchmark::State& state) {
  const std::string script = flat_script(static_cast<std::size_t>(state.range(0))) +
                             "track_lineage(true)\nreport_json()\n";
  for (auto _ : state) {
    auto values = tarn::memory::encode(1337.0);
    auto result = tarn::lang::run_script(tarn::memory::kDefaultSigns, values, nullptr, script,
                                         1000000);
    benchmark::DoNotOptimize(result->report_text->data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LineageReport)->Arg(10000);

// One whole decision as the verifier makes it: parse, run and finish, memory as the driver
// builds it (the default payload 1337 encoded, default signs, the verifier's fuel). The script is
// compare.sh's decision workload byte for byte. Goal: at most 2.2 us per decision.
void BM_RunScriptDecision(benchmark::State& state) {
  for (auto _ : state) {
    auto values = tarn::memory::encode(1337.0);
    auto result = tarn::lang::run_script(tarn::memory::kDefaultSigns, values, nullptr, kDecision, 100000);
    benchmark::DoNotOptimize(result.has_value());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RunScriptDecision)->Unit(benchmark::kMicrosecond);

// The same decision by a policy compiled once, as a host evaluates it many times; with two
// threads, both evaluate the one shared policy (each over its own memory). Goals: at most 0.4 us
// per decision, and with two threads at least 1.8 times the decisions per second of one.
void BM_EvaluateDecision(benchmark::State& state) {
  static const tarn::lang::Policy policy = *tarn::lang::compile(kDecision, "d1_decision.tarn");
  for (auto _ : state) {
    auto values = tarn::memory::encode(1337.0);
    auto result = tarn::lang::evaluate(policy, {tarn::memory::kDefaultSigns, values}, nullptr);
    benchmark::DoNotOptimize(result.has_value());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvaluateDecision)->Unit(benchmark::kMicrosecond)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
