// fork/exec with two pipes drained by poll(), so that a child writing megabytes to both streams
// cannot deadlock against the test.
#include "tarn/testing/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#ifndef TARN_BIN_DIR
#error "TARN_BIN_DIR must name the directory of the built tools"
#endif

namespace tarn::testing {
namespace {

void write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // the child stopped reading; what it got is what it gets
    }
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const ProcessOptions& options) {
  int out_pipe[2];
  int err_pipe[2];
  int in_pipe[2] = {-1, -1};
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  if (options.stdin_text && ::pipe(in_pipe) != 0) throw std::runtime_error("pipe failed");

  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  // A full non-blocking pipe: what was put in to fill it is read back first and dropped.
  std::size_t filler = 0;
  if (options.slow_nonblocking_stdout) {
    ::fcntl(out_pipe[1], F_SETFL, ::fcntl(out_pipe[1], F_GETFL) | O_NONBLOCK);
    const std::string block(4096, '.');
    ssize_t n = 0;
    while ((n = ::write(out_pipe[1], block.data(), block.size())) > 0) {
      filler += static_cast<std::size_t>(n);
    }
  }

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (options.working_directory && ::chdir(options.working_directory->c_str()) != 0) _exit(127);
    if (options.stdin_text) {
      ::dup2(in_pipe[0], STDIN_FILENO);
    } else {
      const int null_fd = ::open("/dev/null", O_RDONLY);
      ::dup2(null_fd, STDIN_FILENO);
    }
    if (options.close_stdout) {
      ::close(STDOUT_FILENO);
    } else if (options.stdout_path) {
      const int fd = ::open(options.stdout_path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) _exit(127);
      ::dup2(fd, STDOUT_FILENO);
    } else {
      ::dup2(out_pipe[1], STDOUT_FILENO);
    }
    ::dup2(err_pipe[1], STDERR_FILENO);
    for (int fd = 3; fd < 1024; ++fd) ::close(fd);
    const auto limit = [](int resource, std::optional<std::uint64_t> value) {
      if (!value) return;
      const rlimit bound{static_cast<rlim_t>(*value), static_cast<rlim_t>(*value)};
      if (::setrlimit(resource, &bound) != 0) _exit(127);
    };
    limit(RLIMIT_FSIZE, options.file_size_limit);
    limit(RLIMIT_AS, options.address_space_limit);
    ::execv(program.c_str(), argv.data());
    _exit(127);
  }

  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (options.stdin_text) {
    ::close(in_pipe[0]);
    write_all(in_pipe[1], *options.stdin_text);
    ::close(in_pipe[1]);
  }

  ProcessResult result;
  std::array<pollfd, 2> fds{{{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}}};
  std::array<std::string*, 2> sinks{&result.out, &result.err};
  int open_count = 2;
  std::array<char, 65536> buffer{};
  // A slow reader takes a page at a time, a millisecond apart.
  const std::size_t read_size = options.slow_nonblocking_stdout ? 4096 : buffer.size();
  while (open_count > 0) {
    if (options.slow_nonblocking_stdout) ::usleep(1000);
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer.data(), read_size);
      if (n > 0) {
        sinks[i]->append(buffer.data(), static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }

  result.out.erase(0, filler);

  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) result.status = 128 + WTERMSIG(wait_status);
  return result;
}

std::string tool_path(const std::string& name) { return std::string(TARN_BIN_DIR) + "/" + name; }

void write_file(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

}  // namespace tarn::testing
