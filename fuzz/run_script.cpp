// Fuzz target: run_script on arbitrary script text over a small memory, a small fuel limit and an
// optional small JSON context.
//
// Input layout: byte 0 picks the memory size (0-7 values) and whether a context is given; the
// next bytes seed the values; the rest is the script. Scripts that could touch files outside the
// scratch directory (import or report_to with a path separator or "..") are skipped, so the
// fuzzer never reads devices or overwrites anything.
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "oracle.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/lang/source_file.hpp"

namespace {

bool touches_outside(std::string_view script) {
  const bool names_files = script.find("import") != std::string_view::npos ||
                           script.find("report_to") != std::string_view::npos;
  return names_files && (script.find('/') != std::string_view::npos ||
                         script.find('\\') != std::string_view::npos ||
                         script.find("..") != std::string_view::npos);
}

void enter_scratch_directory() {
  static const bool entered = [] {
    char pattern[] = "/tmp/tarn-fuzz-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    return dir != nullptr && ::chdir(dir) == 0;
  }();
  if (!entered) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarn::fuzz::require;
  if (size < 1) return 0;
  enter_scratch_directory();
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
  if (!tarn::lang::is_valid_utf8(script) || touches_outside(script)) return 0;

  const nlohmann::json context = {{"a", 5}, {"b", "7"}, {"c", -2.5}, {"d", 18446744073709551615u}};
  auto result = tarn::lang::run_script(signs, values, with_context ? &context : nullptr, script, 2000);
  if (result) {
    require(result->fuel_used <= 2000 + 10, "fuel used beyond the limit and one Evolve");
    require(result->executed_commands.size() <= 2000, "more commands recorded than fuel allows");
  } else {
    require(!result.error().message.empty(), "empty run error");
  }
  return 0;
}
