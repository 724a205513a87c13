// The formatter: the source text rewritten around the spans of a parse.
//
// The parse tells where every statement stands (Program::span, Body::span). What lies between two
// top-level statements is white space and comments only; what lies between the statements of a
// block is white space only (the language has no comments there); inside a statement the only
// white space the grammar allows stands after a comma and before a block's "{". So the layout is
// decided at those places alone, and every other byte (names, numbers, strings, comments) is
// copied as it stands. Blocks nest to any depth, so they are walked with an explicit stack.
#include "tarn/lang/format.hpp"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tarn/lang/instruction.hpp"

#ifndef NDEBUG
#include <cassert>
#endif

namespace tarn::lang {
namespace {

constexpr std::size_t kIndent = 2;  // spaces per block level

/// White space as the language knows it: these four characters and no others.
bool is_white_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::size_t end_of(SourceSpan span) { return std::size_t{span.offset} + span.length; }

/// At least one blank line in a stretch of white space: two line feeds or more.
bool holds_blank_line(std::string_view white_space) {
  return std::count(white_space.begin(), white_space.end(), '\n') >= 2;
}

/// Writes a statement from `at` up to `end` or up to the "{" of its block, whichever comes
/// first, without its white space: ", " after each comma, " {" for the brace. Strings are copied
/// whole, so a comma, a brace or a line break inside one stays as it is. Returns where it stopped:
/// the brace's offset, or `end`.
/// **Example**: `if_greater_than("a, {b}",\n 5){` -> `if_greater_than("a, {b}", 5) {`.
std::size_t write_statement_head(std::string& out, std::string_view text, std::size_t at,
                                 std::size_t end) {
  while (at < end) {
    const char c = text[at];
    if (c == '"') {
      const std::size_t closing = text.find('"', at + 1);  // there is one: the text parsed
      out.append(text.substr(at, closing + 1 - at));
      at = closing + 1;
      continue;
    }
    if (c == '{') {
      out += " {";
      return at;
    }
    if (!is_white_space(c)) {
      out += c;
      if (c == ',') out += ' ';
    }
    ++at;
  }
  return end;
}

/// A block being written: its statements, the next one to write, and where the text written so
/// far ends (the "{", or the last statement written).
struct OpenBlock {
  const Body* body;
  std::size_t next;
  std::size_t written_to;
};

/// Writes one statement at the current place of `out` (its line already indented); a block is
/// written whole, one statement per line, "}" on a line of its own.
void write_statement(std::string& out, std::string_view text, const Instruction& statement,
                     SourceSpan span) {
  std::vector<OpenBlock> open;
  const auto write_one = [&](const Instruction& instruction, SourceSpan where) {
    const std::size_t stop = write_statement_head(out, text, where.offset, end_of(where));
    if (const Body* body = body_of(instruction)) open.push_back({body, 0, stop + 1});
  };
  write_one(statement, span);
  while (!open.empty()) {
    OpenBlock& block = open.back();
    const std::size_t depth = open.size();
    if (block.next == block.body->size()) {
      open.pop_back();
      out += '\n';
      out.append(kIndent * open.size(), ' ');
      out += '}';
      continue;
    }
    const std::size_t i = block.next++;
    const SourceSpan where = block.body->span(i);
    // A blank line between two statements of a block stays (one); none right after the "{".
    const bool blank = i > 0 && holds_blank_line(text.substr(block.written_to,
                                                             where.offset - block.written_to));
    block.written_to = end_of(where);  // before write_one, which may grow `open`
    out += blank ? "\n\n" : "\n";
    out.append(kIndent * depth, ' ');
    write_one((*block.body)[i], where);
  }
}

/// A comment as it stands, "//" up to its line feed, without the white space at its end (a
/// carriage return of a CRLF line, say).
std::string_view comment_at(std::string_view text, std::size_t at) {
  std::string_view comment = text.substr(at, text.find('\n', at) - at);
  while (!comment.empty() && is_white_space(comment.back())) comment.remove_suffix(1);
  return comment;
}

/// Writes what stands between two top-level items, text[from, to): white space and comments.
/// `line_feeds` counts the line feeds since the last item written and is left at the count
/// after the last comment, for the statement that follows.
void write_gap(std::string& out, std::string_view text, std::size_t from, std::size_t to,
               std::size_t& line_feeds) {
  std::size_t at = from;
  while (at < to) {
    const char c = text[at];
    if (is_white_space(c)) {
      if (c == '\n') ++line_feeds;
      ++at;
      continue;
    }
    // A comment: the text parsed, so "//" stands here and a line feed ends it. With no line
    // feed since the last item, that item is a statement and the comment stays on its line.
    if (!out.empty()) out += line_feeds == 0 ? " " : line_feeds == 1 ? "\n" : "\n\n";
    out.append(comment_at(text, at));
    at = text.find('\n', at) + 1;
    line_feeds = 1;
  }
}

std::string format_program(std::string_view text, const Program& program) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t written_to = 0;
  std::size_t line_feeds = 0;
  for (std::size_t i = 0; i < program.size(); ++i) {
    const SourceSpan span = program.span(i);
    write_gap(out, text, written_to, span.offset, line_feeds);
    if (!out.empty()) out += line_feeds >= 2 ? "\n\n" : "\n";
    write_statement(out, text, program[i], span);
    written_to = end_of(span);
    line_feeds = 0;
  }
  write_gap(out, text, written_to, text.size(), line_feeds);
  if (!out.empty()) out += '\n';
  return out;
}

}  // namespace

Result<std::string, ParseError> format_policy(std::string_view text) {
  auto program = parse_program(text);
  if (!program) return fail(std::move(program.error()));
  std::string formatted = format_program(text, *program);
#ifndef NDEBUG
  // The formatter's two promises: the same instructions, and a fixed point.
  auto again = parse_program(formatted);
  assert(again && canonical_lines(*again) == canonical_lines(*program));
  assert(format_program(formatted, *again) == formatted);
#endif
  return formatted;
}

}  // namespace tarn::lang
