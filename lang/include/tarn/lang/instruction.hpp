// The instruction set that policy scripts are parsed into.
//
// A Program is an ordered list of Instructions; an Instruction is one of 28 small plain
// aggregates held in a std::variant, in a fixed order (the variant's index is the instruction's
// number), so that the interpreter's dispatch is exhaustive and checked by the compiler.
// Branch and IfGreaterThan hold a Body, so a Program is a tree of any depth.
//
// The Program at the root of a tree owns every body in it; a Body is a view of its statements.
// So that no view can outlive its owner unnoticed, bodies (and with them Branch, IfGreaterThan
// and Instruction) can be moved but never copied, and only the parser makes them: an instruction
// is read through a reference into its Program, and `Instruction c = program[0];` does not
// compile. How the tree is stored is private to the library.
//
// Every aggregate carries its `variant_name` and an operands() tuple in canonical order; the
// canonical text is one generic function over those two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>

namespace tarn::lang {

struct Instruction;

namespace detail {
struct BodyRecord;
struct ProgramStorage;
class ProgramBuilder;
}  // namespace detail

/// Where a statement stands in the text it was parsed from: the offset of its first byte and its
/// length in bytes, through the end of its block if it has one. Both saturate at 2^32 - 1 (a
/// script file holds at most 256 MiB). {0, 0} when it was not recorded (see ParseOptions).
struct SourceSpan {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  friend bool operator==(const SourceSpan&, const SourceSpan&) = default;
};

/// The statements of a block: a view of instructions held by the Program at the root of the
/// tree, valid as long as that Program is. Move-only; the default is the empty body.
class Body {
 public:
  Body() = default;
  Body(Body&& other) noexcept : record_(std::exchange(other.record_, nullptr)) {}
  Body& operator=(Body&& other) noexcept {
    record_ = std::exchange(other.record_, nullptr);
    return *this;
  }
  Body(const Body&) = delete;
  Body& operator=(const Body&) = delete;

  std::size_t size() const noexcept;
  bool empty() const noexcept { return size() == 0; }
  const Instruction& operator[](std::size_t i) const;
  const Instruction* begin() const noexcept;
  const Instruction* end() const noexcept;
  /// Where statement i stands in the program's text.
  SourceSpan span(std::size_t i) const;

 private:
  friend class detail::ProgramBuilder;  // makes bodies out of a program's storage
  friend const detail::BodyRecord* record_of(const Body& body) noexcept;
  explicit Body(const detail::BodyRecord* record) : record_(record) {}

  const detail::BodyRecord* record_ = nullptr;  // null for the empty body
};

/// An ordered list of instructions, and the owner of every body in its tree. Move-only; moving
/// it moves no instruction, so references into it stay valid.
class Program {
 public:
  Program() noexcept;
  Program(Program&& other) noexcept;
  Program& operator=(Program&& other) noexcept;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program();

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const Instruction& operator[](std::size_t i) const;
  const Instruction* begin() const noexcept { return data_; }
  const Instruction* end() const noexcept;
  /// Where top-level statement i stands in the text the program was parsed from.
  SourceSpan span(std::size_t i) const { return spans_ != nullptr ? spans_[i] : SourceSpan{}; }

 private:
  friend class detail::ProgramBuilder;
  friend const SourceSpan* spans_of(const Program& program) noexcept;
  explicit Program(std::unique_ptr<detail::ProgramStorage> storage) noexcept;

  std::unique_ptr<detail::ProgramStorage> storage_;
  const Instruction* data_ = nullptr;
  const SourceSpan* spans_ = nullptr;
  std::size_t size_ = 0;
};

/// A text operand: its bytes are held by the Program at the root of the tree, as its bodies are.
/// A view, so move-only like a Body; the default is the empty text.
class Text {
 public:
  Text() = default;
  Text(Text&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
  Text& operator=(Text&& other) noexcept {
    data_ = std::exchange(other.data_, nullptr);
    return *this;
  }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  std::string_view view() const noexcept;
  operator std::string_view() const noexcept { return view(); }  // NOLINT: a text is a view
  std::size_t size() const noexcept { return view().size(); }
  bool empty() const noexcept { return data_ == nullptr; }
  friend bool operator==(const Text& text, std::string_view other) { return text.view() == other; }

 private:
  friend class detail::ProgramBuilder;  // makes texts in a program's storage
  explicit Text(const char* data) : data_(data) {}

  const char* data_ = nullptr;  // the bytes, after their length (4 bytes); null: empty
};

/// The operands of an instruction that has more than one, held by the Program at the root of the
/// tree, so that every instruction takes 16 bytes. A view, so move-only like a Body.
template <class Operands>
class Held {
 public:
  Held() = default;
  Held(Held&& other) noexcept : operands_(std::exchange(other.operands_, nullptr)) {}
  Held& operator=(Held&& other) noexcept {
    operands_ = std::exchange(other.operands_, nullptr);
    return *this;
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

  const Operands* operator->() const noexcept { return operands_; }

 private:
  friend class detail::ProgramBuilder;  // makes them in a program's storage
  explicit Held(Operands* operands) : operands_(operands) {}

  Operands* operands_ = nullptr;
};

// One aggregate per variant, in table order. `operands()` lists the operands in canonical order.
// An instruction with several operands holds them apart (Held) and names each by a function.
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
struct ReportTo { Text target; static constexpr std::string_view variant_name = "ReportTo";
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
struct AssertBounds {
  struct Operands { double min; double max; std::uint64_t index; };
  Held<Operands> held;
  double min() const { return held->min; }
  double max() const { return held->max; }
  std::uint64_t index() const { return held->index; }
  static constexpr std::string_view variant_name = "AssertBounds";
  auto operands() const { return std::tie(held->min, held->max, held->index); } };
struct AssertBoundsNamed {
  struct Operands { double min; double max; Text name; };
  Held<Operands> held;
  double min() const { return held->min; }
  double max() const { return held->max; }
  std::string_view name() const { return held->name; }
  static constexpr std::string_view variant_name = "AssertBoundsNamed";
  auto operands() const { return std::tie(held->min, held->max, held->name); } };
struct LinkIdentity { Text identity; static constexpr std::string_view variant_name = "LinkIdentity";
  auto operands() const { return std::tie(identity); } };
struct TrackLineage { bool enabled; static constexpr std::string_view variant_name = "TrackLineage";
  auto operands() const { return std::tie(enabled); } };
struct Bind {
  struct Operands { Text key; std::uint64_t index; };
  Held<Operands> held;
  std::string_view key() const { return held->key; }
  std::uint64_t index() const { return held->index; }
  static constexpr std::string_view variant_name = "Bind";
  auto operands() const { return std::tie(held->key, held->index); } };
struct Alias {
  struct Operands { std::uint64_t index; Text name; };
  Held<Operands> held;
  std::uint64_t index() const { return held->index; }
  std::string_view name() const { return held->name; }
  static constexpr std::string_view variant_name = "Alias";
  auto operands() const { return std::tie(held->index, held->name); } };
struct BindAll { static constexpr std::string_view variant_name = "BindAll";
  auto operands() const { return std::tie(); } };
struct IfGreaterThan {
  struct Operands { Text name; double threshold; Body body; };
  Held<Operands> held;
  std::string_view name() const { return held->name; }
  double threshold() const { return held->threshold; }
  const Body& body() const { return held->body; }
  static constexpr std::string_view variant_name = "IfGreaterThan";
  auto operands() const { return std::tie(held->name, held->threshold, held->body); } };
struct Escalate { Text reason; static constexpr std::string_view variant_name = "Escalate";
  auto operands() const { return std::tie(reason); } };
struct Import { Text path; static constexpr std::string_view variant_name = "Import";
  auto operands() const { return std::tie(path); } };
struct GenerateZkProof { bool enabled; static constexpr std::string_view variant_name = "GenerateZkProof";
  auto operands() const { return std::tie(enabled); } };

// The variant's index is the instruction's number (Harmony = 0 ... GenerateZkProof = 27).
using InstructionKind = std::variant<Harmony, RequireEquilibrium, Evolve, Data, Corrupt, Residual,
    Report, ReportCompact, ReportVerbose, ReportTo, ReportJson, LogLevel, Branch, BudgetLimit,
    TimeWindow, VolatilityLimit, MaxExposure, AssertBounds, AssertBoundsNamed, LinkIdentity,
    TrackLineage, Bind, Alias, BindAll, IfGreaterThan, Escalate, Import, GenerateZkProof>;
static_assert(std::variant_size_v<InstructionKind> == 28, "the instruction set has 28 variants");

/// One instruction. Move-only, because an instruction with a body or a text is a view into its
/// Program. Every operand takes 8 bytes at most (held apart when there are several), so an
/// instruction takes 16: a long script of short statements needs no more than twice its size.
struct Instruction : InstructionKind {
  using InstructionKind::InstructionKind;
};
static_assert(sizeof(InstructionKind) == 16, "an instruction takes 16 bytes");

/// The body of a Branch or an IfGreaterThan; null for any other instruction.
const Body* body_of(const Instruction& instruction) noexcept;

/// The instruction's canonical text, a single line however deep its bodies nest.
/// **Example**: `AssertBounds(0.0, 1.0, 2)`, `Bind("k", 3)`, `IfGreaterThan("x", 0.5, [Report])`.
std::string canonical_text(const Instruction& instruction);

/// Appends the canonical text to `out` (the form used when many texts are written in a row).
void append_canonical_text(std::string& out, const Instruction& instruction);

/// Appends the canonical text of each top-level statement on a line of its own: what `tarn check`
/// prints for a policy, and what formatting must keep.
void append_canonical_lines(std::string& out, const Program& program);
std::string canonical_lines(const Program& program);

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

inline std::string_view Text::view() const noexcept {
  if (data_ == nullptr) return {};
  std::uint32_t size = 0;
  std::memcpy(&size, data_ - sizeof size, sizeof size);
  return {data_, size};
}

// Members that need a complete Instruction.
inline const Instruction& Body::operator[](std::size_t i) const { return begin()[i]; }
inline const Instruction* Body::end() const noexcept { return begin() + size(); }
inline const Instruction& Program::operator[](std::size_t i) const { return data_[i]; }
inline const Instruction* Program::end() const noexcept { return data_ + size_; }

}  // namespace tarn::lang
