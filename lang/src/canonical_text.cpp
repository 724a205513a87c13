// The canonical text of instructions: `Name(operand, operand, [body...])`, one line however deep.
//
// One generic walk serves every variant through its `variant_name` and `operands()`, and serves
// both rendering and measuring through a sink, so the two can never disagree. Bodies are walked
// with an explicit stack of tasks, not recursion: one task per open body, which writes the
// body's next instruction or closes it. Text is escaped the way fmt does it:
// copy the longest run that needs no escape, then write one escape; only non-ASCII characters
// are looked up in the Unicode tables.
#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "tarn/json/number_text.hpp"
#include "tarn/json/writer.hpp"
#include "program_storage.hpp"
#include "tarn/lang/instruction.hpp"
#include "unicode.hpp"

namespace tarn::lang {

namespace {

// --- Text operands -------------------------------------------------------------------------

// An ASCII byte that stands for itself inside quotes: printable, and not `\` or `"`.
constexpr bool is_plain_ascii(unsigned char byte) {
  return byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != '"';
}

// The two-character escapes of a quoted text, or 0 when the byte has none. "\t" -> 't'.
constexpr char short_escape(char32_t code_point) {
  switch (code_point) {
    case U'\\': return '\\';
    case U'"': return '"';
    case U'\t': return 't';
    case U'\r': return 'r';
    case U'\n': return 'n';
    case U'\0': return '0';
    default: return 0;
  }
}

// One step of the escaping scan: `verbatim` bytes copy as they are; then, unless the text ended,
// one character of `length` bytes that must be escaped (`code_point`).
struct EscapeStep {
  std::size_t verbatim = 0;
  char32_t code_point = 0;
  std::size_t length = 0;  // 0: the text ended, nothing to escape
};

EscapeStep find_escape(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (is_plain_ascii(byte)) {
      ++i;
      continue;
    }
    const unicode::Decoded decoded = unicode::decode_utf8(text.substr(i));
    const bool ill_formed = decoded.code_point == 0xFFFD && decoded.length == 1 && byte >= 0x80;
    if (byte < 0x80 || ill_formed || unicode::needs_escape(decoded.code_point)) {
      return {i, decoded.code_point, decoded.length};
    }
    i += decoded.length;
  }
  return {i, 0, 0};
}

constexpr std::size_t hex_digit_count(char32_t code_point) {
  std::size_t count = 1;
  while (code_point >= 16) {
    code_point >>= 4;
    ++count;
  }
  return count;
}

void append_escape(std::string& out, char32_t code_point) {
  if (const char letter = short_escape(code_point); letter != 0) {
    out += '\\';
    out += letter;
    return;
  }
  constexpr std::string_view kHex = "0123456789abcdef";
  out += "\\u{";
  for (std::size_t shift = 4 * hex_digit_count(code_point); shift != 0; shift -= 4) {
    out += kHex[(code_point >> (shift - 4)) & 0xFu];
  }
  out += '}';
}

std::uint64_t escape_length(char32_t code_point) {
  if (short_escape(code_point) != 0) return 2;
  return 4 + hex_digit_count(code_point);  // \u{...}
}

// The length of append_quoted_text's output.
std::uint64_t quoted_text_length(std::string_view text) {
  std::uint64_t length = 2;
  while (true) {
    const EscapeStep step = find_escape(text);
    length += step.verbatim;
    if (step.length == 0) return length;
    length += escape_length(step.code_point);
    text.remove_prefix(step.verbatim + step.length);
  }
}

// 0 -> 1, 200 -> 3.
std::uint64_t decimal_digits(std::uint64_t value) {
  std::uint64_t digits = 1;
  for (; value >= 10; value /= 10) ++digits;
  return digits;
}

// At least the longest canonical number: "-1.2345678901234567e-308" has 24 bytes.
constexpr std::uint64_t kNumberLengthBound = 32;

// An operand's exact length, except that a number counts as the longest any number can be: the
// conversion to shortest digits is the bulk of an exact measure.
template <class Operand>
std::uint64_t operand_length_bound(const Operand& operand) {
  if constexpr (std::is_same_v<Operand, double>) {
    return kNumberLengthBound;
  } else if constexpr (std::is_same_v<Operand, bool>) {
    return operand ? 4 : 5;
  } else if constexpr (std::is_same_v<Operand, Text>) {
    return quoted_text_length(operand);
  } else {
    static_assert(std::is_same_v<Operand, std::uint64_t> || std::is_same_v<Operand, std::uint8_t>);
    return decimal_digits(operand);
  }
}

// --- Sinks: where the walk's text goes ------------------------------------------------------

// Renders into a string; with `kInJsonString`, as the inside of a JSON string literal. Names,
// numbers and punctuation never need a JSON escape, so only text operands are escaped again.
template <bool kInJsonString>
class BasicRenderer {
 public:
  explicit BasicRenderer(std::string& out) : out_(out) {}
  // Most punctuation is one byte, which push_back writes without the call to memcpy.
  void punctuation(std::string_view text) {
    if (text.size() == 1) {
      out_.push_back(text.front());
    } else {
      out_.append(text);
    }
  }
  void number(double value) { json::append_canonical_number(out_, value); }
  void integer(std::uint64_t value) {
    std::array<char, 20> digits;
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    out_.append(digits.data(), end);
  }
  void flag(bool value) { out_ += value ? "true" : "false"; }
  void text(std::string_view value) {
    if constexpr (kInJsonString) {
      scratch_.clear();
      append_quoted_text(scratch_, value);
      json::append_json_escaped(out_, scratch_);
    } else {
      append_quoted_text(out_, value);
    }
  }
  // Bodies are always walked when rendering.
  bool enter_body(const detail::BodyRecord*) { return true; }
  void leave_body(const detail::BodyRecord*, std::uint64_t) {}
  std::uint64_t position() const { return out_.size(); }

 private:
  std::string& out_;
  std::string scratch_;  // a text operand's canonical form, before its JSON escapes
};

using Renderer = BasicRenderer<false>;
using JsonRenderer = BasicRenderer<true>;

// Adds up lengths, and caches the length of every body it walks so that the next measure of
// that body (or of an instruction around it) costs nothing.
class Measurer {
 public:
  void punctuation(std::string_view text) { length_ += text.size(); }
  void number(double value) {
    scratch_.clear();
    json::append_canonical_number(scratch_, value);
    length_ += scratch_.size();
  }
  void integer(std::uint64_t value) { length_ += decimal_digits(value); }
  void flag(bool value) { length_ += value ? 4 : 5; }
  void text(std::string_view value) { length_ += quoted_text_length(value); }
  bool enter_body(const detail::BodyRecord* body) {
    if (body == nullptr || body->text_length == detail::kUnknownLength) return true;
    length_ += body->text_length;
    return false;
  }
  void leave_body(const detail::BodyRecord* body, std::uint64_t start) {
    if (body != nullptr) body->text_length = length_ - start;
  }
  std::uint64_t position() const { return length_; }

 private:
  std::uint64_t length_ = 0;
  std::string scratch_;
};

// --- The walk -------------------------------------------------------------------------------

template <class T>
using Operands = decltype(std::declval<const T&>().operands());

template <class T>
constexpr std::size_t operand_count = std::tuple_size_v<Operands<T>>;

// Whether one of T's operands is an `Operand`: a body (Body) or a text (Text).
template <class T, class Operand>
constexpr bool has_operand = [] {
  return []<std::size_t... I>(std::index_sequence<I...>) {
    return (std::is_same_v<std::remove_cvref_t<std::tuple_element_t<I, Operands<T>>>, Operand> || ...);
  }(std::make_index_sequence<operand_count<T>>{});
}();

template <class T>
constexpr bool has_body = has_operand<T, Body>;

// A body is always the last operand, so an instruction's text is "Name(" operands "[" body "])":
// the walk never has to resume an instruction's operands after its body, only close it.
template <class T>
constexpr bool body_is_last = [] {
  if constexpr (operand_count<T> == 0) {
    return true;
  } else {
    using Last = std::remove_cvref_t<std::tuple_element_t<operand_count<T> - 1, Operands<T>>>;
    return has_body<T> == std::is_same_v<Last, Body>;
  }
}();
static_assert([]<std::size_t... I>(std::index_sequence<I...>) {
  return (body_is_last<std::variant_alternative_t<I, InstructionKind>> && ...);
}(std::make_index_sequence<std::variant_size_v<InstructionKind>>{}));

// A body being written (null: the empty body): instruction `next` comes next; `start` is the
// sink's position at its "[".
struct Task {
  const detail::BodyRecord* body;
  std::size_t next;
  std::uint64_t start;
};

// The walk's stack, one task per open body. Most texts open none or one (Branch([Evolve(1)])),
// so the first few live inline and cost no allocation; deeper ones spill into a vector. A plain
// std::vector allocates at every walk of a block: W3 took 21% more instructions with it (17.7 M
// against 14.6 M), W3x 11%.
class TaskStack {
 public:
  bool empty() const { return size_ == 0; }
  Task& back() { return size_ <= kInline ? inline_[size_ - 1] : spill_.back(); }
  void push_back(const Task& task) {
    if (size_ < kInline) {
      inline_[size_] = task;
    } else {
      spill_.push_back(task);
    }
    ++size_;
  }
  void pop_back() {
    if (size_ > kInline) spill_.pop_back();
    --size_;
  }

 private:
  static constexpr std::size_t kInline = 8;
  std::array<Task, kInline> inline_;  // left unset: a walk of a flat text never touches it
  std::vector<Task> spill_;
  std::size_t size_ = 0;
};

template <class Sink>
class Walker {
 public:
  explicit Walker(Sink& sink) : sink_(sink) {}

  void walk(const Instruction& root) {
    begin_instruction(root);
    while (!tasks_.empty()) {
      Task& task = tasks_.back();
      if (task.body == nullptr || task.next == task.body->size) {
        sink_.punctuation("]");
        sink_.leave_body(task.body, task.start);
        sink_.punctuation(")");
        tasks_.pop_back();
      } else {
        if (task.next != 0) sink_.punctuation(", ");
        const Instruction& child = task.body->data[task.next++];
        begin_instruction(child);  // may push: `task` is not used after this
      }
    }
  }

 private:
  // `Report` alone, or `Name(` and its operands. An instruction without a body is written whole,
  // its operands in a sequence fixed at compile time; one with a body is written up to its "[",
  // and a task is left to write the body and close both brackets (unless the sink already knows
  // the body, which then ends here).
  void begin_instruction(const Instruction& instruction) {
    const Body* body = std::visit([&](const auto& variant) -> const Body* {
      using Variant = std::decay_t<decltype(variant)>;
      if constexpr (operand_count<Variant> == 0) {
        sink_.punctuation(Variant::variant_name);
        return nullptr;
      } else {
        sink_.punctuation(Variant::variant_name);
        sink_.punctuation("(");
        return std::apply([&](const auto&... operand) {
          const Body* last = nullptr;
          bool first = true;
          ((first ? void(first = false) : sink_.punctuation(", "), void(last = write_operand(operand))),
           ...);
          if (last == nullptr) sink_.punctuation(")");
          return last;
        }, variant.operands());
      }
    }, static_cast<const InstructionKind&>(instruction));
    if (body == nullptr) return;
    const std::uint64_t start = sink_.position();
    const detail::BodyRecord* record = record_of(*body);
    if (sink_.enter_body(record)) {
      sink_.punctuation("[");
      tasks_.push_back(Task{record, 0, start});
    } else {
      sink_.punctuation(")");
    }
  }

  // Writes a scalar operand and returns null, or returns the body, which the caller walks.
  template <class Operand>
  const Body* write_operand(const Operand& operand) {
    if constexpr (std::is_same_v<Operand, Body>) {
      return &operand;
    } else {
      if constexpr (std::is_same_v<Operand, double>) {
        sink_.number(operand);
      } else if constexpr (std::is_same_v<Operand, bool>) {
        sink_.flag(operand);
      } else if constexpr (std::is_same_v<Operand, Text>) {
        sink_.text(operand);
      } else {
        static_assert(std::is_same_v<Operand, std::uint64_t> || std::is_same_v<Operand, std::uint8_t>);
        sink_.integer(operand);
      }
      return nullptr;
    }
  }

  Sink& sink_;
  TaskStack tasks_;
};

}  // namespace

void append_quoted_text(std::string& out, std::string_view text) {
  out += '"';
  while (true) {
    const EscapeStep step = find_escape(text);
    out.append(text.substr(0, step.verbatim));
    if (step.length == 0) break;
    append_escape(out, step.code_point);
    text.remove_prefix(step.verbatim + step.length);
  }
  out += '"';
}

void append_canonical_text(std::string& out, const Instruction& instruction) {
  Renderer renderer(out);
  Walker<Renderer>(renderer).walk(instruction);
}

void append_canonical_lines(std::string& out, const Program& program) {
  for (const Instruction& instruction : program) {
    append_canonical_text(out, instruction);
    out += '\n';
  }
}

std::string canonical_lines(const Program& program) {
  std::string out;
  append_canonical_lines(out, program);
  return out;
}

void append_canonical_json_string(std::string& out, const Instruction& instruction) {
  out.push_back('"');
  JsonRenderer renderer(out);
  Walker<JsonRenderer>(renderer).walk(instruction);
  out.push_back('"');
}

std::string canonical_text(const Instruction& instruction) {
  std::string out;
  append_canonical_text(out, instruction);
  return out;
}

std::uint64_t canonical_text_length(const Instruction& instruction) {
  Measurer measurer;
  Walker<Measurer>(measurer).walk(instruction);
  return measurer.position();
}

std::uint64_t canonical_text_length_bound(const Instruction& instruction) {
  return std::visit([&](const auto& variant) -> std::uint64_t {
    using Variant = std::decay_t<decltype(variant)>;
    if constexpr (has_body<Variant>) {
      // Measured exactly: the length is cached in the body, which a bound could not be, and
      // without the cache a deep tree would be walked once per level.
      return canonical_text_length(instruction);
    } else {
      std::uint64_t length = Variant::variant_name.size();
      if constexpr (operand_count<Variant> > 0) {
        length += 2 * operand_count<Variant>;  // "(" and ")", and ", " between operands
        std::apply([&](const auto&... operand) {
          ((length += operand_length_bound(operand)), ...);
        }, variant.operands());
      }
      return length;
    }
  }, static_cast<const InstructionKind&>(instruction));
}

}  // namespace tarn::lang
