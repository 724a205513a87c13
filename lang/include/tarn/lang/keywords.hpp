// The statements of the language as people look them up: each keyword with its form and what it
// does, in one table, which docs/language.md describes at length and editors show as help.
//
//   for (const tarn::lang::KeywordHelp& k : tarn::lang::keyword_help()) ...
//   const tarn::lang::KeywordHelp* help = tarn::lang::find_keyword_help("evolve");
#pragma once

#include <span>
#include <string_view>

namespace tarn::lang {

/// One keyword and its help.
struct KeywordHelp {
  std::string_view keyword;
  /// The statement as written, its arguments named: `bind("key", position)`. Diagnostics quote
  /// it when a statement is malformed.
  std::string_view form;
  /// The form as an editor snippet, with a tab stop per argument: `evolve(${1:position})`.
  std::string_view snippet;
  /// What the statement does, in one paragraph.
  std::string_view meaning;
};

/// Every keyword the parser knows, in the order of the instruction table.
std::span<const KeywordHelp> keyword_help();

/// The help of `keyword`; none when it is no keyword. **Example**: find_keyword_help("report")
/// ->form == "report([number])"; find_keyword_help("Report") == nullptr.
const KeywordHelp* find_keyword_help(std::string_view keyword);

}  // namespace tarn::lang
