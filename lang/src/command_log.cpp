// The command log's rendering side. Recording is a pointer push (run_state.hpp); texts are made
// only here, when a lineage or a tool asks for them, and their total length is known beforehand
// from the instructions' memoised lengths, so a caller can refuse a huge record before building it.
#include <cstdint>
#include <string>
#include <vector>

#include "tarn/lang/run_state.hpp"

namespace tarn::lang {

std::uint64_t CommandLog::total_text_length() const {
  // Saturates instead of wrapping: a caller compares the total with a limit.
  constexpr std::uint64_t kMax = ~std::uint64_t{0};
  std::uint64_t total = 0;
  for (const Instruction* entry : entries_) {
    const std::uint64_t length = canonical_text_length(*entry);
    total = length > kMax - total ? kMax : total + length;
  }
  return total;
}

std::vector<std::string> CommandLog::texts() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const Instruction* entry : entries_) out.push_back(canonical_text(*entry));
  return out;
}

}  // namespace tarn::lang
