// Reads that must end whatever the path names: the size limit (an endless device meets it), and
// FIFOs, which would otherwise wait for a writer forever.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tarn/lang/source_file.hpp"
#include "tarn/testing/process.hpp"
#include "tarn/testing/scratch.hpp"

namespace tarn::lang {
namespace {

class ReadLimits : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return scratch_.file(name); }

  testing::ScratchDir scratch_;
};

TEST_F(ReadLimits, SizeLimit) {
  testing::write_file(path("ten"), "report()\n\n");
  struct Case {
    std::string path;
    std::size_t max_bytes;
    bool read;
  };
  const Case cases[] = {
      {path("ten"), 10, true},
      {path("ten"), 9, false},
      {"/dev/zero", 200000, false},  // several chunks, then the limit
      {"/dev/null", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " " + std::to_string(c.max_bytes));
    const auto text = read_text_file(c.path, c.max_bytes);
    ASSERT_EQ(text.has_value(), c.read);
    if (!c.read) {
      EXPECT_TRUE(text.error().too_large);
      EXPECT_EQ(text.error().reason, "text exceeds " + std::to_string(c.max_bytes) + " bytes");
    }
  }
  const auto missing = read_text_file(path("missing"), 0);
  ASSERT_FALSE(missing.has_value());
  EXPECT_FALSE(missing.error().too_large);
}

TEST_F(ReadLimits, FifoWithoutWriterFails) {
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  const auto text = read_text_file(path("fifo"));
  ASSERT_FALSE(text.has_value());
  EXPECT_EQ(text.error().reason, "FIFO has no writer");
}

// A writer that is already there is waited for, however slowly it writes. (Opened read-write,
// the writer's end is open before the read starts and can never meet a FIFO without readers.)
TEST_F(ReadLimits, FifoWithWriterIsReadToTheEnd) {
  const std::string fifo = path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int fd = ::open(fifo.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  std::thread writer([fd] {
    const std::string part = "report()\n";
    for (int i = 0; i < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      if (::write(fd, part.data(), part.size()) < 0) break;
    }
    ::close(fd);
  });
  const auto text = read_text_file(fifo);
  writer.join();
  ASSERT_TRUE(text.has_value()) << text.error().reason;
  EXPECT_EQ(text->view(), "report()\nreport()\nreport()\n");
}

}  // namespace
}  // namespace tarn::lang
