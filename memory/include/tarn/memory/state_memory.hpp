// The state memory: a non-negative number hidden in a vector of doubles weighted by signs, so that
// the weighted sum (the residual) is zero and a quadratic weighted sum gives the number back.
//
// Free functions over borrowed spans; the memory has no object of its own. Every sum is plain
// IEEE-754 arithmetic in index order: outputs show residuals to the last bit and as bit patterns,
// so the order and the starting zeros below are part of the contract (build with
// -ffp-contract=off so that no multiply-add is fused).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tarn::memory {

using Signs = std::span<const std::int8_t>;
using Values = std::span<const double>;
using MutableValues = std::span<double>;

/// The verifier's weights: +1, -1, -1, +1.
inline constexpr std::array<std::int8_t, 4> kDefaultSigns{1, -1, -1, 1};

/// values = [100 + s, 101, 99, 100 - s] with s = sqrt(b * 0.5 + 1).
/// **Example**: encode(1337) -> [125.87469806587123, 101.0, 99.0, 74.12530193412877].
std::array<double, 4> encode(double payload);

/// Signed weighted sum over min(|signs|, |values|) pairs, from -0.0 in index order.
/// **Example**: residual of empty spans is -0.0.
double residual(Signs signs, Values values);

/// tolerance > |residual| (strict; false for a NaN residual or tolerance).
bool in_equilibrium(Signs signs, Values values, double tolerance);

/// Quadratic weighted sum over the first four pairs, from +0.0: acc += (sign * v) * v.
/// Precondition: at least four signs and four values (callers check; see has_four_pairs).
/// A slip gives NaN rather than a read past the end.
double reveal(Signs signs, Values values);

/// True when reveal's precondition holds.
inline bool has_four_pairs(Signs signs, Values values) {
  return signs.size() >= 4 && values.size() >= 4;
}

/// values[index] = +0.0. Precondition: index < values.size(); an index out of range writes nothing.
void corrupt(MutableValues values, std::uint64_t index);

}  // namespace tarn::memory
