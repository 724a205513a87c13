// Our JSON text form: the value appenders, the separators of the compact and pretty layouts, and
// the walk over nlohmann/json's document model.
//
// nlohmann's own dump() writes floats and escapes strings differently from what our outputs must
// be byte for byte, so the documents are walked here. One template serves nlohmann::json (objects
// with sorted keys) and nlohmann::ordered_json (the verifier report keeps declaration order).
// Documents written member by member, without a document model, use json::ObjectWriter
// (object_writer.hpp), which lays them out with the same Layout.
#pragma once

#include <array>
#include <charconv>
#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tarn::json {

/// Appends `text` as a JSON string literal: quote and backslash escaped, \b \t \n \f \r, other
/// bytes below 0x20 as \u00xx, everything else (including "/" and UTF-8) unchanged.
void append_json_string(std::string& out, std::string_view text);

/// The inside of append_json_string's literal: `text` with its escapes, without the quotes.
/// **Example**: `a"b` -> `a\"b`.
void append_json_escaped(std::string& out, std::string_view text);

/// The length of the longest start of `text` that append_json_string copies unchanged; equal to
/// text.size() when the text needs no escape at all. **Example**: "a\"b" -> 1, "plain" -> 5.
std::size_t plain_json_prefix(std::string_view text);

/// Appends an integer in decimal, every digit, with "-" when negative: the integer form of every
/// JSON value we write (members, array items, the document walk).
/// **Example**: 18446744073709551615u -> "18446744073709551615", std::int64_t{-3} -> "-3".
template <std::integral Integer>
  requires(!std::same_as<Integer, bool>)
void append_integer(std::string& out, Integer value) {
  std::array<char, 24> digits;
  const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  out.append(digits.data(), written.ptr);
}

/// The separators of one output form. Compact has none; pretty breaks the line before every
/// member and before the closing bracket, indents two spaces per open container, and puts ": "
/// after keys. Empty containers are "{}" and "[]" in both.
struct Layout {
  bool pretty = false;

  /// Before a member or array item at nesting `depth` (1 inside the outermost container).
  /// **Example** (pretty, depth 1, not the first): ",\n  ".
  void member_start(std::string& out, std::size_t depth, bool first) const {
    if (!first) out.push_back(',');
    new_line(out, depth);
  }
  /// Before the closing bracket of a non-empty container whose opening line is at `depth`.
  void container_end(std::string& out, std::size_t depth) const { new_line(out, depth); }
  void key_separator(std::string& out) const { out.append(pretty ? ": " : ":"); }

 private:
  void new_line(std::string& out, std::size_t depth) const {
    if (pretty) {
      out.push_back('\n');
      out.append(2 * depth, ' ');
    }
  }
};

/// Compact form: no whitespace at all. **Example**: {"a":[1,2.0],"b":null}
template <class Json>
void append_compact(std::string& out, const Json& document);

/// Pretty form: two spaces per level, ": " after keys, "{}" and "[]" when empty, no final line feed.
template <class Json>
void append_pretty(std::string& out, const Json& document);

template <class Json>
std::string to_compact(const Json& document) {
  std::string out;
  append_compact(out, document);
  return out;
}

template <class Json>
std::string to_pretty(const Json& document) {
  std::string out;
  append_pretty(out, document);
  return out;
}

extern template void append_compact(std::string&, const nlohmann::json&);
extern template void append_compact(std::string&, const nlohmann::ordered_json&);
extern template void append_pretty(std::string&, const nlohmann::json&);
extern template void append_pretty(std::string&, const nlohmann::ordered_json&);

}  // namespace tarn::json
