// Reading script files whole: the platform's failure texts, the UTF-8 check.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tarn/lang/source_file.hpp"
#include "tarn/testing/process.hpp"
#include "tarn/testing/scratch.hpp"

namespace tarn::lang {
namespace {

class SourceFile : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return scratch_.file(name); }

  testing::ScratchDir scratch_;
};

TEST_F(SourceFile, ReadsWholeFiles) {
  const std::string cases[] = {
      "",
      "report()\n",
      "escalate(\"\u00e9\U0001F600\")\r\n",
      std::string(200'000, 'x') + "\u00e9",  // larger than one read, into mapped pages
      std::string(64 * 1024 - 1, 'y'),      // either side of the size that is mapped
      std::string(64 * 1024, 'z'),
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.size());
    testing::write_file(path("script.tarn"), text);
    const auto read = read_text_file(path("script.tarn"));
    ASSERT_TRUE(read.has_value()) << read.error().reason;
    EXPECT_EQ(read->view(), text);
  }
}

TEST_F(SourceFile, MovedAndReleasedTextsKeepTheirBytes) {
  for (const std::size_t size : {std::size_t{10}, std::size_t{300'000}}) {
    SCOPED_TRACE(size);
    const std::string text(size, 'r');
    testing::write_file(path("script.tarn"), text);
    auto read = read_text_file(path("script.tarn"));
    ASSERT_TRUE(read.has_value());
    SourceText moved = std::move(*read);
    SourceText assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.view(), text);
    EXPECT_EQ(std::move(assigned).release(), text);
  }
}

// A descriptor handed over (standard input) is read from where it stands, into mapped pages when
// large; a pipe closed without a byte is the empty text, not a FIFO without a writer.
TEST_F(SourceFile, ReadsDescriptorsFromWhereTheyStand) {
  const std::string skipped = "// skipped\n";
  const std::string rest = std::string(100'000, ' ') + "report()\n";
  testing::write_file(path("script.tarn"), skipped + rest);
  const int fd = ::open(path("script.tarn").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lseek(fd, static_cast<off_t>(skipped.size()), SEEK_SET),
            static_cast<off_t>(skipped.size()));
  const auto read = read_text(fd);
  ::close(fd);
  ASSERT_TRUE(read.has_value()) << read.error().reason;
  EXPECT_EQ(read->view(), rest);

  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[1]);
  const auto empty = read_text(ends[0]);
  ::close(ends[0]);
  ASSERT_TRUE(empty.has_value()) << empty.error().reason;
  EXPECT_EQ(empty->view(), "");
}

TEST_F(SourceFile, Failures) {
  testing::write_file(path("latin1.tarn"), "escalate(\"caf\xe9\")\n");
  testing::write_file(path("large-latin1.tarn"), std::string(100'000, ' ') + "caf\xe9");
  struct Case {
    std::string path;
    std::string reason;
  };
  const Case cases[] = {
      {path("missing.tarn"), "No such file or directory"},
      {path("missing/dir/x.tarn"), "No such file or directory"},
      {scratch_.path(), "Is a directory"},
      {path("latin1.tarn"), "stream did not contain valid UTF-8"},
      {path("large-latin1.tarn"), "stream did not contain valid UTF-8"},
      {"", "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const auto read = read_text_file(c.path);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().reason, c.reason);
  }
}

TEST(Utf8, Validation) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain ASCII, longer than eight bytes", true},
      {"\u00e9\u20ac\U0001F600\U0010FFFF", true},
      {"12345678\u00e9", true},               // after a full ASCII block
      {"\x80", false},                        // lone continuation
      {"abcdefgh\xC3", false},                // truncated at the end
      {"\xC3(", false},                       // bad continuation
      {"\xC0\xAF", false},                    // overlong "/"
      {"\xC1\xBF", false},                    // overlong
      {"\xE0\x9F\xBF", false},                // overlong three-byte
      {"\xF0\x8F\xBF\xBF", false},            // overlong four-byte
      {"\xED\xA0\x80", false},                // surrogate U+D800
      {"\xED\x9F\xBF", true},                 // U+D7FF
      {"\xEE\x80\x80", true},                 // U+E000
      {"\xF4\x90\x80\x80", false},            // U+110000
      {"\xF5\x80\x80\x80", false},
      {"\xFF", false},
      {std::string("a\0b", 3), true},         // NUL is a character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid);
  }
  // Long ASCII runs are checked many bytes at a time: a sequence anywhere in them, inside a
  // block or across the end of one, is still seen.
  for (std::size_t at = 0; at < 100; ++at) {
    SCOPED_TRACE(at);
    std::string text(100, 'a');
    text.replace(at, 2, "\xC3\xA9");  // é
    EXPECT_TRUE(is_valid_utf8(text));
    text[at] = '\xFF';
    EXPECT_FALSE(is_valid_utf8(text));
    text[at] = '\xC3';
    text.resize(at + 1);  // a lead byte cut off at the end
    EXPECT_FALSE(is_valid_utf8(text));
  }
}

}  // namespace
}  // namespace tarn::lang
