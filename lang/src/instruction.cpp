// The storage behind a tree's bodies, and the saturating number conversions.
#include "tarn/lang/instruction.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

#include "tarn/lang/huge_pages.hpp"

namespace tarn::lang {
namespace detail {
namespace {

// Blocks grow geometrically so that a script with many bodies takes few of them; a parse sizes
// the first one from the length of its text, which usually makes it the only one.
constexpr std::size_t kSmallestBlock = 64;

}  // namespace

BodyStorage& BodyStorage::operator=(BodyStorage&& other) noexcept {
  if (this != &other) {
    release();
    blocks_ = std::move(other.blocks_);
    other.blocks_.clear();
    expected_ = other.expected_;
  }
  return *this;
}

Instruction* BodyStorage::store_in_new_block(std::span<Instruction> instructions) {
  const std::size_t count = instructions.size();
  const std::size_t grown =
      blocks_.empty() ? std::max(expected_, kSmallestBlock) : 2 * blocks_.back().capacity;
  const std::size_t capacity = std::max(grown, count);
  blocks_.reserve(blocks_.size() + 1);  // so that the push below cannot throw and leak
  Instruction* data = HugePageAllocator<Instruction>().allocate(capacity);
  std::uninitialized_move(instructions.begin(), instructions.end(), data);
  blocks_.push_back(Block{data, count, capacity});
  return data;
}

void BodyStorage::release() noexcept {
  for (const Block& block : blocks_) {
    std::destroy_n(block.data, block.used);
    HugePageAllocator<Instruction>().deallocate(block.data, block.capacity);
  }
  blocks_.clear();
}

}  // namespace detail

std::uint64_t saturate_u64(double x) {
  if (!(x > 0.0)) return 0;  // NaN, negatives and both zeros
  // 2^64 is the first double that does not fit; every smaller one truncates exactly.
  if (x >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(x);
}

std::uint8_t saturate_u8(double x) {
  if (!(x >= 0.0)) return 0;  // NaN and negatives
  if (x > 255.0) return 255;
  return static_cast<std::uint8_t>(x);
}

}  // namespace tarn::lang
