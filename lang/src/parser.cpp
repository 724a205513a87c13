// The policy-script parser.
//
// Shape: a std::string_view cursor moves left to right through the text once. There is one
// primitive per lexical element (skip_ws, expect_tag, read_identifier, read_string, read_number,
// read_boolean, skip_comment); each takes the rest of the text and returns the value and the new
// rest, or a failure that views the rest at the failing step. Statement forms are chained
// through a Cursor that keeps the first failure, so each form reads like its grammar production.
// Keywords map to forms in one table. Bodies never recurse: a statement that opens a body is
// pushed onto a stack of open blocks, the body's statements are appended to the innermost one,
// and "}" pops it into its parent. Failures stay views into the text until they leave the
// parser, where they become an owned ParseError (an imported file's text dies before its error).
#include "tarn/lang/parser.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "huge_pages.hpp"
#include "program_storage.hpp"
#include "tarn/lang/number_syntax.hpp"
#include "unicode.hpp"

namespace tarn::lang {
namespace {

// A failure while the text is still borrowed: `at` views the rest of the text at the failing
// step, or the name itself for an unrecognised name.
struct Fail {
  Severity severity = Severity::Error;
  std::string_view at;
  ParseErrorCode code = ParseErrorCode::Tag;
};

template <class T>
using Step = Result<Parsed<T>, Fail>;

Fail error_at(std::string_view at, ParseErrorCode code) { return {Severity::Error, at, code}; }

// The failure as an owned ParseError, with the place in `text` where it happened.
ParseError owned(const Fail& failure, std::string_view text,
                 std::optional<std::uint32_t> open_brace = std::nullopt) {
  // `at` views the text: the rest of it from the failing step, or the unrecognised name.
  const auto offset = static_cast<std::size_t>(failure.at.data() - text.data());
  return {failure.severity, std::string(failure.at), failure.code, offset, open_brace};
}

// --- Lexical elements -----------------------------------------------------------------------

constexpr bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool continues_number(char c) { return is_digit(c) || c == '.' || c == 'e' || c == 'E'; }
constexpr bool is_ascii_identifier_char(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// Every identifier byte is looked up here, once per byte of every keyword. Bytes from 0x80 on
// are false: they begin or continue a multi-byte character, which the slow path decodes. Testing
// the ranges instead costs W2 7.9% more instructions and W4 10.6%.
constexpr std::array<bool, 256> kAsciiIdentifier = [] {
  std::array<bool, 256> table{};
  for (unsigned c = 0; c < 128; ++c) table[c] = is_ascii_identifier_char(static_cast<unsigned char>(c));
  return table;
}();

constexpr bool is_ascii_identifier(char c) {
  return kAsciiIdentifier[static_cast<unsigned char>(c)];
}

// ws -> (" " | "\t" | "\n" | "\r")*
std::string_view skip_ws(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_ws(text[i])) ++i;
  text.remove_prefix(i);
  return text;
}

// Whether the first a.size() bytes of b are those of a. A byte loop, not memcmp: the texts are
// a few bytes (a keyword, a tag), every statement compares several, and a call to memcmp costs
// more than the comparison: with starts_with (memcmp) W2 takes 20% more instructions (69.5 M
// against 57.7 M).
constexpr bool same_bytes(std::string_view a, std::string_view b) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// tag -> the literal text, byte for byte
Step<std::string_view> expect_tag(std::string_view text, std::string_view literal) {
  const bool matches = text.size() >= literal.size() && same_bytes(literal, text);
  if (!matches) return fail(error_at(text, ParseErrorCode::Tag));
  return Parsed<std::string_view>{literal, text.substr(literal.size())};
}

// identifier -> (Alphabetic | Nd | Nl | No | "_")+
Step<std::string_view> read_identifier(std::string_view text) {
  // ASCII runs first, one table look-up a byte; the loop below takes over at a non-ASCII byte.
  // Without this run W2 takes 5.6% more instructions, W4 8%.
  std::size_t i = 0;
  while (i < text.size() && is_ascii_identifier(text[i])) ++i;
  while (i < text.size()) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      if (!is_ascii_identifier(text[i])) break;
      ++i;
      continue;
    }
    const unicode::Decoded decoded = unicode::decode_utf8(text.substr(i));
    if (!unicode::is_identifier_char(decoded.code_point)) break;
    i += decoded.length;
  }
  if (i == 0) return fail(error_at(text, ParseErrorCode::TakeWhile1));
  return Parsed<std::string_view>{text.substr(0, i), text.substr(i)};
}

// string -> "\"" (any character but "\"")* "\""      (no escapes; line breaks allowed)
Step<std::string_view> read_string(std::string_view text) {
  if (!text.starts_with('"')) return fail(error_at(text, ParseErrorCode::Tag));
  const std::string_view inside = text.substr(1);
  const std::size_t close = inside.find('"');
  if (close == std::string_view::npos) return fail(error_at(inside, ParseErrorCode::TakeUntil));
  return Parsed<std::string_view>{inside.substr(0, close), inside.substr(close + 1)};
}

// boolean -> "true" | "false"      (a prefix match: "trueish" leaves "ish")
Step<bool> read_boolean(std::string_view text) {
  if (text.starts_with("true")) return Parsed<bool>{true, text.substr(4)};
  if (text.starts_with("false")) return Parsed<bool>{false, text.substr(5)};
  return fail(error_at(text, ParseErrorCode::Tag));
}

// number -> sign? mantissa exponent? | special      (number_syntax.hpp; no sign on a special word)
// A mantissa followed by "e" without digits is a Failure at the number's first byte, not a retry.
Step<double> read_number(std::string_view text) {
  // The usual number first: up to 15 digits and nothing that would continue them ("0", "1",
  // "200"), exact as an integer. Leaving these to the scanner costs the flat 100000-statement
  // workload 7.5% more instructions (62.9 million instead of 58.5 million).
  std::uint64_t whole = 0;
  std::size_t length = 0;
  for (; length < text.size() && length < 15 && is_digit(text[length]); ++length) {
    whole = whole * 10 + static_cast<std::uint64_t>(text[length] - '0');
  }
  if (length > 0 && (length == text.size() || !continues_number(text[length]))) {
    return Parsed<double>{static_cast<double>(whole), text.substr(length)};
  }
  const Result<ScannedNumber, NumberError> number = scan_number(text);
  if (!number) {
    const Severity severity =
        number.error() == NumberError::ExponentWithoutDigits ? Severity::Failure : Severity::Error;
    return fail(Fail{severity, text, ParseErrorCode::Float});
  }
  return Parsed<double>{number->value, text.substr(number->length)};
}

// comment -> "//" (any character but "\n")* "\n"
Step<std::string_view> skip_comment(std::string_view text) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos) return fail(error_at(text, ParseErrorCode::TakeUntil));
  return Parsed<std::string_view>{text.substr(0, end + 1), text.substr(end + 1)};
}

// --- Statement forms ------------------------------------------------------------------------

// A statement read up to its end, or up to the "{" of its body (opens_body), whose statements
// the caller reads next. The instruction itself goes straight into the caller's slot: moving an
// Instruction is a dispatch over 28 alternatives, which a value passed along would pay per step.
struct Statement {
  bool opens_body = false;
};

// The rest of the text and the first failure. Every step after a failure does nothing, so a
// form is written as its production with no error plumbing between the steps.
class Cursor {
 public:
  explicit Cursor(std::string_view rest) : rest_(rest) {}

  bool ok() const { return !failure_.has_value(); }
  std::string_view rest() const { return rest_; }
  const Fail& failure() const { return *failure_; }

  Cursor& ws() {
    if (ok()) rest_ = skip_ws(rest_);
    return *this;
  }
  Cursor& tag(std::string_view literal) {
    if (ok()) take(expect_tag(rest_, literal));
    return *this;
  }
  Cursor& number(double& out) {
    if (ok()) out = take(read_number(rest_)).value_or(0.0);
    return *this;
  }
  Cursor& string(std::string& out) {
    if (ok()) out = take(read_string(rest_)).value_or(std::string_view{});
    return *this;
  }
  Cursor& boolean(bool& out) {
    if (ok()) out = take(read_boolean(rest_)).value_or(false);
    return *this;
  }
  // [number]: a number that cannot begin here is absent; a Failure still fails.
  Cursor& optional_number(double& out) {
    if (!ok()) return *this;
    Step<double> step = read_number(rest_);
    if (step) {
      out = step->value;
      rest_ = step->rest;
    } else if (step.error().severity == Severity::Failure) {
      failure_ = step.error();
    }
    return *this;
  }
  // Reads a string if one can be read here; otherwise leaves the cursor where it was.
  bool try_string(std::string& out) {
    if (!ok()) return false;
    Step<std::string_view> step = read_string(rest_);
    if (!step) return false;
    out = step->value;
    rest_ = step->rest;
    return true;
  }

  template <class T>
  Step<Statement> finish(Instruction& out, T&& instruction, bool opens_body = false) const {
    if (!ok()) return fail(*failure_);
    out = std::forward<T>(instruction);
    return Parsed<Statement>{Statement{opens_body}, rest_};
  }

 private:
  template <class T>
  std::optional<T> take(Step<T> step) {
    if (!step) {
      failure_ = step.error();
      return std::nullopt;
    }
    rest_ = step->rest;
    return std::move(step->value);
  }

  std::string_view rest_;
  std::optional<Fail> failure_;
};

template <class T>
using FirstOperand =
    std::remove_cvref_t<std::tuple_element_t<0, decltype(std::declval<const T&>().operands())>>;

// Builds a one-operand instruction from a script number, saturating integer operands.
template <class T>
T from_number(double x) {
  if constexpr (std::is_same_v<FirstOperand<T>, double>) {
    return T{x};
  } else if constexpr (std::is_same_v<FirstOperand<T>, std::uint64_t>) {
    return T{saturate_u64(x)};
  } else {
    static_assert(std::is_same_v<FirstOperand<T>, std::uint8_t>);
    return T{saturate_u8(x)};
  }
}

// harmony, require_equilibrium, evolve, data, corrupt, log_level, budget_limit, time_window,
// volatility_limit, max_exposure -> "(" number ")"
template <class T>
Step<Statement> number_form(std::string_view rest, Instruction& out) {
  double value = 0.0;
  return Cursor(rest).tag("(").number(value).tag(")").finish(out, from_number<T>(value));
}

// residual, report, report_compact, report_verbose, report_json -> "(" [number] ")"
// Only Residual keeps the number (0.0 when absent); the report forms drop it.
template <class T>
Step<Statement> optional_number_form(std::string_view rest, Instruction& out) {
  double value = 0.0;
  Cursor cursor(rest);
  cursor.tag("(").optional_number(value).tag(")");
  if constexpr (std::tuple_size_v<decltype(T{}.operands())> == 0) {
    return cursor.finish(out, T{});
  } else {
    return cursor.finish(out, T{value});
  }
}

// report_to, link_identity, escalate, import -> "(" string ")"
template <class T>
Step<Statement> string_form(std::string_view rest, Instruction& out) {
  std::string text;
  Cursor cursor(rest);
  cursor.tag("(").string(text).tag(")");
  return cursor.finish(out, T{std::move(text)});
}

// track_lineage, generate_zk_proof -> "(" boolean ")"
template <class T>
Step<Statement> boolean_form(std::string_view rest, Instruction& out) {
  bool enabled = false;
  return Cursor(rest).tag("(").boolean(enabled).tag(")").finish(out, T{enabled});
}

// if_broken -> ws "{" body "}"
Step<Statement> if_broken_form(std::string_view rest, Instruction& out) {
  // Written out rather than through a Cursor: in a deep nest this is most of the text, and the
  // Cursor form costs W4 4.5% more instructions.
  rest = skip_ws(rest);
  if (rest.empty() || rest.front() != '{') return fail(error_at(rest, ParseErrorCode::Tag));
  out.emplace<Branch>();
  return Parsed<Statement>{Statement{true}, rest.substr(1)};
}

// assert_bounds -> "(" number "," ws number "," ws (string | number) ")"
// The third argument is a string if one can be read there, else it must be a number.
Step<Statement> assert_bounds_form(std::string_view rest, Instruction& out) {
  double min = 0.0;
  double max = 0.0;
  Cursor cursor(rest);
  cursor.tag("(").number(min).tag(",").ws().number(max).tag(",").ws();
  if (std::string name; cursor.try_string(name)) {
    return cursor.tag(")").finish(out, AssertBoundsNamed{min, max, std::move(name)});
  }
  double index = 0.0;
  return cursor.number(index).tag(")").finish(out, AssertBounds{min, max, saturate_u64(index)});
}

// bind -> "(" string "," ws number ")"
Step<Statement> bind_form(std::string_view rest, Instruction& out) {
  std::string key;
  double index = 0.0;
  Cursor cursor(rest);
  cursor.tag("(").string(key).tag(",").ws().number(index).tag(")");
  return cursor.finish(out, Bind{std::move(key), saturate_u64(index)});
}

// alias -> "(" number "," ws string ")"
Step<Statement> alias_form(std::string_view rest, Instruction& out) {
  double index = 0.0;
  std::string name;
  Cursor cursor(rest);
  cursor.tag("(").number(index).tag(",").ws().string(name).tag(")");
  return cursor.finish(out, Alias{saturate_u64(index), std::move(name)});
}

// bind_all -> "()"
Step<Statement> bind_all_form(std::string_view rest, Instruction& out) {
  return Cursor(rest).tag("()").finish(out, BindAll{});
}

// if_greater_than -> "(" string "," ws number ")" ws "{" body "}"
Step<Statement> if_greater_than_form(std::string_view rest, Instruction& out) {
  std::string name;
  double threshold = 0.0;
  Cursor cursor(rest);
  cursor.tag("(").string(name).tag(",").ws().number(threshold).tag(")").ws().tag("{");
  return cursor.finish(out, IfGreaterThan{std::move(name), threshold, Body{}}, true);
}

// unknown -> "(" number ")", and then it fails anyway: the name is not a keyword. Which error a
// script gets therefore depends on what follows the name.
Step<Statement> unknown_form(std::string_view name, std::string_view rest) {
  double ignored = 0.0;
  Cursor cursor(rest);
  cursor.tag("(").number(ignored).tag(")");
  if (!cursor.ok()) return fail(cursor.failure());
  return fail(error_at(name, ParseErrorCode::Tag));
}

using Form = Step<Statement> (*)(std::string_view rest_after_keyword, Instruction& out);

struct KeywordForm {
  std::string_view keyword;
  Form form;
};

// Every keyword, in the order of the instruction table ("assert_bounds" builds two variants).
constexpr std::array<KeywordForm, 27> kKeywordForms{{
    {"harmony", number_form<Harmony>},
    {"require_equilibrium", number_form<RequireEquilibrium>},
    {"evolve", number_form<Evolve>},
    {"data", number_form<Data>},
    {"corrupt", number_form<Corrupt>},
    {"residual", optional_number_form<Residual>},
    {"report", optional_number_form<Report>},
    {"report_compact", optional_number_form<ReportCompact>},
    {"report_verbose", optional_number_form<ReportVerbose>},
    {"report_to", string_form<ReportTo>},
    {"report_json", optional_number_form<ReportJson>},
    {"log_level", number_form<LogLevel>},
    {"if_broken", if_broken_form},
    {"budget_limit", number_form<BudgetLimit>},
    {"time_window", number_form<TimeWindow>},
    {"volatility_limit", number_form<VolatilityLimit>},
    {"max_exposure", number_form<MaxExposure>},
    {"assert_bounds", assert_bounds_form},
    {"link_identity", string_form<LinkIdentity>},
    {"track_lineage", boolean_form<TrackLineage>},
    {"bind", bind_form},
    {"alias", alias_form},
    {"bind_all", bind_all_form},
    {"if_greater_than", if_greater_than_form},
    {"escalate", string_form<Escalate>},
    {"import", string_form<Import>},
    {"generate_zk_proof", boolean_form<GenerateZkProof>},
}};
static_assert(kKeywordForms.size() + 1 == std::variant_size_v<InstructionKind>,
              "one keyword per variant, except that assert_bounds builds two");

// --- Statements and bodies ------------------------------------------------------------------

// The rows of kKeywordForms by the keyword's first letter, so that a name is compared with at
// most seven keywords ("r...") instead of all 27; every statement of every script comes here.
// A linear search of the table costs W2 8.6% more instructions and W4 26%.
struct KeywordIndex {
  static constexpr std::size_t kMaxPerLetter = 8;
  std::array<std::array<std::uint8_t, kMaxPerLetter>, 26> rows{};
  std::array<std::uint8_t, 26> counts{};
};

constexpr KeywordIndex make_keyword_index() {
  KeywordIndex index;
  for (std::size_t row = 0; row < kKeywordForms.size(); ++row) {
    const auto letter = static_cast<std::size_t>(kKeywordForms[row].keyword.front() - 'a');
    index.rows[letter][index.counts[letter]++] = static_cast<std::uint8_t>(row);
  }
  return index;
}

constexpr KeywordIndex kKeywordIndex = make_keyword_index();

const KeywordForm* find_keyword(std::string_view name) {
  const char first = name.front();
  if (first < 'a' || first > 'z') return nullptr;
  const auto letter = static_cast<std::size_t>(first - 'a');
  for (std::size_t i = 0; i < kKeywordIndex.counts[letter]; ++i) {
    const KeywordForm& row = kKeywordForms[kKeywordIndex.rows[letter][i]];
    if (row.keyword == name) return &row;
  }
  return nullptr;
}

// statement -> ws identifier form
Step<Statement> read_statement_head(std::string_view text, Instruction& out) {
  Step<std::string_view> name = read_identifier(skip_ws(text));
  if (!name) return fail(name.error());
  if (const KeywordForm* row = find_keyword(name->value)) return row->form(name->rest, out);
  return unknown_form(name->value, name->rest);
}

Body& body_of(Instruction& instruction) {
  if (auto* branch = std::get_if<Branch>(&instruction)) return branch->body;
  return std::get<IfGreaterThan>(instruction).body;
}

// At least as many as the script's statements: none is shorter than "data(0)". Reserving that
// much up front spares a long script the copies and fresh pages of a growing array. Pages of
// the reserve that stay unused are never touched, so the surplus costs address space only.
std::size_t statement_count_bound(std::string_view text) {
  constexpr std::size_t kShortestStatement = 7;
  return text.size() / kShortestStatement;
}

// Reservations for bodies stop here (72 MiB of instructions); a larger script grows past it.
constexpr std::size_t kLargestBodyReserve = std::size_t{1} << 20;

// The bodies being read, innermost last. A body's statements are read into `statements_` and,
// once its "}" is reached, moved as one contiguous run into the program's body storage; they are
// complete by then, nested bodies included, so nothing moves again. The statement that opened
// the body then takes its place among its parent's statements. A plain `if_broken` head has
// nothing to keep meanwhile.
//
// With `spans`, the span of every statement is recorded too, and the "{" of every open body; a
// parse without them (the verifier's) skips that bookkeeping, which costs a deep nest such as W4
// a third more instructions.
class OpenBodies {
 public:
  OpenBodies(detail::ProgramBuilder& program, std::string_view text, bool spans)
      : program_(program),
        text_(text),
        spans_on_(spans),
        reserve_(std::min(statement_count_bound(text), kLargestBodyReserve)) {}

  /// Where `at` (a view into the text) begins, saturated at 2^32 - 1.
  std::uint32_t offset(std::string_view at) const {
    const auto offset = static_cast<std::size_t>(at.data() - text_.data());
    return static_cast<std::uint32_t>(std::min<std::size_t>(offset, UINT32_MAX));
  }

  /// Opens the body of the outermost statement, which the caller holds; `after_brace` follows
  /// its "{".
  void open_outermost(std::string_view after_brace) { push(Owner::Outermost, 0, after_brace); }
  /// A slot for the next statement of the innermost open body, which begins at `at`, where it is
  /// read in place.
  Instruction& next_statement(std::string_view at) {
    if (spans_on_) spans_.push_back(SourceSpan{offset(at), 0});
    return statements_.emplace_back();
  }
  /// The statement just read into next_statement() ends where `rest` begins.
  void end_statement(std::string_view rest) {
    if (spans_on_) spans_.back().length = offset(rest) - spans_.back().offset;
  }
  /// Opens the body of the statement just read into next_statement(), which waits outside the
  /// statements until its body closes; `after_brace` follows its "{".
  void open_last(std::string_view after_brace) {
    Instruction& head = statements_.back();
    std::uint32_t start = 0;
    if (spans_on_) {
      start = spans_.back().offset;
      spans_.pop_back();
    }
    if (std::holds_alternative<Branch>(head)) {
      statements_.pop_back();
      push(Owner::Branch, start, after_brace);
    } else {
      held_.push_back(std::move(head));
      statements_.pop_back();
      push(Owner::Held, start, after_brace);
    }
  }

  /// Closes the innermost body, whose "}" comes right before `rest`; `outermost` receives it
  /// when it is the outermost one, and then true is returned.
  bool close(Instruction& outermost, std::string_view rest) {
    const std::uint64_t innermost = open_.back().body;
    if (--open_.back().count == 0) open_.pop_back();
    const auto start = static_cast<std::size_t>(innermost >> kOwnerBits);
    Body body = program_.add_body(std::span(statements_).subspan(start),
                                  spans_on_ ? std::span(spans_).subspan(start)
                                            : std::span<const SourceSpan>{});
    statements_.erase(statements_.begin() + static_cast<std::ptrdiff_t>(start), statements_.end());
    SourceSpan span;
    if (spans_on_) {
      spans_.erase(spans_.begin() + static_cast<std::ptrdiff_t>(start), spans_.end());
      span = SourceSpan{heads_.back().start, offset(rest) - heads_.back().start};
      heads_.pop_back();
    }
    switch (static_cast<Owner>(innermost & kOwnerMask)) {
      case Owner::Outermost:
        body_of(outermost) = std::move(body);
        return true;
      case Owner::Branch:
        statements_.emplace_back(Branch{std::move(body)});
        if (spans_on_) spans_.push_back(span);
        return false;
      case Owner::Held:
        body_of(held_.back()) = std::move(body);
        statements_.push_back(std::move(held_.back()));
        if (spans_on_) spans_.push_back(span);
        held_.pop_back();
        return false;
    }
    return false;
  }

  /// The offset of the "{" of the innermost open body, when spans are kept.
  std::optional<std::uint32_t> innermost_brace() const {
    if (spans_on_) return heads_.back().brace;
    return std::nullopt;
  }

 private:
  // Who receives a body when it closes. Packed with the index where its statements start.
  enum class Owner : std::uint64_t { Outermost, Branch, Held };
  static constexpr unsigned kOwnerBits = 2;
  static constexpr std::uint64_t kOwnerMask = (std::uint64_t{1} << kOwnerBits) - 1;

  void push(Owner owner, std::uint32_t head_start, std::string_view after_brace) {
    if (open_.empty()) program_.expect_body_instructions(reserve_);
    if (spans_on_) heads_.push_back(Head{head_start, offset(after_brace) - 1});
    const std::uint64_t body =
        std::uint64_t{statements_.size()} << kOwnerBits | static_cast<std::uint64_t>(owner);
    if (!open_.empty() && open_.back().body == body) {
      ++open_.back().count;
    } else {
      open_.push_back(OpenRun{body, 1});
    }
  }

  // Open bodies that start at the same index with the same owner, as one entry: a nest of
  // blocks that each open first in their parent costs nothing per level. An entry per body
  // costs W4 4.7% more instructions, and a million-deep nest 15 MB more.
  struct OpenRun {
    std::uint64_t body;  // the index where its statements start, and its Owner
    std::uint64_t count;
  };
  // Where the statement that opened a body begins, and where its "{" stands.
  struct Head {
    std::uint32_t start;
    std::uint32_t brace;
  };

  detail::ProgramBuilder& program_;
  std::string_view text_;
  bool spans_on_;
  std::size_t reserve_;
  std::vector<Instruction, detail::HugePageAllocator<Instruction>> statements_;
  std::vector<SourceSpan> spans_;  // of `statements_`, as many (with spans on)
  std::vector<Instruction> held_;  // heads of open bodies other than a plain if_broken
  std::vector<OpenRun> open_;      // innermost last
  std::vector<Head> heads_;        // one per open body, innermost last (with spans on)
};

// A failure inside a block: the "{" of the innermost open block is kept, for a message about
// a missing "}".
struct BlockFail {
  Fail failure;
  std::optional<std::uint32_t> open_brace;
};

// The body of `out`, whose head has just been read (`rest` follows its "{"), up to the "}" that
// closes it.
Result<std::string_view, BlockFail> read_open_body(std::string_view rest, Instruction& out,
                                                   OpenBodies& open) {
  open.open_outermost(rest);
  while (true) {
    // Close every body that ends here; stop at the next statement.
    while (true) {
      rest = skip_ws(rest);
      if (rest.empty()) {  // "}" is missing
        return fail(BlockFail{error_at(rest, ParseErrorCode::Tag), open.innermost_brace()});
      }
      if (rest.front() != '}') break;
      rest.remove_prefix(1);
      if (open.close(out, rest)) return rest;
    }
    Step<Statement> head = read_statement_head(rest, open.next_statement(rest));
    if (!head) return fail(BlockFail{head.error(), std::nullopt});
    rest = head->rest;
    if (head->value.opens_body) {
      open.open_last(rest);
    } else {
      open.end_statement(rest);
    }
  }
}

// statement, where a form that opens a body continues with
// body -> (ws statement)* ws, closed by "}" ("}" missing at the end of the text: Tag, input "")
// The statement goes to `out`; the rest of the text after it is returned. Most statements open
// no body and are read without the stack of open bodies.
Result<std::string_view, BlockFail> read_statement(std::string_view text, Instruction& out,
                                                   OpenBodies& open) {
  Step<Statement> head = read_statement_head(text, out);
  if (!head) return fail(BlockFail{head.error(), std::nullopt});
  if (!head->value.opens_body) return head->rest;
  return read_open_body(head->rest, out, open);
}

constexpr std::array<std::string_view, 4> kCodeNames{"Tag", "TakeUntil", "TakeWhile1", "Float"};

constexpr std::size_t kFirstTopLevelReserve = 4096;

// program -> (ws (comment | statement))* ws
Result<Program, ParseError> parse(std::string_view text, bool spans_on) {
  detail::ProgramBuilder builder;
  auto& top = builder.instructions();
  auto& spans = builder.spans();
  // Room for the top-level statements comes in two steps: a script whose statements are mostly
  // inside bodies (or one deep nest) never touches more than the first.
  const std::size_t bound = statement_count_bound(text);
  top.reserve(std::min(bound, kFirstTopLevelReserve));
  OpenBodies open(builder, text, spans_on);
  std::string_view rest = text;
  while (true) {
    rest = skip_ws(rest);
    if (rest.empty()) {
      // A large surplus (comments, statements nested in bodies) is given back.
      if (top.size() < top.capacity() / 4) top.shrink_to_fit();
      return std::move(builder).finish();
    }
    if (rest.starts_with("//")) {
      Step<std::string_view> comment = skip_comment(rest);
      if (!comment) return fail(owned(comment.error(), text));
      rest = comment->rest;
      continue;
    }
    if (top.size() == top.capacity()) top.reserve(std::max(bound, 2 * top.size()));
    // Read in place: the slot stays put while the statement is read, as nothing else is added
    // to the top level meanwhile.
    const std::uint32_t start = open.offset(rest);
    auto statement = read_statement(rest, top.emplace_back(), open);
    if (!statement) {
      return fail(owned(statement.error().failure, text, statement.error().open_brace));
    }
    rest = *statement;
    if (spans_on) spans.push_back(SourceSpan{start, open.offset(rest) - start});
  }
}

}  // namespace

std::string parse_error_text(const ParseError& error) {
  std::string out = error.severity == Severity::Error ? "Error" : "Failure";
  out += "(Error { input: ";
  append_quoted_text(out, error.input);
  out += ", code: ";
  out += kCodeNames[static_cast<std::size_t>(error.code)];
  out += " })";
  return out;
}


Result<Program, ParseError> parse_program(std::string_view text, ParseOptions options) {
  if (options.spans) return parse(text, true);
  auto program = parse(text, false);
  // Only the parse with spans knows the "{" of a block left open; parsing is pure, so the
  // second parse fails the same way.
  if (!program && program.error().input.empty() && program.error().code == ParseErrorCode::Tag) {
    return parse(text, true);
  }
  return program;
}

Result<Parsed<Program>, ParseError> parse_statement(std::string_view text) {
  detail::ProgramBuilder builder;
  OpenBodies open(builder, text, true);
  auto statement = read_statement(text, builder.instructions().emplace_back(), open);
  if (!statement) {
    return fail(owned(statement.error().failure, text, statement.error().open_brace));
  }
  const std::uint32_t start = open.offset(skip_ws(text));
  builder.spans().push_back(SourceSpan{start, open.offset(*statement) - start});
  return Parsed<Program>{std::move(builder).finish(), *statement};
}

}  // namespace tarn::lang
