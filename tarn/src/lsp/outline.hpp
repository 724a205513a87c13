// What an editor asks about a policy's text while it is being typed, and so often does not
// parse: which statements make aliases and imports, where the blocks are, what is under the
// cursor. Read from the text's tokens alone, in one pass that holds only the last few of them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::tool::lsp {

/// A token: a word (a keyword, a number, true or false: letters, digits, "_", ".", "+", "-" and
/// every character beyond ASCII), a string, or one character of punctuation. Comments and white
/// space make none.
struct Token {
  enum class Kind { Word, String, Punctuation };
  Kind kind = Kind::Word;
  std::size_t offset = 0;
  std::size_t length = 0;
  bool closed = true;  // a string that reaches its closing quote

  std::size_t end() const { return offset + length; }
  /// For a string: what stands between its quotes.
  std::string_view contents(std::string_view text) const;
};

/// An alias, an import or a block of the outline.
struct Symbol {
  enum class Kind { Alias, Import, Block };
  Kind kind = Kind::Alias;
  std::string name;  // the alias name, the imported path, or the block's head
  std::size_t start = 0;  // the statement: from its keyword to its end
  std::size_t end = 0;
  std::size_t name_start = 0;  // the name's string (the keyword for a block)
  std::size_t name_end = 0;
  std::optional<std::size_t> parent;  // the block it stands in: an index of the outline
};

/// Blocks nested deeper than this are not listed (what they hold is, in the deepest listed one).
inline constexpr std::size_t kOutlineDepth = 32;

/// The symbols of `text` in the order they begin. **Example**: `alias(0, "a")\nif_broken {
/// import("b.tarn") }` -> Alias "a", Block "if_broken", Import "b.tarn" (parent 1).
std::vector<Symbol> outline(std::string_view text);

/// The string under byte `offset` (the cursor may stand right after an unclosed one), and the
/// statement argument it is.
struct StringAt {
  Token token;
  std::string keyword;   // the statement's keyword; empty when the string is not an argument
  std::size_t argument;  // from 0
};
std::optional<StringAt> string_at(std::string_view text, std::size_t offset);

/// The word under byte `offset` (touching it from either side), outside strings and comments.
std::optional<Token> word_at(std::string_view text, std::size_t offset);

/// True when the cursor at `offset` stands where a statement's keyword may be typed: not in a
/// string or a comment, and not inside parentheses.
bool at_statement_start(std::string_view text, std::size_t offset);

}  // namespace tarn::tool::lsp
