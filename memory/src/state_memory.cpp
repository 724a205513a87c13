// The state memory operations.
//
// Each loop below is written out in index order on purpose: residuals are printed to the last bit
// and as bit patterns, so the order of the additions, the zero each sum starts from and the order
// of the multiplications are all observable. The build disables multiply-add contraction for the
// same reason. The loops are short (four pairs in practice) and allocate nothing.
#include "tarn/memory/state_memory.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarn::memory {

std::array<double, 4> encode(double payload) {
  // s * s == payload * 0.5 + 1, so with the weights +1, -1, -1, +1 the linear sum cancels and the
  // quadratic sum is 2 * s * s - 2 == payload (up to rounding). std::sqrt is correctly rounded.
  const double s = std::sqrt(payload * 0.5 + 1.0);
  return {100.0 + s, 101.0, 99.0, 100.0 - s};
}

double residual(Signs signs, Values values) {
  const std::size_t n = std::min(signs.size(), values.size());
  // Starts from -0.0, the additive identity that keeps a sum of negative zeros negative: an empty
  // memory has residual -0.0 (bit pattern 0x8000000000000000), which outputs show as such.
  double acc = -0.0;
  // Index order, one rounding per addition: reordering would change the last bit of residuals.
  for (std::size_t i = 0; i < n; ++i) {
    acc = acc + static_cast<double>(signs[i]) * values[i];
  }
  return acc;
}

bool in_equilibrium(Signs signs, Values values, double tolerance) {
  // Strict, and written so that a NaN residual or tolerance compares false.
  return tolerance > std::fabs(residual(signs, values));
}

double reveal(Signs signs, Values values) {
  // Callers check has_four_pairs first; a violated precondition reads nothing outside the spans
  // and yields NaN, which no caller can mistake for a revealed number.
  if (!has_four_pairs(signs, values)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  // Starts from +0.0, unlike residual: the revealed number of an all-zero memory is +0.0.
  double acc = 0.0;
  // The first four pairs only, in index order; (sign * v) * v, not sign * (v * v): the sign is
  // exact either way for +-1, but other weights would round differently.
  for (std::size_t i = 0; i < 4; ++i) {
    acc = acc + (static_cast<double>(signs[i]) * values[i]) * values[i];
  }
  return acc;
}

void corrupt(MutableValues values, std::uint64_t index) {
  // Callers check the index; an index outside the values writes nothing rather than elsewhere.
  if (index < values.size()) {
    values[static_cast<std::size_t>(index)] = 0.0;
  }
}

}  // namespace tarn::memory
