// Parse and run errors as diagnostics: located, worded for a person, with notes.
//
// The parser says where it failed and what it expected there (ParseError::expected); this unit
// looks at what stands there instead and words the two for a person. It never re-parses to find
// out what went wrong, so the message cannot drift from the error. The one exception is an
// imported file that did not parse during a run: the run keeps only the error's text, so the file
// is read and parsed again to say why (and, if it changed meanwhile, a plainer message is given).
#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/keywords.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostic_places.hpp"
#include "statement_forms.hpp"
#include "unicode.hpp"

namespace tarn::lang {
namespace {

using detail::excerpt_at;
using detail::place;
using detail::related_at;

constexpr std::array<DiagnosticCode, 31> kCodes{{
    // Parse errors.
    {"unknown-keyword", "a statement's name is not a keyword"},
    {"expected-statement", "a statement should begin here"},
    {"comment-in-block", "a comment inside a block, where comments cannot stand"},
    {"unterminated-comment", "a comment at the end of the text without its line feed"},
    {"unclosed-block", "a block whose closing brace is missing"},
    {"unterminated-string", "a string without its closing quote"},
    {"misplaced-white-space", "white space where none may stand"},
    {"expected-punctuation", "a parenthesis, comma or brace is missing"},
    {"expected-string", "a string in double quotes should stand here"},
    {"expected-boolean", "true or false should stand here"},
    {"expected-number", "a number should stand here"},
    {"exponent-without-digits", "a number's exponent has no digits"},
    {"expected-string-or-number", "assert_bounds needs a position or an alias name"},
    // Run errors.
    {"out-of-fuel", "the run reached its fuel limit"},
    {"bounds-assertion", "a value lies outside the bounds of an assert_bounds"},
    {"unknown-alias", "an alias is used that no alias statement makes"},
    {"no-context", "bind in a run without a context document"},
    {"missing-context-key", "the context holds no number under a bind's key"},
    {"position-out-of-range", "a position beyond the memory"},
    {"memory-shape", "the memory has too few values or signs for the statement"},
    {"import-failed", "an imported file cannot be read"},
    {"import-too-large", "the open imports hold too much script text"},
    {"import-parse-error", "an imported file does not parse"},
    {"parse-error", "the policy does not parse"},
    {"lineage-too-large", "the lineage record would hold too much text"},
    {"cannot-read", "a file given on the command line cannot be read"},
    // Warnings of the checker (unknown-alias, position-out-of-range, import-failed and
    // import-parse-error serve it too).
    {"corrupt-text", "the verifier refuses the script: its text contains \"corrupt\""},
    {"corrupt-in-import", "an imported file contains \"corrupt\", which the verifier runs anyway"},
    {"bind-all-without-alias", "bind_all with no alias to bind"},
    {"saturated-position", "a negative or fractional position, cut to a whole number"},
    {"import-cycle", "files that import each other: a run of them ends out of fuel"},
}};

// The statements whose parentheses may be empty or hold a number.
constexpr std::array<std::string_view, 5> kOptionalNumberKeywords{
    "residual", "report", "report_compact", "report_verbose", "report_json"};

constexpr bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
constexpr bool is_sign(char c) { return c == '+' || c == '-'; }
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string where(const RelatedLocation& location) {
  return std::to_string(location.line) + ":" + std::to_string(location.column);
}

// --- What stands where parsing failed ---------------------------------------------------------

bool is_identifier_start(std::string_view text) {
  if (text.empty()) return false;
  const auto c = static_cast<unsigned char>(text.front());
  if (c < 0x80) return std::isalnum(c) != 0 || c == '_';
  return unicode::is_identifier_char(unicode::decode_utf8(text).code_point);
}

std::size_t identifier_length(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_identifier_start(text.substr(i))) {
    i += static_cast<unsigned char>(text[i]) < 0x80 ? 1 : unicode::decode_utf8(text.substr(i)).length;
  }
  return i;
}

// A number-like run: digits, points and letters, and signs at its start or after an exponent
// letter ("-inf", "1e+", "0x10").
std::size_t number_like_length(std::string_view text) {
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    const bool sign_here = is_sign(c) && (i == 0 || text[i - 1] == 'e' || text[i - 1] == 'E');
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '.' && !sign_here) break;
  }
  return i;
}

// What stands at the start of `rest`, for "found ...", and how many bytes it takes.
struct Found {
  std::string words;
  std::size_t length = 0;
};

std::string ticked(std::string_view text) { return "`" + escape_control_characters(text) + "`"; }

Found found_at(std::string_view rest) {
  if (rest.empty()) return {"the end of the text", 0};
  switch (rest.front()) {
    case '\n': return {"the end of the line", 1};
    case '\r': return {"a carriage return", 1};
    case ' ': return {"a space", 1};
    case '\t': return {"a tab", 1};
    case '"': return {"a double quote", 1};
    default: break;
  }
  if (rest.starts_with(kByteOrderMark)) return {"a byte order mark (U+FEFF)", 3};
  if (is_identifier_start(rest)) {
    const std::size_t length = identifier_length(rest);
    return {ticked(rest.substr(0, length)), length};
  }
  if (is_sign(rest.front()) || rest.front() == '.') {
    const std::size_t length = std::max<std::size_t>(1, number_like_length(rest));
    return {ticked(rest.substr(0, length)), length};
  }
  const unicode::Decoded decoded = unicode::decode_utf8(rest);
  const std::string_view character = rest.substr(0, decoded.length);
  return {ticked(character), decoded.length};
}

std::string lowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Whether `rest` begins with a sign and one of the special words ("-inf", "+NaN").
bool signed_special_word(std::string_view rest) {
  if (rest.empty() || !is_sign(rest.front())) return false;
  const std::string word = lowercase(rest.substr(1, identifier_length(rest.substr(1))));
  return word.starts_with("inf") || word.starts_with("nan");
}

// ": `evolve` is written `evolve(position)`", or nothing for an unknown keyword.
std::string form_hint(std::string_view keyword) {
  const KeywordHelp* help = find_keyword_help(keyword);
  if (help == nullptr) return {};
  return ": `" + std::string(keyword) + "` is written `" + std::string(help->form) + "`";
}

// " after `evolve`", or nothing when the keyword is not known.
std::string after(std::string_view keyword) {
  return keyword.empty() ? std::string() : " after `" + std::string(keyword) + "`";
}

// --- Parse errors -----------------------------------------------------------------------------

struct Worded {
  std::string_view code;
  std::string message;
  std::size_t length = 0;  // of the range, from the error's offset
};

Worded word_parse_error(const ParseError& error, std::string_view text,
                        std::string_view keyword) {
  const std::string_view rest = text.substr(std::min(error.offset, text.size()));
  const Found found = found_at(rest);
  const std::string found_words = ", found " + found.words;
  // White space where the expected thing follows it: the author's only mistake is the space.
  const auto white_space_before = [&](std::string_view expected_start) {
    if (rest.empty() || !is_ws(rest.front())) return false;
    const std::size_t next = rest.find_first_not_of(" \t\r\n");
    return next != std::string_view::npos &&
           expected_start.find(rest[next]) != std::string_view::npos;
  };
  const auto misplaced = [&](std::string what) {
    return Worded{"misplaced-white-space", "no white space may stand " + std::move(what),
                  found.length};
  };
  switch (error.expected) {
    case ParseExpectation::Keyword: {
      const std::string_view name = keyword.empty() ? std::string_view(error.input) : keyword;
      std::string message = "unknown keyword " + ticked(name);
      if (const auto suggestion = nearest_word(name, detail::keywords())) {
        message += "; did you mean `" + std::string(*suggestion) + "`?";
      }
      const std::size_t length = error.input == name ? name.size() : found.length;
      return {"unknown-keyword", std::move(message), length};
    }
    case ParseExpectation::Statement:
      if (rest.starts_with("//")) {
        return {"comment-in-block",
                "a comment cannot stand inside a block: comments stand only between top-level "
                "statements",
                2};
      }
      if (rest.starts_with("/*")) {
        return {"expected-statement",
                "`/*` does not begin a comment: a comment begins with `//` and stands only "
                "between top-level statements",
                2};
      }
      if (rest.starts_with("}")) return {"expected-statement", "`}` closes no block", 1};
      if (rest.starts_with(kByteOrderMark) && error.offset == 0) {
        return {"expected-statement",
                "the text begins with a byte order mark, which is not white space: save the "
                "file as UTF-8 without one",
                3};
      }
      return {"expected-statement", "expected a statement" + found_words, found.length};
    case ParseExpectation::OpenParen:
      if (white_space_before("(")) {
        return misplaced(keyword.empty() ? "before `(`"
                                         : "between `" + std::string(keyword) + "` and its `(`");
      }
      return {"expected-punctuation", "expected `(`" + after(keyword) + found_words +
                                          form_hint(keyword),
              found.length};
    case ParseExpectation::CloseParen: {
      if (white_space_before(")")) return misplaced("before `)`");
      const bool optional_number =
          std::find(kOptionalNumberKeywords.begin(), kOptionalNumberKeywords.end(), keyword) !=
          kOptionalNumberKeywords.end();
      return {"expected-punctuation",
              std::string(optional_number ? "expected a number or `)`" : "expected `)`") +
                  found_words + form_hint(keyword),
              found.length};
    }
    case ParseExpectation::Comma:
      if (white_space_before(",")) return misplaced("before `,`");
      return {"expected-punctuation", "expected `,`" + found_words + form_hint(keyword),
              found.length};
    case ParseExpectation::EmptyParens:
      if (rest.starts_with('(')) {
        return {"expected-punctuation",
                "`bind_all` takes exactly `()`: nothing may stand between its parentheses",
                rest.find(')') == std::string_view::npos ? 1 : rest.find(')') + 1};
      }
      return {"expected-punctuation", "expected `()` right after `bind_all`" + found_words,
              found.length};
    case ParseExpectation::OpenBrace:
      return {"expected-punctuation",
              "expected `{` to open a block" + after(keyword) + found_words + form_hint(keyword),
              found.length};
    case ParseExpectation::CloseBrace:
      return {"unclosed-block", "a block is never closed: its `}` is missing at the end of the text",
              0};
    case ParseExpectation::String:
      return {"expected-string", "expected a string in double quotes" + found_words +
                                     form_hint(keyword),
              found.length};
    case ParseExpectation::StringEnd:
      return {"unterminated-string",
              "this string has no closing quote: it runs to the end of the text", 0};
    case ParseExpectation::Boolean:
      return {"expected-boolean", "expected `true` or `false`, in lower case" + found_words,
              found.length};
    case ParseExpectation::Number:
      if (white_space_before("0123456789.+-")) return misplaced("after `(`");
      if (rest.size() > 1 && is_sign(rest.front()) && is_ws(rest[1])) {
        return misplaced("between a sign and its digits");
      }
      if (signed_special_word(rest)) {
        return {"expected-number",
                found.words + " is not a number: the words `inf`, `infinity` and `nan` take no sign",
                found.length};
      }
      return {"expected-number",
              "expected a number" + found_words +
                  ": a number is written like `12`, `-0.5`, `.5`, `1e3` or `2.5E-4`, or as "
                  "`nan`, `inf` or `infinity`",
              found.length};
    case ParseExpectation::ExponentDigits: {
      const std::size_t length = number_like_length(rest);
      return {"exponent-without-digits",
              "the exponent of " + ticked(rest.substr(0, length)) +
                  " has no digits: an exponent is `e` or `E`, an optional sign and digits, as "
                  "in `1e3` or `2.5E-4`",
              length};
    }
    case ParseExpectation::StringOrNumber:
      if (rest.starts_with('"')) {
        return {"unterminated-string",
                "this string has no closing quote: it runs to the end of the text", 1};
      }
      return {"expected-string-or-number",
              "expected a position or an alias name in double quotes as the third argument of "
              "`assert_bounds`" + found_words,
              found.length};
    case ParseExpectation::CommentEnd:
      return {"unterminated-comment",
              "this comment runs to the end of the text without a line feed, which a comment "
              "needs: end the file with a line feed",
              2};
  }
  return {"expected-statement", "the text does not parse here", found.length};
}

// The keyword that begins the statement at `statement` (empty when none does).
std::string_view keyword_at(std::string_view text, std::optional<std::size_t> statement) {
  if (!statement || *statement >= text.size()) return {};
  std::string_view rest = text.substr(*statement);
  while (!rest.empty() && is_ws(rest.front())) rest.remove_prefix(1);
  return rest.substr(0, identifier_length(rest));
}

// --- Run errors -------------------------------------------------------------------------------

constexpr std::array<std::string_view, 12> kRunErrorCodes{
    "out-of-fuel",           "bounds-assertion", "unknown-alias",    "no-context",
    "missing-context-key",   "position-out-of-range", "memory-shape", "import-failed",
    "import-too-large",      "import-parse-error", "parse-error",   "lineage-too-large"};
static_assert(kRunErrorCodes.size() == static_cast<std::size_t>(RunErrorCode::LineageTooLarge) + 1,
              "one code per run error");

// The text between the first and the last single quote of a message ("... alias 'x'").
std::string_view quoted_part(std::string_view message) {
  const std::size_t first = message.find('\'');
  const std::size_t last = message.rfind('\'');
  if (first == std::string_view::npos || last <= first) return {};
  return message.substr(first + 1, last - first - 1);
}

// The engine's message as a message of a diagnostic: without the instruction's name before it
// (the quoted line shows the statement) and in lower case, as compilers begin their messages.
// **Example**: "Evolve: position 7 out of range (4 values, 4 signs)" -> "position 7 out of range
// (4 values, 4 signs)"; "Bounds assertion failed ..." -> "bounds assertion failed ...".
std::string engine_message(std::string_view message) {
  const std::size_t colon = message.find(": ");
  if (colon != std::string_view::npos &&
      message.substr(0, colon).find_first_of(" '") == std::string_view::npos) {
    message.remove_prefix(colon + 2);
  }
  std::string out(message);
  if (out.size() > 1 && out[0] >= 'A' && out[0] <= 'Z' && out[1] >= 'a' && out[1] <= 'z') {
    out[0] = static_cast<char>(out[0] - 'A' + 'a');
  }
  return out;
}

std::string run_error_message(const RunError& error) {
  switch (error.code) {
    case RunErrorCode::OutOfFuel:
      return "out of fuel: the run reached its fuel limit before this statement could start";
    case RunErrorCode::UnknownAlias:
      return "unknown alias '" + std::string(quoted_part(error.message)) +
             "': no alias statement has made it by the time this runs";
    case RunErrorCode::NoContext:
      return "bind needs a context document, and the run has none";
    default:
      return engine_message(error.message);
  }
}

// The texts of the files a run error names, each read once: the policy's own, then imported
// files through `read`.
class Sources {
 public:
  Sources(std::string_view policy_name, std::string_view policy_text, const ReadSource& read)
      : policy_name_(policy_name), policy_text_(policy_text), read_(read) {}

  std::optional<std::string_view> text(const std::string& file) {
    if (file == policy_name_) return policy_text_;
    auto [entry, added] = texts_.try_emplace(file);
    if (added && read_) {
      auto read = read_(file);
      if (read) entry->second = std::move(*read).release();
    }
    if (!entry->second) return std::nullopt;
    return std::string_view(*entry->second);
  }

 private:
  std::string_view policy_name_;
  std::string_view policy_text_;
  const ReadSource& read_;
  std::map<std::string, std::optional<std::string>> texts_;
};

RelatedLocation related_from(const StatementLocation& location, Sources& sources,
                             std::string message) {
  RelatedLocation related{location.file, location.line, location.column, std::move(message), {}};
  if (const auto text = sources.text(location.file)) {
    related.excerpt = excerpt_at(*text, location.span.offset, location.span.offset);
  }
  return related;
}

// A run ends deep inside imports when files import each other: the notes keep the innermost
// imports and the outermost one, and say how many were left out.
constexpr std::size_t kInnermostImportNotes = 4;

void add_import_notes(Diagnostic& diagnostic, const RunError& error, Sources& sources) {
  const std::vector<StatementLocation>& imports = error.imported_from;
  // The files open when the run failed are the failing one and each importing one: a file open
  // twice imports itself, through the others or directly. (A cycle is found among the innermost
  // files, since a run goes round it until the fuel is gone.)
  std::vector<std::string_view> open;
  if (error.location) open.push_back(error.location->file);
  for (std::size_t i = 0; i < std::min<std::size_t>(imports.size(), 64); ++i) {
    open.push_back(imports[i].file);
  }
  std::sort(open.begin(), open.end());
  const bool cycle = std::adjacent_find(open.begin(), open.end()) != open.end();
  for (std::size_t i = 0; i < imports.size(); ++i) {
    if (i == kInnermostImportNotes && imports.size() > kInnermostImportNotes + 1) {
      const std::size_t skipped = imports.size() - kInnermostImportNotes - 1;
      diagnostic.related.push_back(related_from(
          imports.back(), sources,
          "imported from here, through " + std::to_string(skipped) + " more imports not shown"));
      break;
    }
    diagnostic.related.push_back(related_from(imports[i], sources, "imported from here"));
  }
  if (cycle) {
    diagnostic.related.push_back(related_from(
        imports.front(), sources,
        "the imports on the way form a cycle, and a run of an import cycle always ends out of "
        "fuel"));
  }
}

}  // namespace

std::span<const DiagnosticCode> diagnostic_codes() { return kCodes; }

Result<SourceText, ReadError> read_imported_file(const std::string& path) {
  return read_text_file(path);
}

ReadSource read_through(const FileAccess& files) {
  return [&files](const std::string& path) -> Result<SourceText, ReadError> {
    auto read = files.read(path);
    if (!read) return fail(std::move(read.error()));
    return std::move(read->text);
  };
}

Diagnostic parse_error_diagnostic(const ParseError& error, std::string_view text,
                                  std::string_view file) {
  const std::string_view keyword = keyword_at(text, error.statement);
  Worded worded = word_parse_error(error, text, keyword);
  Diagnostic diagnostic;
  diagnostic.file = std::string(file);
  diagnostic.code = std::string(worded.code);
  diagnostic.message = std::move(worded.message);
  diagnostic.engine_text = "Parse error: " + parse_error_text(error);
  place(diagnostic, text, error.offset, error.offset + worded.length);

  if (error.open_brace && error.expected == ParseExpectation::CloseBrace) {
    RelatedLocation brace = related_at(text, file, *error.open_brace, "this `{` is never closed");
    diagnostic.message = "the block opened at " + where(brace) +
                         " is never closed: its `}` is missing at the end of the text";
    diagnostic.related.push_back(std::move(brace));
  }
  if (error.expected == ParseExpectation::Keyword && error.statement &&
      *error.statement != error.offset) {
    std::size_t name = *error.statement;
    while (name < text.size() && is_ws(text[name])) ++name;
    if (name != error.offset) {
      diagnostic.related.push_back(related_at(text, file, name, "the unknown name stands here"));
    }
  }
  // A string that ended at a quote after a backslash: the author meant an escape.
  const std::size_t at = std::min(error.offset, text.size());
  if (at >= 2 && text[at - 1] == '"' && text[at - 2] == '\\') {
    diagnostic.related.push_back(related_at(
        text, file, at - 2,
        "the string ends at the quote after this backslash: strings have no escape sequences, "
        "so a string cannot hold a double quote"));
  }
  return diagnostic;
}

Diagnostic run_error_diagnostic(const RunError& error, std::string_view policy_name,
                                std::string_view policy_text, const ReadSource& read) {
  Sources sources(policy_name, policy_text, read);
  Diagnostic diagnostic;
  bool worded = false;
  if (error.code == RunErrorCode::ImportParseError && error.location) {
    // Parsed again for its error: the run kept only its text.
    if (const auto text = sources.text(error.location->file)) {
      const auto parsed = parse_program(*text);
      if (!parsed && parsed.error().offset == error.location->span.offset) {
        diagnostic = parse_error_diagnostic(parsed.error(), *text, error.location->file);
        worded = true;
      }
    }
  }
  if (!worded) {
    diagnostic.code = std::string(kRunErrorCodes[static_cast<std::size_t>(error.code)]);
    diagnostic.message = run_error_message(error);
    diagnostic.file = error.location ? error.location->file : std::string(policy_name);
    if (error.location) {
      const StatementLocation& location = *error.location;
      diagnostic.line = location.line;
      diagnostic.column = location.column;
      diagnostic.end_line = location.line;
      diagnostic.end_column = location.column;
      diagnostic.offset = location.span.offset;
      if (const auto text = sources.text(location.file)) {
        place(diagnostic, *text, location.span.offset,
              std::size_t{location.span.offset} + location.span.length);
      }
    }
  }
  diagnostic.severity = DiagnosticSeverity::Error;
  diagnostic.engine_text = error.message;
  add_import_notes(diagnostic, error, sources);
  return diagnostic;
}

std::optional<std::string_view> nearest_word(std::string_view word,
                                             std::span<const std::string_view> candidates) {
  // Optimal string alignment distance (edits, and swaps of two neighbours), letter case aside.
  const std::string a = lowercase(word);
  std::optional<std::string_view> best;
  std::size_t best_distance = SIZE_MAX;
  for (const std::string_view candidate : candidates) {
    const std::string b = lowercase(candidate);
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
      for (std::size_t j = 1; j <= b.size(); ++j) {
        const std::size_t substitution = d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
        d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, substitution});
        if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
          d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
      }
    }
    if (d[a.size()][b.size()] < best_distance) {
      best_distance = d[a.size()][b.size()];
      best = candidate;
    }
  }
  // Near enough: one edit in a short word, two in a longer one ("evolv", "asert_bounds").
  const std::size_t allowed = std::clamp<std::size_t>(a.size() / 3, 1, 2);
  if (!best || best_distance > allowed) return std::nullopt;
  return best;
}

std::string escape_control_characters(std::string_view text) {
  constexpr std::string_view kHex = "0123456789abcdef";
  const auto escaped = [&](std::string& out, char32_t code_point) {
    if (code_point == '\r') {
      out += "\\r";
    } else if (code_point == 0) {
      out += "\\0";
    } else {
      out += "\\u{";
      if (code_point >= 0x10) out += kHex[code_point >> 4];
      out += kHex[code_point & 0xF];
      out += '}';
    }
  };
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      // C0 controls and DEL, but line feed and tab, which lay the text out.
      if ((byte < 0x20 || byte == 0x7F) && byte != '\n' && byte != '\t') {
        escaped(out, byte);
      } else {
        out += text[i];
      }
      ++i;
      continue;
    }
    const unicode::Decoded decoded = unicode::decode_utf8(text.substr(i));
    if (decoded.code_point == unicode::kReplacement && decoded.length == 1) {  // not UTF-8
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else if (decoded.code_point <= 0x9F) {  // C1 controls
      escaped(out, decoded.code_point);
    } else {
      out += text.substr(i, decoded.length);
    }
    i += decoded.length;
  }
  return out;
}

}  // namespace tarn::lang
