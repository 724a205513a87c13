// Writes one JSON object in the pretty form member by member, straight into a string.
//
// For documents whose bulk is a long array of texts (a run's executed commands): building an
// nlohmann document first would copy every text once more. The bytes are those append_pretty
// gives a sorted document, provided callers add members in ascending key order.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tarn/json/writer.hpp"

namespace tarn::json {

class PrettyObject {
 public:
  /// The opening brace goes where `out` ends; `depth` is the indentation level of that line.
  PrettyObject(std::string& out, int depth) : out_(out), depth_(depth) { out_ += '{'; }

  /// Starts a member and returns `out` for its value.
  /// **Example**: `json::append_json_number(object.member("residual"), 0.0);`
  std::string& member(std::string_view key) {
    out_ += empty_ ? "\n" : ",\n";
    empty_ = false;
    indent(depth_ + 1);
    append_json_string(out_, key);
    out_ += ": ";
    return out_;
  }

  /// An array member of `count` items, each written by `item(out, i)` on its own line.
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
    std::string lead = ",\n";
    lead.append(static_cast<std::size_t>(depth_ + 2) * 2, ' ');
    const std::string_view between(lead);
    const std::string_view first = between.substr(1);
    for (std::size_t i = 0; i < count; ++i) {
      out.append(i == 0 ? first : between);
      item(out, i);
    }
    out += '\n';
    indent(depth_ + 1);
    out += ']';
  }

  /// The closing brace, on a line of its own unless the object is empty ("{}").
  void close() {
    if (!empty_) {
      out_ += '\n';
      indent(depth_);
    }
    out_ += '}';
  }

 private:
  void indent(int depth) { out_.append(static_cast<std::size_t>(depth) * 2, ' '); }

  std::string& out_;
  int depth_;
  bool empty_ = true;
};

}  // namespace tarn::json
