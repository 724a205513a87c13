// Our JSON text form over nlohmann/json's document model.
//
// nlohmann's own dump() writes floats and escapes strings differently from what our outputs must
// be byte for byte, so the documents are walked here. One template serves nlohmann::json (objects
// with sorted keys) and nlohmann::ordered_json (the verifier report keeps declaration order).
#pragma once

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
