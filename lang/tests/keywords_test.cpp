// The keywords' help lists exactly the parser's keywords, in its order, each with its help.
#include <gtest/gtest.h>

#include <string_view>

#include "statement_forms.hpp"
#include "tarn/lang/keywords.hpp"

namespace tarn::lang {
namespace {

TEST(KeywordHelp, ListsEveryKeywordOfTheParser) {
  const auto parser = detail::keywords();
  const auto help = keyword_help();
  ASSERT_EQ(help.size(), parser.size());
  for (std::size_t i = 0; i < help.size(); ++i) {
    SCOPED_TRACE(parser[i]);
    EXPECT_EQ(help[i].keyword, parser[i]);
    EXPECT_TRUE(help[i].form.starts_with(parser[i]));
    EXPECT_TRUE(help[i].snippet.starts_with(parser[i]));
    EXPECT_FALSE(help[i].meaning.empty());
  }
}

}  // namespace
}  // namespace tarn::lang
