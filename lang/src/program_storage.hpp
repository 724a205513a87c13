// Where a Program's tree lives: the top-level instructions, and every body of the tree in a few
// large blocks owned by the root.
//
// A body costs no allocation of its own and the tree is freed block by block instead of level by
// level, so no walk of the tree (teardown, canonical text, parsing) ever needs the call stack or a
// work list to reach the bottom of a million-deep nest. Each body has a record here, which a Body
// points to, holding where its statements are and, once measured, the length of its canonical
// text: the cache that keeps measuring a deep tree linear.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "huge_pages.hpp"
#include "tarn/lang/instruction.hpp"

namespace tarn::lang {
namespace detail {

inline constexpr std::uint64_t kUnknownLength = ~std::uint64_t{0};

struct BodyRecord {
  const Instruction* data = nullptr;
  const SourceSpan* spans = nullptr;  // where each statement stands (null: not recorded)
  std::size_t size = 0;
  // The length in bytes of this body's canonical text ("[...]"), once measured; see
  // canonical_text_length. A body never changes once made, so runs that share a program may race
  // to fill this in: they all write the same number.
  mutable std::atomic<std::uint64_t> text_length{kUnknownLength};
};

// Values in blocks of doubling size that never move once made: the bodies' records and the
// spans of their statements. Values are made as they are taken, so the unused end of a block is
// never touched; large blocks go on huge pages (see huge_pages.hpp). Both, with the first block
// sized by the parse's bound and the instruction blocks rounded to huge pages, took W4 (50,000
// nested bodies) from 941 page faults to 235 and from 3.8 ms to 2.5 ms (hyperfine, 300 runs).
template <class T>
class StableArena {
  static_assert(std::is_trivially_destructible_v<T>, "blocks are freed without a pass over them");

 public:
  StableArena() = default;
  StableArena(const StableArena&) = delete;
  StableArena& operator=(const StableArena&) = delete;
  ~StableArena() {
    for (const Block& block : blocks_) HugePageAllocator<T>().deallocate(block.data, block.capacity);
  }

  /// `count` consecutive default-made values that stay where they are.
  T* take(std::size_t count) {
    if (capacity_ - used_ < count) {
      capacity_ = huge_page_capacity<T>(std::max({kSmallestRun, 2 * capacity_, expected_, count}));
      blocks_.reserve(blocks_.size() + 1);  // so that the push below cannot throw and leak
      blocks_.push_back(Block{HugePageAllocator<T>().allocate(capacity_), capacity_});
      used_ = 0;
    }
    T* run = blocks_.back().data + used_;
    std::uninitialized_value_construct_n(run, count);
    used_ += count;
    return run;
  }
  /// The size of the first block, when none is taken yet.
  void expect(std::size_t count) { expected_ = count; }

 private:
  struct Block {
    T* data;
    std::size_t capacity;
  };
  static constexpr std::size_t kSmallestRun = 64;
  std::vector<Block> blocks_;
  std::size_t used_ = 0;      // in the last block
  std::size_t capacity_ = 0;  // of the last block
  std::size_t expected_ = 0;
};

// Blocks of instructions filled front to back that never move, each body contiguous within one
// block, and the bodies' records. The instructions are destroyed, in a flat pass over each block,
// when the storage is.
class BodyStorage {
 public:
  BodyStorage() = default;
  BodyStorage(const BodyStorage&) = delete;
  BodyStorage& operator=(const BodyStorage&) = delete;
  ~BodyStorage();

  /// The instructions moved into one contiguous run that stays where it is, as a body, with the
  /// spans of the statements (as many).
  const BodyRecord* store(std::span<Instruction> instructions, std::span<const SourceSpan> spans);
  /// The size of the first block, when none is taken yet (a parse knows a bound up front).
  /// No more bodies than instructions, and no more spans either.
  void expect(std::size_t instruction_count) {
    expected_ = instruction_count;
    records_.expect(instruction_count);
    spans_.expect(instruction_count);
  }

 private:
  struct Block {
    Instruction* data;
    std::size_t used;
    std::size_t capacity;
  };
  Instruction* store_in_new_block(std::span<Instruction> instructions);

  std::vector<Block> blocks_;
  StableArena<BodyRecord> records_;
  StableArena<SourceSpan> spans_;
  std::size_t expected_ = 0;
};

// The texts of a tree's instructions, and the operands of those that have several (Held), in
// blocks of doubling size that never move, so that an instruction can view them. Nothing kept
// here is destroyed one by one: texts are bytes, and held operands hold only numbers and views.
class OperandStorage {
 public:
  /// `size` bytes aligned to `align` (at most the alignment of new), which stay where they are.
  void* take(std::size_t size, std::size_t align) {
    std::size_t at = (used_ + align - 1) & ~(align - 1);
    if (blocks_.empty() || at + size > capacity_) {
      capacity_ = std::max({kSmallestBlock, 2 * capacity_, size});
      // Left unset, as make_unique_for_overwrite would leave them (which the WebAssembly
      // build's standard library does not have).
      blocks_.push_back(std::unique_ptr<std::byte[]>(new std::byte[capacity_]));
      at = 0;
    }
    used_ = at + size;
    return blocks_.back().get() + at;
  }

 private:
  static constexpr std::size_t kSmallestBlock = 512;
  std::vector<std::unique_ptr<std::byte[]>> blocks_;
  std::size_t used_ = 0;      // in the last block
  std::size_t capacity_ = 0;  // of the last block
};

struct ProgramStorage {
  // Operands and bodies first: they are destroyed after the instructions that view them.
  OperandStorage operands;
  BodyStorage bodies;
  std::vector<Instruction, HugePageAllocator<Instruction>> instructions;
  std::vector<SourceSpan> spans;  // of the top-level instructions: as many, or none
};

// Inline for the usual case, a short body that fits the current blocks: out of line, the calls
// cost W4 (50,000 nested bodies) 1.25 M more instructions, 5% of its parse and run.
inline const BodyRecord* BodyStorage::store(std::span<Instruction> instructions,
                                            std::span<const SourceSpan> spans) {
  Instruction* run = nullptr;
  if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < instructions.size()) {
    run = store_in_new_block(instructions);
  } else {
    Block& block = blocks_.back();
    run = block.data + block.used;
    std::uninitialized_move(instructions.begin(), instructions.end(), run);
    block.used += instructions.size();
  }
  SourceSpan* kept_spans = nullptr;
  if (!spans.empty()) {
    kept_spans = spans_.take(spans.size());
    std::copy(spans.begin(), spans.end(), kept_spans);
  }
  BodyRecord* record = records_.take(1);
  record->data = run;
  record->spans = kept_spans;
  record->size = instructions.size();
  return record;
}

/// Builds a Program: the parser's (and tests') only way to make one with bodies.
class ProgramBuilder {
 public:
  ProgramBuilder() : storage_(std::make_unique<ProgramStorage>()) {}

  /// The top-level instructions, to be appended to (in place, with emplace_back), and their spans
  /// (as many, once the program is finished).
  std::vector<Instruction, HugePageAllocator<Instruction>>& instructions() {
    return storage_->instructions;
  }
  std::vector<SourceSpan>& spans() { return storage_->spans; }
  /// Moves `statements` into the tree's storage and returns them as a body for a Branch or an
  /// IfGreaterThan of this tree; `spans` says where each statement stands (as many, or none).
  /// **Example**: `b.instructions().push_back(Branch{b.add_body(s)})`.
  Body add_body(std::span<Instruction> statements, std::span<const SourceSpan> spans = {}) {
    if (statements.empty()) return Body{};
    return Body{storage_->bodies.store(statements, spans)};
  }
  /// Sizes the first block of body storage for `count` instructions, when one is first needed.
  void expect_body_instructions(std::size_t count) { storage_->bodies.expect(count); }

  /// `text` copied into the tree's storage. A text longer than 2^32 - 1 bytes cannot occur: a
  /// script holds at most kScriptTextLimit bytes.
  Text text(std::string_view text) {
    if (text.empty()) return Text{};
    const auto size = static_cast<std::uint32_t>(text.size());
    auto* kept = static_cast<char*>(storage_->operands.take(sizeof size + text.size(), 1));
    std::memcpy(kept, &size, sizeof size);
    std::memcpy(kept + sizeof size, text.data(), text.size());
    return Text{kept + sizeof size};
  }
  /// An instruction of kind T with several operands, held in the tree's storage.
  /// **Example**: `b.make<Bind>(b.text("key"), std::uint64_t{3})`.
  template <class T, class... Values>
  T make(Values&&... values) {
    using Kept = typename T::Operands;
    static_assert(std::is_trivially_destructible_v<Kept>);
    void* place = storage_->operands.take(sizeof(Kept), alignof(Kept));
    return T{Held<Kept>(::new (place) Kept{std::forward<Values>(values)...})};
  }
  /// The body of an IfGreaterThan this builder made, to be filled in once its block closes.
  static Body& body_of(IfGreaterThan& instruction) { return instruction.held.operands_->body; }

  Program finish() && { return Program(std::move(storage_)); }

 private:
  std::unique_ptr<ProgramStorage> storage_;
};

}  // namespace detail

/// The record behind a body (null for the empty body), for the library's own walks.
inline const detail::BodyRecord* record_of(const Body& body) noexcept { return body.record_; }
/// The spans of a program's top-level statements, or null when they were not recorded.
inline const SourceSpan* spans_of(const Program& program) noexcept { return program.spans_; }

}  // namespace tarn::lang
