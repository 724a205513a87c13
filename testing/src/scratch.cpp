// The scratch directory is named after the test and the process, so that tests running in
// parallel under CTest never share one.
#include "tarn/testing/scratch.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include "tarn/testing/process.hpp"

namespace tarn::testing {

ScratchDir::ScratchDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string test = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name()
                                           : std::string("outside-a-test");
  path_ = std::filesystem::temp_directory_path() /
          ("tarn-test-" + test + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::write(const std::string& name, const std::string& text) const {
  std::string path = file(name);
  write_file(path, text);
  return path;
}

std::string ScratchDir::make_dir(const std::string& name) const {
  std::filesystem::create_directories(path_ / name);
  return file(name);
}

std::string repeat(std::string_view text, std::size_t count) {
  std::string out;
  out.reserve(text.size() * count);
  for (std::size_t i = 0; i < count; ++i) out += text;
  return out;
}

}  // namespace tarn::testing
