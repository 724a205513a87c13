// The statements of the script language, one at a time: see statement_forms.hpp.
//
// A separate unit from the parser's assembly of programs: g++ inlines the small steps of the
// forms (tags, numbers, strings) into each form only while this unit stays small. In one unit
// with the assembly, W2 took 6% more instructions (63.2 M against 59.3 M).
#include "statement_forms.hpp"

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

#include "tarn/lang/number_syntax.hpp"
#include "unicode.hpp"

namespace tarn::lang::detail {
namespace {

// --- Lexical elements -----------------------------------------------------------------------

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

// What a missing tag is, for messages: "(", ")", ",", "{" or the "()" of bind_all.
constexpr ParseExpectation expectation_of(std::string_view literal) {
  if (literal.size() == 2) return ParseExpectation::EmptyParens;
  switch (literal.front()) {
    case '(': return ParseExpectation::OpenParen;
    case ')': return ParseExpectation::CloseParen;
    case ',': return ParseExpectation::Comma;
    default: return ParseExpectation::OpenBrace;
  }
}

// tag -> the literal text, byte for byte
Step<std::string_view> expect_tag(std::string_view text, std::string_view literal) {
  const bool matches = text.size() >= literal.size() && same_bytes(literal, text);
  if (!matches) return fail(error_at(text, ParseErrorCode::Tag, expectation_of(literal)));
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
  if (i == 0) return fail(error_at(text, ParseErrorCode::TakeWhile1, ParseExpectation::Statement));
  return Parsed<std::string_view>{text.substr(0, i), text.substr(i)};
}

// string -> "\"" (any character but "\"")* "\""      (no escapes; line breaks allowed)
Step<std::string_view> read_string(std::string_view text) {
  if (!text.starts_with('"')) {
    return fail(error_at(text, ParseErrorCode::Tag, ParseExpectation::String));
  }
  const std::string_view inside = text.substr(1);
  const std::size_t close = inside.find('"');
  if (close == std::string_view::npos) {
    return fail(error_at(inside, ParseErrorCode::TakeUntil, ParseExpectation::StringEnd));
  }
  return Parsed<std::string_view>{inside.substr(0, close), inside.substr(close + 1)};
}

// boolean -> "true" | "false"      (a prefix match: "trueish" leaves "ish")
Step<bool> read_boolean(std::string_view text) {
  if (text.starts_with("true")) return Parsed<bool>{true, text.substr(4)};
  if (text.starts_with("false")) return Parsed<bool>{false, text.substr(5)};
  return fail(error_at(text, ParseErrorCode::Tag, ParseExpectation::Boolean));
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
    if (number.error() == NumberError::ExponentWithoutDigits) {
      return fail(Fail{Severity::Failure, text, ParseErrorCode::Float,
                       ParseExpectation::ExponentDigits});
    }
    return fail(error_at(text, ParseErrorCode::Float, ParseExpectation::Number));
  }
  return Parsed<double>{number->value, text.substr(number->length)};
}

// --- Statement forms ------------------------------------------------------------------------

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
  Cursor& string(std::string_view& out) {
    if (ok()) out = take(read_string(rest_)).value_or(std::string_view{});
    return *this;
  }
  Cursor& boolean(bool& out) {
    if (ok()) out = take(read_boolean(rest_)).value_or(false);
    return *this;
  }
  // Names what was expected where the form failed, when the failure belongs to a larger element
  // than its step (an unknown name, whatever failed after it). Expectations only feed messages;
  // the error's text stays the step's.
  Cursor& expecting(ParseExpectation expected) {
    if (!ok()) failure_->expected = expected;
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
  bool try_string(std::string_view& out) {
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
Step<Statement> number_form(std::string_view rest, Instruction& out, ProgramBuilder&) {
  double value = 0.0;
  return Cursor(rest).tag("(").number(value).tag(")").finish(out, from_number<T>(value));
}

// residual, report, report_compact, report_verbose, report_json -> "(" [number] ")"
// Only Residual keeps the number (0.0 when absent); the report forms drop it.
template <class T>
Step<Statement> optional_number_form(std::string_view rest, Instruction& out, ProgramBuilder&) {
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
Step<Statement> string_form(std::string_view rest, Instruction& out, ProgramBuilder& program) {
  std::string_view text;
  Cursor cursor(rest);
  cursor.tag("(").string(text).tag(")");
  if (!cursor.ok()) return fail(cursor.failure());
  return cursor.finish(out, T{program.text(text)});
}

// track_lineage, generate_zk_proof -> "(" boolean ")"
template <class T>
Step<Statement> boolean_form(std::string_view rest, Instruction& out, ProgramBuilder&) {
  bool enabled = false;
  return Cursor(rest).tag("(").boolean(enabled).tag(")").finish(out, T{enabled});
}

// if_broken -> ws "{" body "}"
Step<Statement> if_broken_form(std::string_view rest, Instruction& out, ProgramBuilder&) {
  // Written out rather than through a Cursor: in a deep nest this is most of the text, and the
  // Cursor form costs W4 4.5% more instructions.
  rest = skip_ws(rest);
  if (rest.empty() || rest.front() != '{') {
    return fail(error_at(rest, ParseErrorCode::Tag, ParseExpectation::OpenBrace));
  }
  out.emplace<Branch>();
  return Parsed<Statement>{Statement{true}, rest.substr(1)};
}

// assert_bounds -> "(" number "," ws number "," ws (string | number) ")"
// The third argument is a string if one can be read there, else it must be a number.
Step<Statement> assert_bounds_form(std::string_view rest, Instruction& out,
                                   ProgramBuilder& program) {
  double min = 0.0;
  double max = 0.0;
  Cursor cursor(rest);
  cursor.tag("(").number(min).tag(",").ws().number(max).tag(",").ws();
  if (std::string_view name; cursor.try_string(name)) {
    if (!cursor.tag(")").ok()) return fail(cursor.failure());
    return cursor.finish(out, program.make<AssertBoundsNamed>(min, max, program.text(name)));
  }
  double index = 0.0;
  // The cursor is still good here only when no string could be read, so a failure of this
  // number is the failure of the whole third argument.
  if (cursor.ok()) cursor.number(index).expecting(ParseExpectation::StringOrNumber);
  if (!cursor.tag(")").ok()) return fail(cursor.failure());
  return cursor.finish(out, program.make<AssertBounds>(min, max, saturate_u64(index)));
}

// bind -> "(" string "," ws number ")"
Step<Statement> bind_form(std::string_view rest, Instruction& out, ProgramBuilder& program) {
  std::string_view key;
  double index = 0.0;
  Cursor cursor(rest);
  cursor.tag("(").string(key).tag(",").ws().number(index).tag(")");
  if (!cursor.ok()) return fail(cursor.failure());
  return cursor.finish(out, program.make<Bind>(program.text(key), saturate_u64(index)));
}

// alias -> "(" number "," ws string ")"
Step<Statement> alias_form(std::string_view rest, Instruction& out, ProgramBuilder& program) {
  double index = 0.0;
  std::string_view name;
  Cursor cursor(rest);
  cursor.tag("(").number(index).tag(",").ws().string(name).tag(")");
  if (!cursor.ok()) return fail(cursor.failure());
  return cursor.finish(out, program.make<Alias>(saturate_u64(index), program.text(name)));
}

// bind_all -> "()"
Step<Statement> bind_all_form(std::string_view rest, Instruction& out, ProgramBuilder&) {
  return Cursor(rest).tag("()").finish(out, BindAll{});
}

// if_greater_than -> "(" string "," ws number ")" ws "{" body "}"
Step<Statement> if_greater_than_form(std::string_view rest, Instruction& out,
                                     ProgramBuilder& program) {
  std::string_view name;
  double threshold = 0.0;
  Cursor cursor(rest);
  cursor.tag("(").string(name).tag(",").ws().number(threshold).tag(")").ws().tag("{");
  if (!cursor.ok()) return fail(cursor.failure());
  return cursor.finish(out, program.make<IfGreaterThan>(program.text(name), threshold, Body{}),
                       true);
}

// unknown -> "(" number ")", and then it fails anyway: the name is not a keyword. Which error a
// script gets therefore depends on what follows the name.
Step<Statement> unknown_form(std::string_view name, std::string_view rest) {
  double ignored = 0.0;
  Cursor cursor(rest);
  cursor.tag("(").number(ignored).tag(")").expecting(ParseExpectation::Keyword);
  if (!cursor.ok()) return fail(cursor.failure());
  return fail(error_at(name, ParseErrorCode::Tag, ParseExpectation::Keyword));
}

using Form = Step<Statement> (*)(std::string_view rest_after_keyword, Instruction& out,
                                 ProgramBuilder& program);

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

}  // namespace

std::span<const std::string_view> keywords() {
  static constexpr std::array<std::string_view, kKeywordForms.size()> kNames = [] {
    std::array<std::string_view, kKeywordForms.size()> names{};
    for (std::size_t i = 0; i < names.size(); ++i) names[i] = kKeywordForms[i].keyword;
    return names;
  }();
  return kNames;
}

// comment -> "//" (any character but "\n")* "\n"
Step<std::string_view> skip_comment(std::string_view text) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos) {
    return fail(error_at(text, ParseErrorCode::TakeUntil, ParseExpectation::CommentEnd));
  }
  return Parsed<std::string_view>{text.substr(0, end + 1), text.substr(end + 1)};
}

// statement -> ws identifier form
Step<Statement> read_statement_head(std::string_view text, Instruction& out,
                                    ProgramBuilder& program) {
  Step<std::string_view> name = read_identifier(skip_ws(text));
  if (!name) return fail(name.error());
  if (const KeywordForm* row = find_keyword(name->value)) return row->form(name->rest, out, program);
  return unknown_form(name->value, name->rest);
}

}  // namespace tarn::lang::detail
