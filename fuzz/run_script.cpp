// Fuzz target: run_script on arbitrary script text over a small memory, a small fuel limit and an
// optional small JSON context.
//
// Input layout: byte 0 picks the memory size (0-7 values) and whether a context is given; the
// next bytes seed the values; the rest is the script. The script is parsed first to see which
// paths it names: any import or report target outside the scratch directory skips the input, so
// the fuzzer never reads devices or overwrites anything, and a run that wrote a report file gets
// a fresh scratch directory so that the next input sees the same files.
//
// Oracle: the fuel limit holds (one Evolve may pass it by its extra ten units), every recorded
// command was paid for, a report target is kept only with a report, and errors have a text.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "oracle.hpp"
#include "scratch.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/lang/source_file.hpp"

namespace {

constexpr std::uint64_t kFuelLimit = 2000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarn::fuzz::require;
  if (size < 1) return 0;
  tarn::fuzz::enter_scratch_directory();
  const std::uint8_t shape = data[0];
  const std::size_t count = shape & 7u;
  const bool with_context = (shape & 8u) != 0;
  std::size_t at = 1;

  std::vector<double> values;
  std::vector<std::int8_t> signs;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t seed = at < size ? data[at++] : 0;
    values.push_back(static_cast<double>(seed) - 100.0);
    signs.push_back(static_cast<std::int8_t>((i % 4 == 1 || i % 4 == 2) ? -1 : 1));
  }
  const std::string_view script(reinterpret_cast<const char*>(data + at), size - at);
  if (!tarn::lang::is_valid_utf8(script)) return 0;  // callers guarantee UTF-8

  bool writes = false;
  if (const auto parsed = tarn::lang::parse_program(script)) {
    const tarn::fuzz::PathsNamed named = tarn::fuzz::paths_named(*parsed);
    if (!named.inside) return 0;
    writes = named.writes;
  }

  const nlohmann::json context = {{"a", 5}, {"b", "7"}, {"c", -2.5}, {"d", 18446744073709551615u}};
  auto result =
      tarn::lang::run_script(signs, values, with_context ? &context : nullptr, script, kFuelLimit);
  if (writes) tarn::fuzz::reset_scratch();
  if (result) {
    require(result->fuel_used <= kFuelLimit + 10, "fuel used beyond the limit and one Evolve");
    require(result->executed_commands.size() <= result->fuel_used,
            "more commands recorded than fuel charged");
    require(!result->report_path || result->report_text, "a report path without a report");
    require(result->lineage.has_value() == result->replay_hash.has_value(),
            "lineage and replay hash disagree");
  } else {
    require(!result.error().message.empty(), "empty run error");
  }
  return 0;
}
