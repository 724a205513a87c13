// Compact and pretty JSON text over nlohmann's document model, with our number and string rules.
//
// The walk keeps its open containers on an explicit stack instead of recursing: the documents we
// build are shallow, but a context document handed in from outside may nest arbitrarily deep, and
// depth must never reach the call stack. Compact and pretty output share the walk and differ only
// in the separators, which a Layout value supplies. ObjectWriter's key-order check lives here too.
#include "tarn/json/writer.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tarn/json/number_text.hpp"
#include "tarn/json/object_writer.hpp"

namespace tarn::json {
namespace {

// The bytes that a JSON string cannot hold as themselves: the quote, the backslash and the
// control characters below 0x20. "/" and 0x7F stay as they are.
constexpr bool needs_escape(unsigned char byte) { return byte == '"' || byte == '\\' || byte < 0x20; }

void append_escape(std::string& out, unsigned char byte) {
  switch (byte) {
    case '"': out.append("\\\""); return;
    case '\\': out.append("\\\\"); return;
    case '\b': out.append("\\b"); return;
    case '\t': out.append("\\t"); return;
    case '\n': out.append("\\n"); return;
    case '\f': out.append("\\f"); return;
    case '\r': out.append("\\r"); return;
    default: break;
  }
  // 0x01 -> \u0001, 0x1f -> \u001f
  constexpr std::string_view hex = "0123456789abcdef";
  const std::array<char, 6> escape{'\\', 'u', '0', '0', hex[byte >> 4U], hex[byte & 0x0FU]};
  out.append(escape.data(), escape.size());
}

// Writes a value that opens no container: scalars, "[]" and "{}". Binary and discarded values are
// never built by this project; they are written as null rather than failing.
template <class Json>
void append_leaf(std::string& out, const Json& value) {
  using Type = typename Json::value_t;
  switch (value.type()) {
    case Type::boolean:
      out.append(value.template get<bool>() ? "true" : "false");
      return;
    case Type::number_integer:
      append_integer(out, value.template get<std::int64_t>());
      return;
    case Type::number_unsigned:
      append_integer(out, value.template get<std::uint64_t>());
      return;
    case Type::number_float:
      append_json_number(out, value.template get<double>());
      return;
    case Type::string:
      append_json_string(out, value.template get_ref<const typename Json::string_t&>());
      return;
    case Type::array:
      out.append("[]");
      return;
    case Type::object:
      out.append("{}");
      return;
    case Type::null:
    case Type::binary:
    case Type::discarded:
      break;
  }
  out.append("null");
}

template <class Json>
void append_document(std::string& out, const Json& document, Layout layout) {
  using Iterator = typename Json::const_iterator;
  // One open, non-empty container: where its walk stands and whether a member was written.
  struct Frame {
    bool object;
    Iterator next;
    Iterator end;
    bool first = true;
  };
  std::vector<Frame> open;

  // Writes a leaf whole, or opens a non-empty container for the loop below to fill.
  const auto start_value = [&](const Json& value) {
    if ((value.is_array() || value.is_object()) && !value.empty()) {
      out.push_back(value.is_object() ? '{' : '[');
      open.push_back(Frame{value.is_object(), value.cbegin(), value.cend(), true});
    } else {
      append_leaf(out, value);
    }
  };

  start_value(document);
  while (!open.empty()) {
    Frame& frame = open.back();
    if (frame.next == frame.end) {
      const char close = frame.object ? '}' : ']';
      open.pop_back();
      layout.container_end(out, open.size());
      out.push_back(close);
      continue;
    }
    layout.member_start(out, open.size(), frame.first);
    frame.first = false;
    if (frame.object) {
      append_json_string(out, frame.next.key());
      layout.key_separator(out);
    }
    const Json& value = *frame.next;
    ++frame.next;  // before start_value, whose push may move the frame
    start_value(value);
  }
}

}  // namespace

std::size_t plain_json_prefix(std::string_view text) {
  // Eight bytes at a time: a report's strings are long runs of plain ASCII. Each test is the
  // exact "some byte is zero / below n" bit trick, so a clean word never hides an escape.
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHigh = 0x8080808080808080u;
  std::size_t i = 0;
  while (text.size() - i >= 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + i, sizeof word);
    const std::uint64_t quote = word ^ (kOnes * '"');
    const std::uint64_t backslash = word ^ (kOnes * '\\');
    const std::uint64_t flagged = ((word - kOnes * 0x20) & ~word) |
                                  ((quote - kOnes) & ~quote) | ((backslash - kOnes) & ~backslash);
    if ((flagged & kHigh) != 0) break;
    i += 8;
  }
  while (i < text.size() && !needs_escape(static_cast<unsigned char>(text[i]))) ++i;
  return i;
}

void append_json_escaped(std::string& out, std::string_view text) {
  while (true) {
    const std::size_t plain = plain_json_prefix(text);
    out.append(text.substr(0, plain));
    if (plain == text.size()) break;
    append_escape(out, static_cast<unsigned char>(text[plain]));
    text.remove_prefix(plain + 1);
  }
}

void append_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  append_json_escaped(out, text);
  out.push_back('"');
}

void ObjectWriter::check_ascending(std::string_view key) {
  if (!empty_ && !(previous_key_ < key)) {
    // A fault of the program, not of its input, like a failed assert (see member()).
    std::fprintf(stderr, "JSON key order: \"%.*s\" written after \"%.*s\" in a sorted object\n",
                 static_cast<int>(key.size()), key.data(), static_cast<int>(previous_key_.size()),
                 previous_key_.data());
    std::abort();
  }
  previous_key_.assign(key);
}

template <class Json>
void append_compact(std::string& out, const Json& document) {
  append_document(out, document, Layout{.pretty = false});
}

template <class Json>
void append_pretty(std::string& out, const Json& document) {
  append_document(out, document, Layout{.pretty = true});
}

template void append_compact(std::string&, const nlohmann::json&);
template void append_compact(std::string&, const nlohmann::ordered_json&);
template void append_pretty(std::string&, const nlohmann::json&);
template void append_pretty(std::string&, const nlohmann::ordered_json&);

}  // namespace tarn::json
