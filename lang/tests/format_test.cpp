// The formatter: its layout on a table of untidy scripts, and its two promises (the same
// instructions, and a fixed point) over every script of the fuzz corpora and the examples.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tarn/lang/format.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/source_file.hpp"

namespace tarn::lang {
namespace {

TEST(Format, Layout) {
  struct Case {
    std::string text;
    std::string formatted;
  };
  const Case cases[] = {
      {"", ""},
      {" \r\n\t\n", ""},
      {"report()", "report()\n"},
      {"\n\n  report()report()\n\n\n", "report()\nreport()\n"},
      {"bind(\"k\",\n    3)", "bind(\"k\", 3)\n"},
      {"assert_bounds(0,1,  \"x\")", "assert_bounds(0, 1, \"x\")\n"},
      // numbers and strings keep their bytes, commas, braces and line breaks inside them too
      {"data(1e3)harmony(INF)data(.5)", "data(1e3)\nharmony(INF)\ndata(.5)\n"},
      {"escalate(\"a,  {b}\n //c  \")", "escalate(\"a,  {b}\n //c  \")\n"},
      // blocks
      {"if_broken{evolve(1)}", "if_broken {\n  evolve(1)\n}\n"},
      {"if_broken\n{\n}", "if_broken {\n}\n"},
      {"if_greater_than(\"x\",\t5)\n{if_broken{report()}\n\n\n  report()}",
       "if_greater_than(\"x\", 5) {\n  if_broken {\n    report()\n  }\n\n  report()\n}\n"},
      {"if_broken{\n\n report()\n\n}", "if_broken {\n  report()\n}\n"},
      // comments: on their own line, or after their statement; blank lines collapse to one
      {"// head  \r\nreport()   // why\r\n\r\n\r\n// next\n   evolve(1)//tight\n",
       "// head\nreport() // why\n\n// next\nevolve(1) //tight\n"},
      {"if_broken{evolve(1)} // corrupt is kept\n", "if_broken {\n  evolve(1)\n} // corrupt is kept\n"},
      {"report()\n// a\n\n\n// b\n", "report()\n// a\n\n// b\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto formatted = format_policy(c.text);
    ASSERT_TRUE(formatted) << parse_error_text(formatted.error());
    EXPECT_EQ(*formatted, c.formatted);
  }
}

TEST(Format, TextThatDoesNotParse) {
  const auto formatted = format_policy("report()\nif_broken {\n  report(\n}\n");
  ASSERT_FALSE(formatted);
  EXPECT_EQ(formatted.error().offset, 30U);
}

// Every script of the fuzz corpora and every example policy that parses: the formatted text has
// the same canonical text, and formatting it again changes nothing.
TEST(Format, KeepsMeaningAndIsIdempotentOverTheCorpora) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(TARN_TEST_DATA_DIR).parent_path();
  std::vector<fs::path> files;
  for (const char* folder : {"fuzz/corpus", "examples/policies"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  int formatted_scripts = 0;
  for (const fs::path& file : files) {
    std::ifstream stream(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(stream)),
                           std::istreambuf_iterator<char>());
    if (!is_valid_utf8(text)) continue;
    const auto program = parse_program(text);
    if (!program) continue;
    SCOPED_TRACE(file.string());
    const auto once = format_policy(text);
    ASSERT_TRUE(once);
    const auto reparsed = parse_program(*once);
    ASSERT_TRUE(reparsed) << *once;
    EXPECT_EQ(canonical_lines(*reparsed), canonical_lines(*program));
    const auto twice = format_policy(*once);
    ASSERT_TRUE(twice);
    EXPECT_EQ(*twice, *once);
    ++formatted_scripts;
  }
  EXPECT_GT(formatted_scripts, 40);
}

}  // namespace
}  // namespace tarn::lang
