// The statements of the script language, one at a time: the lexical elements and the form of
// each keyword. The parser (parser.cpp) puts statements together into programs and bodies.
//
// Shape: a std::string_view cursor moves left to right through the text once. There is one
// primitive per lexical element (skip_ws, expect_tag, read_identifier, read_string, read_number,
// read_boolean, skip_comment); each takes the rest of the text and returns the value and the new
// rest, or a failure that views the rest at the failing step. Statement forms are chained
// through a Cursor that keeps the first failure, so each form reads like its grammar production.
// Keywords map to forms in one table.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "program_storage.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/result.hpp"

namespace tarn::lang::detail {

// A failure while the text is still borrowed: `at` views the rest of the text at the failing
// step, or the name itself for an unrecognised name. `expected` fills the padding after `code`,
// so a failure is no larger than without it.
struct Fail {
  Severity severity = Severity::Error;
  std::string_view at;
  ParseErrorCode code = ParseErrorCode::Tag;
  ParseExpectation expected = ParseExpectation::Statement;
};

template <class T>
using Step = Result<Parsed<T>, Fail>;

inline Fail error_at(std::string_view at, ParseErrorCode code, ParseExpectation expected) {
  return {Severity::Error, at, code, expected};
}

// A statement read up to its end, or up to the "{" of its body (opens_body), whose statements
// the caller reads next. The instruction itself goes straight into the caller's slot: moving an
// Instruction is a dispatch over 28 alternatives, which a value passed along would pay per step.
struct Statement {
  bool opens_body = false;
};

constexpr bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// ws -> (" " | "\t" | "\n" | "\r")*
inline std::string_view skip_ws(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_ws(text[i])) ++i;
  text.remove_prefix(i);
  return text;
}

// comment -> "//" (any character but "\n")* "\n"
Step<std::string_view> skip_comment(std::string_view text);

// statement -> ws identifier form
// The head of a statement, into `out`: a whole statement, or one up to the "{" of its body.
// Texts and operands held apart are made in `program`'s storage.
Step<Statement> read_statement_head(std::string_view text, Instruction& out,
                                    ProgramBuilder& program);

/// Every keyword, in the order of the instruction table (for suggestions in messages).
std::span<const std::string_view> keywords();

}  // namespace tarn::lang::detail
