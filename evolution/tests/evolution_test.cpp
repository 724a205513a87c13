// The evolution step: heal results pinned bit for bit, and its preconditions.
#include "tarn/evolution/evolution.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tarn::evolution {
namespace {

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

TEST(Evolution, HealRestoresEachCorruptedPosition) {
  const auto encoded = memory::encode(1337.0);
  for (std::uint64_t index = 0; index < 4; ++index) {
    SCOPED_TRACE(index);
    auto values = encoded;
    memory::corrupt(values, index);
    ASSERT_TRUE(can_heal(memory::kDefaultSigns, values, index));
    heal(memory::kDefaultSigns, values, index);
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(bits(values[i]), bits(encoded[i])) << "position " << i;
    }
    EXPECT_EQ(bits(memory::residual(memory::kDefaultSigns, values)), 0U);
    EXPECT_EQ(bits(memory::reveal(memory::kDefaultSigns, values)), 0x4094e40000000008U);
  }
}

TEST(Evolution, HealPinned) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    std::string name;
    std::vector<std::int8_t> signs;
    std::vector<double> values;
    std::uint64_t index;
    std::uint64_t healed;
  };
  const Case cases[] = {
      // sum = 125.87469806587123 - 99.0 + 74.12530193412877 = 101.0; -101.0 / -1 = 101.0.
      {"corrupted memory at 1", {1, -1, -1, 1}, {125.87469806587123, 0.0, 99.0, 74.12530193412877}, 1,
       0x4059400000000000},
      // The old value at the healed position never enters the sum.
      {"old value ignored", {1, -1, -1, 1}, {1e300, 101.0, 99.0, 74.12530193412877}, 0,
       0x405f77fb0d98b2a6},
      {"one position, +1", {1}, {42.0}, 0, 0x8000000000000000},
      {"one position, -1", {-1}, {42.0}, 0, 0x0000000000000000},
      // 0.1 + 0.2 + 0.3 in index order is 0.6000000000000001.
      {"index order", {1, 1, 1, 1}, {0.1, 0.2, 0.3, 9.0}, 3, 0xbfe3333333333334},
      {"zero weight, positive sum", {0, 1}, {7.0, 5.0}, 0, bits(-kInf)},
      {"zero weight, negative sum", {0, 1}, {7.0, -5.0}, 0, bits(kInf)},
      {"weight divides", {4, 1}, {7.0, 2.0}, 0, bits(-0.5)},
      {"more signs than values", {1, -1, 1}, {3.0, 0.0}, 1, bits(3.0)},
      {"infinite neighbour", {1, 1}, {kInf, 0.0}, 1, bits(-kInf)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto values = c.values;
    ASSERT_TRUE(can_heal(c.signs, values, c.index));
    heal(c.signs, values, c.index);
    EXPECT_EQ(bits(values[c.index]), c.healed);
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i != c.index) {
        EXPECT_EQ(bits(values[i]), bits(c.values[i])) << "neighbour " << i << " changed";
      }
    }
  }
}

TEST(Evolution, ZeroWeightAndZeroSumGiveNaN) {
  const std::vector<std::int8_t> signs{0, 1, -1};
  std::vector<double> values{7.0, 2.0, 2.0};
  heal(signs, values, 0);
  EXPECT_TRUE(std::isnan(values[0]));
}

TEST(Evolution, HealingAnUndamagedPositionKeepsIt) {
  auto values = memory::encode(1337.0);
  const auto before = values;
  for (std::uint64_t index = 0; index < 4; ++index) {
    heal(memory::kDefaultSigns, values, index);
  }
  EXPECT_EQ(values, before);
}

TEST(Evolution, Preconditions) {
  struct Case {
    std::string name;
    std::size_t signs;
    std::size_t values;
    std::uint64_t index;
    bool expected;
  };
  const Case cases[] = {
      {"last position", 4, 4, 3, true},
      {"index at the values' end", 4, 4, 4, false},
      {"huge index", 4, 4, std::numeric_limits<std::uint64_t>::max(), false},
      {"more signs than values", 5, 4, 3, true},
      {"index beyond the signs", 2, 4, 2, false},
      {"a position without a sign", 3, 4, 0, false},
      {"empty memory", 0, 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::int8_t> signs(c.signs, 1);
    std::vector<double> values(c.values, 1.0);
    EXPECT_EQ(can_heal(signs, values, c.index), c.expected);
    // A violated precondition must leave the memory untouched rather than step outside it.
    heal(signs, values, c.index);
    if (!c.expected) {
      EXPECT_EQ(values, std::vector<double>(c.values, 1.0));
    }
  }
}

}  // namespace
}  // namespace tarn::evolution
