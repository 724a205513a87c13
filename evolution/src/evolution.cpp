// The evolution step: heal one position from all the others.
//
// The new value is (-sum) / sign[index], where sum runs over the other positions in increasing
// order from +0.0. Summing in place, skipping the healed position, adds exactly the same terms in
// the same order as collecting the neighbours into a list first, so the result is bit-identical
// without the allocation.
#include "tarn/evolution/evolution.hpp"

#include <cstddef>

namespace tarn::evolution {

bool can_heal(memory::Signs signs, memory::Values values, std::uint64_t index) {
  return index < values.size() && index < signs.size() && signs.size() >= values.size();
}

void heal(memory::Signs signs, memory::MutableValues values, std::uint64_t index) {
  // Callers check can_heal; a violated precondition changes nothing instead of reading or
  // writing outside the spans.
  if (!can_heal(signs, values, index)) {
    return;
  }
  const auto healed = static_cast<std::size_t>(index);
  // +0.0, unlike residual's -0.0: a memory with no other position heals to (-(+0.0)) / sign, which
  // is -0.0 for the weight +1 and +0.0 for -1.
  double sum = 0.0;
  // Increasing position order over the values as they were: the healed position is skipped, so
  // its old value never enters the sum.
  for (std::size_t j = 0; j < values.size(); ++j) {
    if (j != healed) {
      sum = sum + static_cast<double>(signs[j]) * values[j];
    }
  }
  // Negate first, then divide: a zero weight gives an infinity against the sum's sign, or NaN.
  values[healed] = (-sum) / static_cast<double>(signs[healed]);
}

}  // namespace tarn::evolution
