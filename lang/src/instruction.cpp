// The storage behind a tree's bodies, and the saturating number conversions.
#include "tarn/lang/instruction.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

#include "huge_pages.hpp"
#include "program_storage.hpp"

namespace tarn::lang {
namespace detail {
namespace {

// Blocks grow geometrically so that a script with many bodies takes few of them; a parse sizes
// the first one from the length of its text, which usually makes it the only one.
constexpr std::size_t kSmallestBlock = 64;

}  // namespace

Instruction* BodyStorage::store_in_new_block(std::span<Instruction> instructions) {
  const std::size_t count = instructions.size();
  const std::size_t grown =
      blocks_.empty() ? std::max(expected_, kSmallestBlock) : 2 * blocks_.back().capacity;
  const std::size_t capacity = huge_page_capacity<Instruction>(std::max(grown, count));
  blocks_.reserve(blocks_.size() + 1);  // so that the push below cannot throw and leak
  Instruction* data = HugePageAllocator<Instruction>().allocate(capacity);
  std::uninitialized_move(instructions.begin(), instructions.end(), data);
  blocks_.push_back(Block{data, count, capacity});
  return data;
}

BodyStorage::~BodyStorage() {
  for (const Block& block : blocks_) {
    std::destroy_n(block.data, block.used);
    HugePageAllocator<Instruction>().deallocate(block.data, block.capacity);
  }
}

}  // namespace detail

std::size_t Body::size() const noexcept { return record_ != nullptr ? record_->size : 0; }
const Instruction* Body::begin() const noexcept {
  return record_ != nullptr ? record_->data : nullptr;
}
SourceSpan Body::span(std::size_t i) const {
  return record_->spans != nullptr ? record_->spans[i] : SourceSpan{};
}

Program::Program() noexcept = default;
Program::Program(Program&& other) noexcept
    : storage_(std::move(other.storage_)),
      data_(std::exchange(other.data_, nullptr)),
      spans_(std::exchange(other.spans_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}
Program& Program::operator=(Program&& other) noexcept {
  if (this != &other) {
    storage_ = std::move(other.storage_);
    data_ = std::exchange(other.data_, nullptr);
    spans_ = std::exchange(other.spans_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}
Program::~Program() = default;

Program::Program(std::unique_ptr<detail::ProgramStorage> storage) noexcept
    : storage_(std::move(storage)),
      data_(storage_->instructions.data()),
      spans_(storage_->spans.empty() ? nullptr : storage_->spans.data()),
      size_(storage_->instructions.size()) {}

const Body* body_of(const Instruction& instruction) noexcept {
  if (const auto* branch = std::get_if<Branch>(&instruction)) return &branch->body;
  if (const auto* test = std::get_if<IfGreaterThan>(&instruction)) return &test->body();
  return nullptr;
}

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
