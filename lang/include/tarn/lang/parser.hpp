// The policy-script parser: script text in, a Program or a ParseError out.
//
// All or nothing: the first error ends the parse and no partial Program survives. Errors are
// values that carry the rest of the text at the failing step, so the exact parse-error text
// follows from {severity, input, code}. Nesting depth is bounded only by memory: open bodies live
// on an explicit stack, never on the call stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tarn/lang/instruction.hpp"
#include "tarn/lang/result.hpp"

namespace tarn::lang {

enum class Severity { Error, Failure };
enum class ParseErrorCode { Tag, TakeUntil, TakeWhile1, Float };

/// What the parser was reading where it failed: the grammar element it expected there. It does
/// not enter the error's text; messages for people are built from it (diagnostics.hpp).
enum class ParseExpectation : std::uint8_t {
  Statement,       // a statement's name: a stray "}", "(", "//" inside a block
  Keyword,         // the name read is no keyword (whatever failed after it)
  OpenParen,       // "("
  CloseParen,      // ")"
  Comma,           // ","
  EmptyParens,     // the "()" of bind_all
  OpenBrace,       // the "{" of a block
  CloseBrace,      // the "}" of a block left open at the end of the text
  String,          // a string's opening quote
  StringEnd,       // a string's closing quote
  Boolean,         // true or false
  Number,          // a number
  ExponentDigits,  // the digits of an exponent ("1e")
  StringOrNumber,  // the third argument of assert_bounds
  CommentEnd,      // the line feed that ends a comment
};

struct ParseError {
  Severity severity = Severity::Error;
  std::string input;  // the rest of the text from the failing step (owned: imported texts die)
  ParseErrorCode code = ParseErrorCode::Tag;
  /// Where parsing failed: the byte offset in the text where `input` begins (for an unrecognised
  /// name, where the name begins).
  std::size_t offset = 0;
  /// For a block left open at the end of the text: the offset of the "{" of the innermost one.
  std::optional<std::size_t> open_brace;
  ParseExpectation expected = ParseExpectation::Statement;
  /// With spans (ParseOptions): where the statement that failed begins. None for a comment, a
  /// block left open, and in a parse without spans.
  std::optional<std::size_t> statement;
  friend bool operator==(const ParseError&, const ParseError&) = default;
};

/// **Example**: `Error(Error { input: "foo", code: Tag })`, `Failure(Error { input: "1e)", code: Float })`.
std::string parse_error_text(const ParseError& error);

/// A place in a text as people count it: both from 1, a column counting characters (a tab is
/// one, a character of several bytes is one).
struct LineColumn {
  std::uint32_t line = 1;
  std::uint32_t column = 1;
  friend bool operator==(const LineColumn&, const LineColumn&) = default;
};

/// The line and column of byte `offset` of a UTF-8 `text` (the end of the text for a larger
/// offset). **Example**: line_column("a\n\u00e9b", 4) -> {2, 2}.
LineColumn line_column(std::string_view text, std::size_t offset);

template <class T>
struct Parsed {
  T value;
  std::string_view rest;
};

struct ParseOptions {
  /// Record where each statement stands (Program::span, Body::span). A parse without spans is
  /// faster and gives each statement the span {0, 0}; its errors are the same.
  bool spans = true;
};

/// Parses a whole script. On success the whole text has been consumed.
/// **Example**: parse_program("report()\nevolve(1)") -> [Report, Evolve(1)].
Result<Program, ParseError> parse_program(std::string_view text, ParseOptions options = {});

/// Where the statement that `path` names stands in `text`: path[0] is the index of a top-level
/// statement, each further index that of a statement in the body of the one before. Reads only
/// the text up to that statement, and keeps none of it: for a program parsed without spans,
/// once a place in it is wanted. None when the text holds no such statement.
/// **Example**: statement_span("report()\nif_broken { evolve(1) }", {1, 0}) -> {21, 9}.
std::optional<SourceSpan> statement_span(std::string_view text, std::span<const std::size_t> path);

/// Parses one statement (leading white space skipped) and returns it, as a program of that one
/// statement (which holds its bodies), with the text after it.
Result<Parsed<Program>, ParseError> parse_statement(std::string_view text);

}  // namespace tarn::lang
