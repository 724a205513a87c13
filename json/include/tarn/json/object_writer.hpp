// Writes one JSON object member by member, straight into a string, in the compact or the pretty
// layout of writer.hpp.
//
// For documents whose bulk is a long array of texts (a run's executed commands) building an
// nlohmann document first would copy every text once more, and for small fixed records it is
// needless work. The bytes are those append_compact or append_pretty give the same document:
//
//   SortedPrettyObject  the pretty form of a sorted nlohmann::json. Its members must come in
//                       ascending byte order of their keys, which the writer checks: a member
//                       written out of order stops the process (see ObjectWriter::member).
//   CompactObject       the compact form of an nlohmann::ordered_json: members in the order
//                       written, nothing checked.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "tarn/json/number_text.hpp"
#include "tarn/json/writer.hpp"

namespace tarn::json {

/// Whether an object's keys must come in ascending byte order (a sorted document's bytes) or
/// stand in the order written (a record's declaration order).
enum class KeyOrder : bool { AsWritten, Ascending };

class ObjectWriter {
 public:
  /// The opening brace goes where `out` ends; `depth` is the nesting level of that line (0 for a
  /// document of its own, 1 for the value of a top-level member, ...).
  ObjectWriter(std::string& out, Layout layout, KeyOrder order, std::size_t depth)
      : out_(out), layout_(layout), order_(order), depth_(depth) {
    out_ += '{';
  }
  ObjectWriter(const ObjectWriter&) = delete;
  ObjectWriter& operator=(const ObjectWriter&) = delete;

  /// Starts a member and returns `out` for its value, written by the caller.
  /// With KeyOrder::Ascending, a key that is not above the previous one in byte order (a member
  /// added in the wrong place, or twice) aborts with a message naming both keys: every such
  /// object writes a fixed sequence of members, so any test that writes it once catches the
  /// mistake instead of letting the bytes drift from the sorted document.
  /// **Example**: `json::append_json_number(object.member("residual"), 0.0);`
  std::string& member(std::string_view key) {
    if (order_ == KeyOrder::Ascending) check_ascending(key);
    layout_.member_start(out_, depth_ + 1, empty_);
    empty_ = false;
    append_json_string(out_, key);
    layout_.key_separator(out_);
    return out_;
  }

  void string(std::string_view key, std::string_view text) {
    append_json_string(member(key), text);
  }
  /// null when not finite, as append_json_number writes it.
  void number(std::string_view key, double value) { append_json_number(member(key), value); }
  void integer(std::string_view key, std::uint64_t value) { append_integer(member(key), value); }
  void boolean(std::string_view key, bool value) { member(key) += value ? "true" : "false"; }

  /// The value as string(), number() or integer() write it, or null when absent.
  /// **Example**: or_null("identity", std::optional<std::string>{}) -> "identity": null
  template <class T>
  void or_null(std::string_view key, const std::optional<T>& value) {
    std::string& out = member(key);
    if (!value) {
      out += "null";
    } else if constexpr (std::is_same_v<T, double>) {
      append_json_number(out, *value);
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
      append_integer(out, *value);
    } else {
      static_assert(std::is_convertible_v<const T&, std::string_view>,
                    "or_null writes strings, doubles and unsigned integers");
      append_json_string(out, *value);
    }
  }

  /// An array member of `count` items, each written by `item(out, i)`; in the pretty layout each
  /// on its own line. **Example** (compact): "indices_healed":[3,1,3]
  template <class WriteItem>
  void array(std::string_view key, std::size_t count, WriteItem&& item) {
    std::string& out = member(key);
    if (count == 0) {
      out += "[]";
      return;
    }
    out += '[';
    // What goes before each item (",", the line break and the indentation) is made once: an
    // array may hold a hundred thousand items.
    std::string lead;
    layout_.member_start(lead, depth_ + 2, false);
    const std::string_view between(lead);
    const std::string_view first = between.substr(1);
    for (std::size_t i = 0; i < count; ++i) {
      out.append(i == 0 ? first : between);
      item(out, i);
    }
    layout_.container_end(out, depth_ + 1);
    out += ']';
  }

  /// The closing brace, in the pretty layout on a line of its own unless the object is empty.
  void close() {
    if (!empty_) layout_.container_end(out_, depth_);
    out_ += '}';
  }

 private:
  void check_ascending(std::string_view key);

  std::string& out_;
  Layout layout_;
  KeyOrder order_;
  std::size_t depth_;
  bool empty_ = true;
  std::string previous_key_;  // with KeyOrder::Ascending
};

/// The pretty form of a sorted document: the bytes append_pretty gives an nlohmann::json.
class SortedPrettyObject : public ObjectWriter {
 public:
  SortedPrettyObject(std::string& out, std::size_t depth)
      : ObjectWriter(out, Layout{.pretty = true}, KeyOrder::Ascending, depth) {}
};

/// The compact form in the order written: the bytes append_compact gives an ordered_json.
class CompactObject : public ObjectWriter {
 public:
  explicit CompactObject(std::string& out)
      : ObjectWriter(out, Layout{.pretty = false}, KeyOrder::AsWritten, 0) {}
};

}  // namespace tarn::json
