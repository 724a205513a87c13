// The policy-script parser: programs and bodies out of statements (statement_forms.cpp reads
// each statement).
//
// Bodies never recurse: a statement that opens a body is
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
#include "statement_forms.hpp"

namespace tarn::lang {
namespace {

using detail::error_at;
using detail::Fail;
using detail::read_statement_head;
using detail::skip_comment;
using detail::skip_ws;
using detail::Statement;
using detail::Step;

// The failure as an owned ParseError, with the place in `text` where it happened.
ParseError owned(const Fail& failure, std::string_view text,
                 std::optional<std::uint32_t> open_brace = std::nullopt) {
  // `at` views the text: the rest of it from the failing step, or the unrecognised name.
  const auto offset = static_cast<std::size_t>(failure.at.data() - text.data());
  return {failure.severity, std::string(failure.at), failure.code, offset, open_brace,
          failure.expected, std::nullopt};
}

Body& body_of(Instruction& instruction) {
  if (auto* branch = std::get_if<Branch>(&instruction)) return branch->body;
  return detail::ProgramBuilder::body_of(std::get<IfGreaterThan>(instruction));
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
// With kSpans, the span of every statement is recorded too, and the "{" of every open body; a
// parse without them (the verifier's) skips that bookkeeping, which costs a deep nest such as W4
// a third more instructions. A template rather than a flag: tested at run time, the flag alone
// cost W2 7% and W6 3% (59.3 M against 55.6 M, 113.4 M against 109.7 M).
template <bool kSpans>
class OpenBodies {
 public:
  OpenBodies(detail::ProgramBuilder& program, std::string_view text)
      : program_(program),
        text_(text),
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
    if constexpr (kSpans) spans_.push_back(SourceSpan{offset(at), 0});
    return statements_.emplace_back();
  }
  /// The statement just read into next_statement() ends where `rest` begins.
  void end_statement(std::string_view rest) {
    if constexpr (kSpans) spans_.back().length = offset(rest) - spans_.back().offset;
  }
  /// Opens the body of the statement just read into next_statement(), which waits outside the
  /// statements until its body closes; `after_brace` follows its "{".
  void open_last(std::string_view after_brace) {
    Instruction& head = statements_.back();
    std::uint32_t start = 0;
    if constexpr (kSpans) {
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
                                  kSpans ? std::span(spans_).subspan(start)
                                         : std::span<const SourceSpan>{});
    statements_.erase(statements_.begin() + static_cast<std::ptrdiff_t>(start), statements_.end());
    SourceSpan span;
    if constexpr (kSpans) {
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
        if constexpr (kSpans) spans_.push_back(span);
        return false;
      case Owner::Held:
        body_of(held_.back()) = std::move(body);
        statements_.push_back(std::move(held_.back()));
        if constexpr (kSpans) spans_.push_back(span);
        held_.pop_back();
        return false;
    }
    return false;
  }

  /// Where the statement being read when a parse failed begins, when spans are kept and it
  /// stands in a body (the caller knows where a top-level one begins).
  std::optional<std::uint32_t> failing_statement() const {
    if constexpr (kSpans) {
      if (!open_.empty() && !spans_.empty()) return spans_.back().offset;
    }
    return std::nullopt;
  }

  /// The builder of the program, for the texts and operands of statements.
  detail::ProgramBuilder& program() { return program_; }

  /// The offset of the "{" of the innermost open body, when spans are kept.
  std::optional<std::uint32_t> innermost_brace() const {
    if constexpr (kSpans) {
      return heads_.back().brace;
    } else {
      return std::nullopt;
    }
  }

 private:
  // Who receives a body when it closes. Packed with the index where its statements start.
  enum class Owner : std::uint64_t { Outermost, Branch, Held };
  static constexpr unsigned kOwnerBits = 2;
  static constexpr std::uint64_t kOwnerMask = (std::uint64_t{1} << kOwnerBits) - 1;

  void push(Owner owner, std::uint32_t head_start, std::string_view after_brace) {
    if (open_.empty()) program_.expect_body_instructions(reserve_);
    if constexpr (kSpans) heads_.push_back(Head{head_start, offset(after_brace) - 1});
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
template <bool kSpans>
Result<std::string_view, BlockFail> read_open_body(std::string_view rest, Instruction& out,
                                                   OpenBodies<kSpans>& open) {
  open.open_outermost(rest);
  while (true) {
    // Close every body that ends here; stop at the next statement.
    while (true) {
      rest = skip_ws(rest);
      if (rest.empty()) {  // "}" is missing
        return fail(BlockFail{error_at(rest, ParseErrorCode::Tag, ParseExpectation::CloseBrace),
                              open.innermost_brace()});
      }
      if (rest.front() != '}') break;
      rest.remove_prefix(1);
      if (open.close(out, rest)) return rest;
    }
    Step<Statement> head = read_statement_head(rest, open.next_statement(rest), open.program());
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
template <bool kSpans>
Result<std::string_view, BlockFail> read_statement(std::string_view text, Instruction& out,
                                                   OpenBodies<kSpans>& open) {
  Step<Statement> head = read_statement_head(text, out, open.program());
  if (!head) return fail(BlockFail{head.error(), std::nullopt});
  if (!head->value.opens_body) return head->rest;
  return read_open_body(head->rest, out, open);
}

constexpr std::array<std::string_view, 4> kCodeNames{"Tag", "TakeUntil", "TakeWhile1", "Float"};

constexpr std::size_t kFirstTopLevelReserve = 4096;

// program -> (ws (comment | statement))* ws
template <bool kSpans>
Result<Program, ParseError> parse(std::string_view text) {
  detail::ProgramBuilder builder;
  auto& top = builder.instructions();
  auto& spans = builder.spans();
  // Room for the top-level statements comes in two steps: a script whose statements are mostly
  // inside bodies (or one deep nest) never touches more than the first.
  const std::size_t bound = statement_count_bound(text);
  top.reserve(std::min(bound, kFirstTopLevelReserve));
  OpenBodies<kSpans> open(builder, text);
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
      ParseError error = owned(statement.error().failure, text, statement.error().open_brace);
      if constexpr (kSpans) {
        if (!error.open_brace) error.statement = open.failing_statement().value_or(start);
      }
      return fail(std::move(error));
    }
    rest = *statement;
    if constexpr (kSpans) spans.push_back(SourceSpan{start, open.offset(rest) - start});
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
  if (options.spans) return parse<true>(text);
  auto program = parse<false>(text);
  // Only the parse with spans knows the "{" of a block left open; parsing is pure, so the
  // second parse fails the same way.
  if (!program && program.error().input.empty() && program.error().code == ParseErrorCode::Tag) {
    return parse<true>(text);
  }
  return program;
}

std::optional<SourceSpan> statement_span(std::string_view text,
                                         std::span<const std::size_t> path) {
  if (path.empty()) return std::nullopt;
  // The statements before the one wanted are read and dropped, without their spans: a long
  // script holds no second tree of itself, and no statement after the one wanted is read.
  detail::ProgramBuilder scratch;
  OpenBodies<false> open(scratch, text);
  std::string_view rest = text;
  for (std::size_t i = 0;;) {
    rest = skip_ws(rest);
    if (rest.empty()) return std::nullopt;
    if (rest.starts_with("//")) {
      Step<std::string_view> comment = skip_comment(rest);
      if (!comment) return std::nullopt;
      rest = comment->rest;
      continue;
    }
    if (i == path.front()) break;
    Instruction dropped;
    auto statement = read_statement(rest, dropped, open);
    if (!statement) return std::nullopt;
    rest = *statement;
    ++i;
  }
  auto wanted = parse_statement(rest);
  if (!wanted) return std::nullopt;
  const Program& tree = wanted->value;
  SourceSpan span = tree.span(0);
  const Instruction* at = &tree[0];
  for (const std::size_t index : path.subspan(1)) {
    const Body* body = body_of(*at);
    if (body == nullptr || index >= body->size()) return std::nullopt;
    span = body->span(index);
    at = &(*body)[index];
  }
  span.offset += open.offset(rest);
  return span;
}

Result<Parsed<Program>, ParseError> parse_statement(std::string_view text) {
  detail::ProgramBuilder builder;
  OpenBodies<true> open(builder, text);
  auto statement = read_statement(text, builder.instructions().emplace_back(), open);
  const std::uint32_t start = open.offset(skip_ws(text));
  if (!statement) {
    ParseError error = owned(statement.error().failure, text, statement.error().open_brace);
    if (!error.open_brace) error.statement = open.failing_statement().value_or(start);
    return fail(std::move(error));
  }
  builder.spans().push_back(SourceSpan{start, open.offset(*statement) - start});
  return Parsed<Program>{std::move(builder).finish(), *statement};
}

}  // namespace tarn::lang
