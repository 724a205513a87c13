// The evolution step: recompute one position of the state memory from all the others so that the
// weighted sum becomes zero again. One heal of a corrupted position restores an encoded memory.
#pragma once

#include <cstdint>

#include "tarn/memory/state_memory.hpp"

namespace tarn::evolution {

/// True when heal's preconditions hold: index < |values|, index < |signs|, |signs| >= |values|.
bool can_heal(memory::Signs signs, memory::Values values, std::uint64_t index);

/// values[index] = (-sum) / signs[index], where sum starts at +0.0 and adds sign[j] * values[j]
/// for every other position j in increasing order (values as they were before the heal).
/// A zero weight gives an infinity or NaN by IEEE rules. Precondition: can_heal(...); when it
/// does not hold nothing is changed.
/// **Example**: signs [1,-1,-1,1], values [125.87469806587123, 0, 99, 74.12530193412877], heal(1)
/// sets values[1] to 101.0.
void heal(memory::Signs signs, memory::MutableValues values, std::uint64_t index);

}  // namespace tarn::evolution
