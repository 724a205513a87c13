// Policies read from their tokens: see outline.hpp.
#include "outline.hpp"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::tool::lsp {
namespace {

bool is_word_byte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         c == '.' || c == '+' || c == '-' || c >= 0x80;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// token -> word | string | "//" comment | punctuation      (white space between them)
class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  std::optional<Token> next() {
    for (;;) {
      while (at_ < text_.size() && is_space(text_[at_])) ++at_;
      if (at_ >= text_.size()) return std::nullopt;
      if (text_.substr(at_).starts_with("//")) {
        const std::size_t end = text_.find('\n', at_);
        comment_start_ = at_;
        at_ = end == std::string_view::npos ? text_.size() : end + 1;
        comment_end_ = end == std::string_view::npos ? text_.size() : end;
        continue;
      }
      break;
    }
    Token token;
    token.offset = at_;
    const char c = text_[at_];
    if (c == '"') {
      token.kind = Token::Kind::String;
      const std::size_t close = text_.find('"', at_ + 1);
      token.closed = close != std::string_view::npos;
      at_ = token.closed ? close + 1 : text_.size();
    } else if (is_word_byte(static_cast<unsigned char>(c))) {
      token.kind = Token::Kind::Word;
      while (at_ < text_.size() && is_word_byte(static_cast<unsigned char>(text_[at_]))) ++at_;
    } else {
      token.kind = Token::Kind::Punctuation;
      ++at_;
    }
    token.length = at_ - token.offset;
    return token;
  }

  /// True when `offset` lies in the last comment passed.
  bool in_comment(std::size_t offset) const {
    return comment_start_ && offset > *comment_start_ && offset <= comment_end_;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  std::optional<std::size_t> comment_start_;
  std::size_t comment_end_ = 0;
};

// The last few tokens: enough to see the statement a string is an argument of.
class Recent {
 public:
  static constexpr std::size_t kSize = 16;

  void push(const Token& token) { tokens_[count_++ % kSize] = token; }
  std::size_t size() const { return count_ < kSize ? count_ : kSize; }
  /// back(0) is the last token pushed.
  const Token& back(std::size_t i) const { return tokens_[(count_ - 1 - i) % kSize]; }

 private:
  std::array<Token, kSize> tokens_{};
  std::size_t count_ = 0;
};

bool is_punctuation(const Token& token, std::string_view text, char c) {
  return token.kind == Token::Kind::Punctuation && text[token.offset] == c;
}

// The keyword and argument number of the argument that begins after recent.back(0): the word
// before the nearest open "(", with the commas between.
struct Argument {
  std::size_t keyword;  // the keyword's index in recent (back(keyword))
  std::size_t commas;
};

std::optional<Argument> next_argument(const Recent& recent, std::string_view text) {
  std::size_t commas = 0;
  for (std::size_t i = 0; i < recent.size(); ++i) {
    const Token& token = recent.back(i);
    if (token.kind != Token::Kind::Punctuation) continue;
    const char c = text[token.offset];
    if (c == ',') {
      ++commas;
    } else if (c == '(') {
      if (i + 1 < recent.size() && recent.back(i + 1).kind == Token::Kind::Word) {
        return Argument{i + 1, commas};
      }
      return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::string_view text_of(const Token& token, std::string_view text) {
  return text.substr(token.offset, token.length);
}

// The head of the block whose "{" follows recent.back(0): "if_broken", or the keyword and its
// arguments, as in `if_greater_than("x", 5)`.
std::optional<std::size_t> block_keyword(const Recent& recent, std::string_view text) {
  if (recent.size() == 0) return std::nullopt;
  if (recent.back(0).kind == Token::Kind::Word) return 0;
  if (!is_punctuation(recent.back(0), text, ')')) return std::nullopt;
  for (std::size_t i = 1; i + 1 < recent.size(); ++i) {
    if (is_punctuation(recent.back(i), text, '(')) {
      if (recent.back(i + 1).kind == Token::Kind::Word) return i + 1;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string_view Token::contents(std::string_view text) const {
  if (kind != Kind::String || length == 0) return {};
  return text.substr(offset + 1, length - (closed ? 2 : 1));
}

std::vector<Symbol> outline(std::string_view text) {
  std::vector<Symbol> symbols;
  std::vector<std::optional<std::size_t>> open;  // per open "{": its listed block, if listed
  Lexer lexer(text);
  Recent recent;
  auto parent = [&]() -> std::optional<std::size_t> {
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
      if (*it) return *it;
    }
    return std::nullopt;
  };
  while (const std::optional<Token> token = lexer.next()) {
    if (token->kind == Token::Kind::String) {
      const auto argument = next_argument(recent, text);
      if (argument) {
        const Token& keyword = recent.back(argument->keyword);
        const std::string_view name = text_of(keyword, text);
        const bool alias = name == "alias" && argument->commas == 1;
        const bool import = name == "import" && argument->commas == 0;
        if (alias || import) {
          symbols.push_back(Symbol{alias ? Symbol::Kind::Alias : Symbol::Kind::Import,
                                   std::string(token->contents(text)), keyword.offset,
                                   token->end() + 1, token->offset, token->end(), parent()});
        }
      }
    } else if (is_punctuation(*token, text, '{')) {
      const auto keyword = block_keyword(recent, text);
      if (keyword && open.size() < kOutlineDepth) {
        const Token& head = recent.back(*keyword);
        std::string name(text.substr(head.offset, token->offset - head.offset));
        while (!name.empty() && is_space(name.back())) name.pop_back();
        symbols.push_back(Symbol{Symbol::Kind::Block, std::move(name), head.offset, text.size(),
                                 head.offset, head.end(), parent()});
        open.push_back(symbols.size() - 1);
      } else {
        open.push_back(std::nullopt);
      }
    } else if (is_punctuation(*token, text, '}') && !open.empty()) {
      if (open.back()) symbols[*open.back()].end = token->end();
      open.pop_back();
    }
    recent.push(*token);
  }
  for (Symbol& symbol : symbols) symbol.end = std::min(symbol.end, text.size());
  return symbols;
}

std::optional<StringAt> string_at(std::string_view text, std::size_t offset) {
  Lexer lexer(text);
  Recent recent;
  while (const std::optional<Token> token = lexer.next()) {
    if (token->offset >= offset) return std::nullopt;
    const bool inside = offset < token->end() || (!token->closed && offset == token->end());
    if (token->kind == Token::Kind::String && inside) {
      StringAt found{*token, "", 0};
      if (const auto argument = next_argument(recent, text)) {
        found.keyword = std::string(text_of(recent.back(argument->keyword), text));
        found.argument = argument->commas;
      }
      return found;
    }
    recent.push(*token);
  }
  return std::nullopt;
}

std::optional<Token> word_at(std::string_view text, std::size_t offset) {
  Lexer lexer(text);
  while (const std::optional<Token> token = lexer.next()) {
    if (token->offset > offset) return std::nullopt;
    if (token->kind == Token::Kind::Word && offset <= token->end()) return token;
  }
  return std::nullopt;
}

bool at_statement_start(std::string_view text, std::size_t offset) {
  Lexer lexer(text);
  int parentheses = 0;
  while (const std::optional<Token> token = lexer.next()) {
    if (token->offset >= offset) break;
    if (token->kind == Token::Kind::String && (offset < token->end() || !token->closed)) {
      return false;
    }
    if (is_punctuation(*token, text, '(')) ++parentheses;
    if (is_punctuation(*token, text, ')') && parentheses > 0) --parentheses;
  }
  return parentheses == 0 && !lexer.in_comment(offset);
}

}  // namespace tarn::tool::lsp
