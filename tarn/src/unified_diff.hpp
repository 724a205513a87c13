// Unified diffs of two texts, line by line, as `tarn fmt --diff` prints them.
#pragma once

#include <string>
#include <string_view>

namespace tarn::tool {

/// The unified diff (three lines of context) that turns `before` into `after`, under the headers
/// "--- NAME" and "+++ NAME", so that `patch -p0` applies it; the empty text when the two are
/// equal. A last line without a line feed is marked "\ No newline at end of file".
/// **Example**: unified_diff("a.tarn", "report( )\n", "report()\n") ->
/// "--- a.tarn\n+++ a.tarn\n@@ -1,1 +1,1 @@\n-report( )\n+report()\n".
std::string unified_diff(std::string_view name, std::string_view before, std::string_view after);

}  // namespace tarn::tool
