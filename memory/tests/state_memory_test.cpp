// State memory: results pinned bit for bit, since outputs print residuals as bit patterns.
#include "tarn/memory/state_memory.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tarn::memory {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

TEST(StateMemory, EncodePinned) {
  struct Case {
    double payload;
    std::array<std::uint64_t, 4> values;
  };
  const Case cases[] = {
      {0.0, {0x4059400000000000, 0x4059400000000000, 0x4058c00000000000, 0x4058c00000000000}},
      // [125.87469806587123, 101.0, 99.0, 74.12530193412877]
      {1337.0, {0x405f77fb0d98b2a6, 0x4059400000000000, 0x4058c00000000000, 0x40528804f2674d5a}},
      // s is exactly 100: [200.0, 101.0, 99.0, 0.0]
      {19998.0, {0x4069000000000000, 0x4059400000000000, 0x4058c00000000000, 0x0000000000000000}},
      // The largest payload the driver accepts makes values[3] negative.
      {999998.0, {0x408938dab0184066, 0x4059400000000000, 0x4058c00000000000, 0xc082f8dab0184066}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    const auto values = encode(c.payload);
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(bits(values[i]), c.values[i]) << "position " << i;
    }
  }
  const auto nan_values = encode(kNaN);
  EXPECT_TRUE(std::isnan(nan_values[0]));
  EXPECT_EQ(nan_values[1], 101.0);
  EXPECT_EQ(nan_values[2], 99.0);
  EXPECT_TRUE(std::isnan(nan_values[3]));
}

TEST(StateMemory, ResidualAndRevealOfEncodedMemory) {
  struct Case {
    double payload;
    std::uint64_t residual;
    std::uint64_t revealed;
  };
  const Case cases[] = {
      {0.0, 0x0000000000000000, 0x0000000000000000},
      {1337.0, 0x0000000000000000, 0x4094e40000000008},  // 1337.0000000000018
      {19998.0, 0x0000000000000000, 0x40d3878000000000},
      {0.5, 0x0000000000000000, 0x3fe0000000000000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    const auto values = encode(c.payload);
    EXPECT_EQ(bits(residual(kDefaultSigns, values)), c.residual);
    EXPECT_EQ(bits(reveal(kDefaultSigns, values)), c.revealed);
    EXPECT_TRUE(in_equilibrium(kDefaultSigns, values, 1e-12));
  }
}

TEST(StateMemory, CorruptEachPosition) {
  struct Case {
    double payload;
    std::uint64_t index;
    std::uint64_t residual;
    bool in_equilibrium;  // at the driver's tolerance 1e-4
  };
  const Case cases[] = {
      {1337.0, 0, 0xc05f77fb0d98b2a6, false},  // -125.87469806587123
      {1337.0, 1, 0x4059400000000000, false},  // 101.0
      {1337.0, 2, 0x4058c00000000000, false},  // 99.0
      {1337.0, 3, 0xc0528804f2674d5a, false},  // -74.12530193412877
      {19998.0, 3, 0x0000000000000000, true},  // values[3] was already 0.0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.payload << " at " << c.index);
    auto values = encode(c.payload);
    const auto before = values;
    corrupt(values, c.index);
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(bits(values[i]), i == c.index ? 0U : bits(before[i])) << "position " << i;
    }
    EXPECT_EQ(bits(residual(kDefaultSigns, values)), c.residual);
    EXPECT_EQ(in_equilibrium(kDefaultSigns, values, 1e-4), c.in_equilibrium);
  }
}

TEST(StateMemory, CorruptOutsideTheValuesWritesNothing) {
  std::array<double, 4> values{1.0, 2.0, 3.0, 4.0};
  corrupt(std::span<double>(values).first(2), 2);
  corrupt(values, std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(values, (std::array<double, 4>{1.0, 2.0, 3.0, 4.0}));
}

// The starting zero and the order of the additions show in the last bit.
TEST(StateMemory, ResidualSummationOrder) {
  struct Case {
    std::string name;
    std::vector<std::int8_t> signs;
    std::vector<double> values;
    std::uint64_t residual;
  };
  const Case cases[] = {
      {"empty", {}, {}, 0x8000000000000000},
      {"no signs", {}, {1.0, 2.0}, 0x8000000000000000},
      {"no values", {1, -1}, {}, 0x8000000000000000},
      {"negative zero kept", {1}, {-0.0}, 0x8000000000000000},
      {"zeros cancel to +0", {1, -1}, {0.0, 0.0}, 0x0000000000000000},
      // 0.1 + 0.2 + 0.3 == 0.6000000000000001, but 0.3 + 0.2 + 0.1 == 0.6.
      {"index order", {1, 1, 1}, {0.1, 0.2, 0.3}, 0x3fe3333333333334},
      {"fifth value ignored", {1, -1, -1, 1}, {1.0, 2.0, 3.0, 4.0, 1e300}, 0x0000000000000000},
      {"fifth sign ignored", {1, -1, -1, 1, 100}, {1.0, 2.0, 3.0, 4.0}, 0x0000000000000000},
      {"any weight", {3, -7, 127, -128}, {0.1, 0.2, 0.3, 0.7}, 0xc04a4ccccccccccc},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(bits(residual(c.signs, c.values)), c.residual);
  }
}

TEST(StateMemory, RevealOrderAndStart) {
  struct Case {
    std::string name;
    std::vector<std::int8_t> signs;
    std::vector<double> values;
    std::uint64_t revealed;
  };
  const Case cases[] = {
      // (3 * 0.3) * 0.3 == 0.26999999999999996, but 3 * (0.3 * 0.3) == 0.27.
      {"sign times value first", {3, 0, 0, 0}, {0.3, 0.0, 0.0, 0.0}, 0x3fd147ae147ae147},
      // Every term is -0.0; only the +0.0 start keeps the sum positive.
      {"starts from +0", {-1, -1, -1, -1}, {0.0, 0.0, 0.0, 0.0}, 0x0000000000000000},
      {"fifth pair ignored", {1, 1, 1, 1, 1}, {1.0, 1.0, 1.0, 1.0, 5.0}, 0x4010000000000000},
      {"too few pairs", {1, -1, -1}, {1.0, 2.0, 3.0, 4.0}, bits(kNaN)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(bits(reveal(c.signs, c.values)), c.revealed);
  }
}

TEST(StateMemory, EquilibriumIsStrict) {
  struct Case {
    std::string name;
    std::vector<double> values;  // under the default signs
    double tolerance;
    bool expected;
  };
  const Case cases[] = {
      {"residual 0.5 below tolerance", {1.5, 1.0, 0.0, 0.0}, 0.75, true},
      {"tolerance equal to |residual|", {1.5, 1.0, 0.0, 0.0}, 0.5, false},
      {"negative residual equal", {0.0, 0.5, 0.0, 0.0}, 0.5, false},
      {"negative residual below", {0.0, 0.5, 0.0, 0.0}, 0.5000000000000001, true},
      {"NaN tolerance", {1.0, 1.0, 0.0, 0.0}, kNaN, false},
      {"NaN residual", {kNaN, 1.0, 0.0, 0.0}, 1e300, false},
      {"infinite residual", {kInf, 1.0, 0.0, 0.0}, kInf, false},
      {"empty, positive tolerance", {}, 1e-300, true},
      {"empty, zero tolerance", {}, 0.0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(in_equilibrium(kDefaultSigns, c.values, c.tolerance), c.expected);
  }
}

}  // namespace
}  // namespace tarn::memory
