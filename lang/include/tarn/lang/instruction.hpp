// The instruction set that policy scripts are parsed into.
//
// A Program is an ordered list of Instructions; an Instruction is one of 28 small plain
// aggregates held in a std::variant, in the fixed order of the instruction table, so that the
// interpreter's dispatch is exhaustive and checked by the compiler. Branch and IfGreaterThan hold
// a Body, so a Program is a tree of any depth.
//
// The instructions of every body in a tree live in storage that the Program at its root owns,
// taken from a few large blocks: a body costs no allocation of its own, and the tree is freed
// block by block instead of level by level, so no walk of the tree (teardown, canonical text,
// parsing) ever needs the call stack or a work list to reach the bottom of a million-deep nest.
//
// Every aggregate carries its `variant_name` and an operands() tuple in canonical order; the
// canonical text is one generic function over those two.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "tarn/lang/huge_pages.hpp"

namespace tarn::lang {

struct Instruction;

/// The statements of a block. A view of instructions held by the Program at the root of the tree,
/// which therefore has to outlive it; the default is the empty body.
class Body {
 public:
  Body() = default;

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const Instruction& operator[](std::size_t i) const;
  const Instruction* begin() const noexcept { return data_; }
  const Instruction* end() const noexcept;

 private:
  friend class Program;     // makes bodies out of its storage
  friend class BodyAccess;  // the canonical-text walker reads and fills the length cache
  Body(const Instruction* data, std::size_t size) : data_(data), size_(size) {}

  const Instruction* data_ = nullptr;
  std::size_t size_ = 0;
  // Length in bytes of this body's canonical text ("[...]"), computed once on demand; see
  // canonical_text_length. Bodies never change once made.
  mutable std::uint64_t text_length_ = kUnknownLength;
  static constexpr std::uint64_t kUnknownLength = ~std::uint64_t{0};
};

namespace detail {

// Storage for the instructions of a tree's bodies: blocks that are filled front to back and
// never move, each body contiguous within one block. The instructions are destroyed, in a flat
// pass over each block, when the storage is.
class BodyStorage {
 public:
  BodyStorage() = default;
  BodyStorage(BodyStorage&& other) noexcept
      : blocks_(std::move(other.blocks_)), expected_(other.expected_) {
    other.blocks_.clear();
  }
  BodyStorage& operator=(BodyStorage&& other) noexcept;
  BodyStorage(const BodyStorage&) = delete;
  BodyStorage& operator=(const BodyStorage&) = delete;
  ~BodyStorage() { release(); }

  /// The instructions moved into one contiguous run that stays where it is.
  Instruction* store(std::span<Instruction> instructions);
  /// The size of the first block, when none is taken yet (a parse knows a bound up front).
  void expect(std::size_t instruction_count) { expected_ = instruction_count; }

 private:
  struct Block {
    Instruction* data;
    std::size_t used;
    std::size_t capacity;
  };
  Instruction* store_in_new_block(std::span<Instruction> instructions);
  void release() noexcept;

  std::vector<Block> blocks_;
  std::size_t expected_ = 0;
};

}  // namespace detail

/// An ordered list of instructions, and the owner of every body in its tree; move-only.
class Program {
 public:
  Program() = default;
  Program(Program&& other) noexcept = default;
  Program& operator=(Program&& other) noexcept = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() = default;

  void push_back(Instruction&& instruction);
  /// Appends a default instruction and returns it, to be filled in place.
  Instruction& emplace_back();
  /// Room for `count` instructions; the parser reserves for a whole script at once.
  void reserve(std::size_t count);
  /// Gives back room reserved beyond size().
  void shrink_to_fit();
  std::size_t capacity() const noexcept;
  std::size_t size() const noexcept;
  bool empty() const noexcept;
  const Instruction& operator[](std::size_t i) const;
  const Instruction* begin() const noexcept;
  const Instruction* end() const noexcept;

  /// Moves `instructions` into this program's storage and returns them as a body for a Branch or
  /// an IfGreaterThan of this program's tree. The body is valid as long as the program is.
  /// **Example**: `p.push_back(Branch{p.add_body(statements)})`.
  Body add_body(std::span<Instruction> instructions);
  /// Sizes the first block of body storage for `count` instructions, when one is first needed.
  void expect_body_instructions(std::size_t count) { bodies_.expect(count); }

 private:
  // Bodies first: they are destroyed after the top-level instructions that view them.
  detail::BodyStorage bodies_;
  std::vector<Instruction, detail::HugePageAllocator<Instruction>> instructions_;
};

// One aggregate per variant, in table order. `operands()` lists the operands in canonical order.
struct Harmony { double tolerance; static constexpr std::string_view variant_name = "Harmony";
  auto operands() const { return std::tie(tolerance); } };
struct RequireEquilibrium { double tolerance; static constexpr std::string_view variant_name = "RequireEquilibrium";
  auto operands() const { return std::tie(tolerance); } };
struct Evolve { std::uint64_t index; static constexpr std::string_view variant_name = "Evolve";
  auto operands() const { return std::tie(index); } };
struct Data { double value; static constexpr std::string_view variant_name = "Data";
  auto operands() const { return std::tie(value); } };
struct Corrupt { std::uint64_t index; static constexpr std::string_view variant_name = "Corrupt";
  auto operands() const { return std::tie(index); } };
struct Residual { double value; static constexpr std::string_view variant_name = "Residual";
  auto operands() const { return std::tie(value); } };
struct Report { static constexpr std::string_view variant_name = "Report";
  auto operands() const { return std::tie(); } };
struct ReportCompact { static constexpr std::string_view variant_name = "ReportCompact";
  auto operands() const { return std::tie(); } };
struct ReportVerbose { static constexpr std::string_view variant_name = "ReportVerbose";
  auto operands() const { return std::tie(); } };
struct ReportTo { std::string target; static constexpr std::string_view variant_name = "ReportTo";
  auto operands() const { return std::tie(target); } };
struct ReportJson { static constexpr std::string_view variant_name = "ReportJson";
  auto operands() const { return std::tie(); } };
struct LogLevel { std::uint8_t level; static constexpr std::string_view variant_name = "LogLevel";
  auto operands() const { return std::tie(level); } };
struct Branch { Body body; static constexpr std::string_view variant_name = "Branch";
  auto operands() const { return std::tie(body); } };
struct BudgetLimit { double limit; static constexpr std::string_view variant_name = "BudgetLimit";
  auto operands() const { return std::tie(limit); } };
struct TimeWindow { std::uint64_t window; static constexpr std::string_view variant_name = "TimeWindow";
  auto operands() const { return std::tie(window); } };
struct VolatilityLimit { double limit; static constexpr std::string_view variant_name = "VolatilityLimit";
  auto operands() const { return std::tie(limit); } };
struct MaxExposure { double limit; static constexpr std::string_view variant_name = "MaxExposure";
  auto operands() const { return std::tie(limit); } };
struct AssertBounds { double min; double max; std::uint64_t index;
  static constexpr std::string_view variant_name = "AssertBounds";
  auto operands() const { return std::tie(min, max, index); } };
struct AssertBoundsNamed { double min; double max; std::string name;
  static constexpr std::string_view variant_name = "AssertBoundsNamed";
  auto operands() const { return std::tie(min, max, name); } };
struct LinkIdentity { std::string identity; static constexpr std::string_view variant_name = "LinkIdentity";
  auto operands() const { return std::tie(identity); } };
struct TrackLineage { bool enabled; static constexpr std::string_view variant_name = "TrackLineage";
  auto operands() const { return std::tie(enabled); } };
struct Bind { std::string key; std::uint64_t index; static constexpr std::string_view variant_name = "Bind";
  auto operands() const { return std::tie(key, index); } };
struct Alias { std::uint64_t index; std::string name; static constexpr std::string_view variant_name = "Alias";
  auto operands() const { return std::tie(index, name); } };
struct BindAll { static constexpr std::string_view variant_name = "BindAll";
  auto operands() const { return std::tie(); } };
struct IfGreaterThan { std::string name; double threshold; Body body;
  static constexpr std::string_view variant_name = "IfGreaterThan";
  auto operands() const { return std::tie(name, threshold, body); } };
struct Escalate { std::string reason; static constexpr std::string_view variant_name = "Escalate";
  auto operands() const { return std::tie(reason); } };
struct Import { std::string path; static constexpr std::string_view variant_name = "Import";
  auto operands() const { return std::tie(path); } };
struct GenerateZkProof { bool enabled; static constexpr std::string_view variant_name = "GenerateZkProof";
  auto operands() const { return std::tie(enabled); } };

// The variant's index is the instruction's number in the table (Harmony = 0 ... GenerateZkProof = 27).
using InstructionKind = std::variant<Harmony, RequireEquilibrium, Evolve, Data, Corrupt, Residual,
    Report, ReportCompact, ReportVerbose, ReportTo, ReportJson, LogLevel, Branch, BudgetLimit,
    TimeWindow, VolatilityLimit, MaxExposure, AssertBounds, AssertBoundsNamed, LinkIdentity,
    TrackLineage, Bind, Alias, BindAll, IfGreaterThan, Escalate, Import, GenerateZkProof>;
static_assert(std::variant_size_v<InstructionKind> == 28, "the instruction set has 28 variants");

struct Instruction : InstructionKind {
  using InstructionKind::InstructionKind;
};

/// The instruction's canonical text, a single line however deep its bodies nest.
/// **Example**: `AssertBounds(0.0, 1.0, 2)`, `Bind("k", 3)`, `IfGreaterThan("x", 0.5, [Report])`.
std::string canonical_text(const Instruction& instruction);

/// Appends the canonical text to `out` (the form used when many texts are written in a row).
void append_canonical_text(std::string& out, const Instruction& instruction);

/// Appends the canonical text as a JSON string literal, escaped as it is written.
/// **Example**: `Alias(1, "a")` -> `"Alias(1, \"a\")"` with the outer quotes.
void append_canonical_json_string(std::string& out, const Instruction& instruction);

/// The length in bytes of canonical_text(instruction), without rendering it. Linear in the size
/// of the tree the first time a body is measured and constant after that (bodies cache it).
std::uint64_t canonical_text_length(const Instruction& instruction);

/// At least canonical_text_length(instruction), and much cheaper for an instruction without a
/// body: numbers count at their longest instead of being converted. Exact for one with a body.
/// **Example**: `Data(0.5)` -> 38 (exactly 9); `Branch([Data(0.5)])` -> 19.
std::uint64_t canonical_text_length_bound(const Instruction& instruction);

/// Appends a text operand in its quoted canonical form: "\"" + escaped + "\"". Also used for the
/// `input` of a parse-error text.
void append_quoted_text(std::string& out, std::string_view text);

/// Saturating conversions from a script number: NaN and x <= 0 give 0; x >= 2^64 gives the
/// maximum; otherwise truncation toward zero. **Example**: 2.9 -> 2, 1e30 -> 18446744073709551615.
std::uint64_t saturate_u64(double x);
/// NaN and x < 0 give 0; x > 255 gives 255; otherwise truncation. **Example**: 3.9 -> 3, 300 -> 255.
std::uint8_t saturate_u8(double x);

// Members that need a complete Instruction.
inline const Instruction& Body::operator[](std::size_t i) const { return data_[i]; }
inline const Instruction* Body::end() const noexcept { return data_ + size_; }
inline void Program::push_back(Instruction&& instruction) {
  instructions_.push_back(std::move(instruction));
}
inline Instruction& Program::emplace_back() { return instructions_.emplace_back(); }
inline void Program::reserve(std::size_t count) { instructions_.reserve(count); }
inline void Program::shrink_to_fit() { instructions_.shrink_to_fit(); }
inline std::size_t Program::capacity() const noexcept { return instructions_.capacity(); }
inline std::size_t Program::size() const noexcept { return instructions_.size(); }
inline bool Program::empty() const noexcept { return instructions_.empty(); }
inline const Instruction& Program::operator[](std::size_t i) const { return instructions_[i]; }
inline const Instruction* Program::begin() const noexcept { return instructions_.data(); }
inline const Instruction* Program::end() const noexcept {
  return instructions_.data() + instructions_.size();
}
// Inline for the usual case, a short body that fits the current block.
inline Instruction* detail::BodyStorage::store(std::span<Instruction> instructions) {
  if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < instructions.size()) {
    return store_in_new_block(instructions);
  }
  Block& block = blocks_.back();
  Instruction* run = block.data + block.used;
  std::uninitialized_move(instructions.begin(), instructions.end(), run);
  block.used += instructions.size();
  return run;
}
inline Body Program::add_body(std::span<Instruction> instructions) {
  if (instructions.empty()) return Body{};
  return Body{bodies_.store(instructions), instructions.size()};
}

}  // namespace tarn::lang
