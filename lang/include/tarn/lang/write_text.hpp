// Writing a whole text to a descriptor: the one output loop of both tools (standard output and
// standard error), the counterpart of read_text().
#pragma once

#include <string_view>

namespace tarn::lang {

/// Writes all of `text` to the open descriptor `fd`. A partial write goes on with the rest, an
/// interrupted one is repeated, and a descriptor that would block (a non-blocking pipe that is
/// full) is waited for until it takes more. Returns 0, or the errno of the write that failed.
/// **Example**: write_text(STDOUT_FILENO, "ok\n") with standard output on /dev/full -> ENOSPC.
int write_text(int fd, std::string_view text);

}  // namespace tarn::lang
