// The command log's rendering side. Recording is a pointer push (run_state.hpp); texts are made
// only here, when a lineage or a tool asks for them, and their total length is known beforehand
// from the instructions' memoised lengths, so a caller can refuse a huge record before building it.
#include <cstdint>
#include <string>
#include <vector>

#include "tarn/lang/run_state.hpp"

namespace tarn::lang {

namespace {

// The sum of `length(entry)` over the entries, saturating instead of wrapping: callers compare
// it with a limit.
template <class Length>
std::uint64_t saturating_sum(const std::vector<const Instruction*>& entries, Length length) {
  constexpr std::uint64_t kMax = ~std::uint64_t{0};
  std::uint64_t total = 0;
  for (const Instruction* entry : entries) {
    const std::uint64_t next = length(*entry);
    total = next > kMax - total ? kMax : total + next;
  }
  return total;
}

}  // namespace

std::uint64_t CommandLog::total_text_length() const {
  return saturating_sum(entries_, [](const Instruction& entry) {
    return canonical_text_length(entry);
  });
}

std::uint64_t CommandLog::text_length_bound() const {
  return saturating_sum(entries_, [](const Instruction& entry) {
    return canonical_text_length_bound(entry);
  });
}

bool CommandLog::text_length_exceeds(std::uint64_t limit, std::uint64_t bound) const {
  // The bound first: a record far below the limit, the usual case, is settled without converting
  // a single number to its shortest digits. Only a bound past the limit asks for the exact total.
  return bound > limit && total_text_length() > limit;
}

void CommandLog::append_json_text(std::string& out, std::size_t i) const {
  append_canonical_json_string(out, *entries_[i]);
}

std::vector<std::string> CommandLog::texts() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const Instruction* entry : entries_) out.push_back(canonical_text(*entry));
  return out;
}

}  // namespace tarn::lang
