// The edit script comes from Myers' O(ND) algorithm over lines, after the lines the two texts
// share at their start and end are set aside. Its trace takes memory in the square of the number
// of differing lines, so past kMaxEdits it gives up and replaces the whole differing middle: a
// diff that is longer than it could be, but still exact.
#include "unified_diff.hpp"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::tool {
namespace {

constexpr std::size_t kContext = 3;
constexpr std::ptrdiff_t kMaxEdits = 2000;

/// The lines of `text`, each with its line feed (the last one may have none).
std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size() - 1) + 1;
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end);
  }
  return lines;
}

enum class Edit : char { Keep = ' ', Remove = '-', Add = '+' };

using Lines = std::vector<std::string_view>;

/// The shortest edit script of a[0, n) into b[0, m) (Myers), or nothing past kMaxEdits edits.
std::vector<Edit> shortest_edits(const std::string_view* a, std::ptrdiff_t n,
                                 const std::string_view* b, std::ptrdiff_t m) {
  const std::ptrdiff_t limit = std::min(n + m, kMaxEdits);
  // v[k + offset]: the furthest x reached on diagonal k = x - y. trace[d] holds v[-d, d] as it
  // stood before step d.
  const std::ptrdiff_t offset = limit + 1;
  std::vector<std::ptrdiff_t> v(static_cast<std::size_t>(2 * offset + 1), 0);
  const auto at = [&](std::ptrdiff_t k) -> std::ptrdiff_t& {
    return v[static_cast<std::size_t>(k + offset)];
  };
  std::vector<std::vector<std::ptrdiff_t>> trace;
  std::ptrdiff_t edits = -1;
  for (std::ptrdiff_t d = 0; d <= limit && edits < 0; ++d) {
    trace.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
    for (std::ptrdiff_t k = -d; k <= d; k += 2) {
      std::ptrdiff_t x = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? at(k + 1) : at(k - 1) + 1;
      std::ptrdiff_t y = x - k;
      while (x < n && y < m && a[x] == b[y]) ++x, ++y;
      at(k) = x;
      if (x >= n && y >= m) {
        edits = d;
        break;
      }
    }
  }
  if (edits < 0) return {};

  std::vector<Edit> script;
  std::ptrdiff_t x = n;
  std::ptrdiff_t y = m;
  for (std::ptrdiff_t d = edits; d > 0; --d) {
    const std::vector<std::ptrdiff_t>& before = trace[static_cast<std::size_t>(d)];
    const auto was = [&](std::ptrdiff_t k) { return before[static_cast<std::size_t>(k + d)]; };
    const std::ptrdiff_t k = x - y;
    const bool down = k == -d || (k != d && was(k - 1) < was(k + 1));
    const std::ptrdiff_t previous_k = down ? k + 1 : k - 1;
    const std::ptrdiff_t previous_x = was(previous_k);
    const std::ptrdiff_t previous_y = previous_x - previous_k;
    for (; x > previous_x && y > previous_y; --x, --y) script.push_back(Edit::Keep);
    script.push_back(down ? Edit::Add : Edit::Remove);
    x = previous_x;
    y = previous_y;
  }
  for (; x > 0; --x) script.push_back(Edit::Keep);
  std::reverse(script.begin(), script.end());
  return script;
}

/// The edit script of `a` into `b`: shared first and last lines kept, the middle by Myers or,
/// when that gives up, removed and added whole.
std::vector<Edit> edit_script(const Lines& a, const Lines& b) {
  std::size_t prefix = 0;
  while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
         a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) {
    ++suffix;
  }
  const auto n = static_cast<std::ptrdiff_t>(a.size() - prefix - suffix);
  const auto m = static_cast<std::ptrdiff_t>(b.size() - prefix - suffix);
  std::vector<Edit> middle = shortest_edits(a.data() + prefix, n, b.data() + prefix, m);
  if (middle.empty() && n + m > 0) {
    middle.assign(static_cast<std::size_t>(n), Edit::Remove);
    middle.insert(middle.end(), static_cast<std::size_t>(m), Edit::Add);
  }
  std::vector<Edit> script(prefix, Edit::Keep);
  script.insert(script.end(), middle.begin(), middle.end());
  script.insert(script.end(), suffix, Edit::Keep);
  return script;
}

void append_line(std::string& out, Edit edit, std::string_view line) {
  out += static_cast<char>(edit);
  out.append(line);
  if (!line.ends_with('\n')) out += "\n\\ No newline at end of file\n";
}

/// "@@ -START,COUNT +START,COUNT @@": a range of no lines starts at the line before it.
void append_range(std::string& out, char sign, std::size_t first, std::size_t count) {
  out += sign;
  out += std::to_string(count == 0 ? first : first + 1);
  out += ',';
  out += std::to_string(count);
}

}  // namespace

std::string unified_diff(std::string_view name, std::string_view before, std::string_view after) {
  if (before == after) return {};
  const Lines a = split_lines(before);
  const Lines b = split_lines(after);
  const std::vector<Edit> script = edit_script(a, b);

  std::string out = "--- " + std::string(name) + "\n+++ " + std::string(name) + "\n";
  // a_line[i] and b_line[i]: the lines of `a` and `b` before edit i.
  std::vector<std::size_t> a_line(script.size() + 1, 0);
  std::vector<std::size_t> b_line(script.size() + 1, 0);
  for (std::size_t i = 0; i < script.size(); ++i) {
    a_line[i + 1] = a_line[i] + (script[i] != Edit::Add ? 1 : 0);
    b_line[i + 1] = b_line[i] + (script[i] != Edit::Remove ? 1 : 0);
  }
  std::size_t i = 0;
  while (i < script.size()) {
    if (script[i] == Edit::Keep) {
      ++i;
      continue;
    }
    // A hunk: from kContext lines before this change to kContext lines after the last change
    // that follows within 2 * kContext kept lines (whose contexts would touch).
    const std::size_t start = i - std::min(i, kContext);
    std::size_t last_change = i;
    for (std::size_t j = i; j < script.size() && j <= last_change + 2 * kContext + 1; ++j) {
      if (script[j] != Edit::Keep) last_change = j;
    }
    const std::size_t end = std::min(script.size(), last_change + 1 + kContext);
    out += "@@ ";
    append_range(out, '-', a_line[start], a_line[end] - a_line[start]);
    out += ' ';
    append_range(out, '+', b_line[start], b_line[end] - b_line[start]);
    out += " @@\n";
    for (std::size_t j = start; j < end; ++j) {
      append_line(out, script[j], script[j] == Edit::Add ? b[b_line[j]] : a[a_line[j]]);
    }
    i = end;
  }
  return out;
}

}  // namespace tarn::tool
