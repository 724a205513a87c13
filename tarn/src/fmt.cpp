// `tarn fmt`: the formatter of the library (format_policy) over files.
//
// A file that does not parse is reported where it fails and never written. With -w a file that
// is already formatted is not touched at all (its modification time stays), and one that is not
// is replaced in one step (replace_file). The files are handled one by one: a failure on one is
// reported and the others are still done.
#include "fmt.hpp"

#include <string>
#include <utility>

#include "check.hpp"
#include "located_error.hpp"
#include "replace_file.hpp"
#include "tarn/lang/format.hpp"
#include "unified_diff.hpp"

namespace tarn::tool {

ToolOutput fmt_command(const FmtCommandOptions& options) {
  if (options.write && (options.check || options.diff)) {
    return {"", "tarn fmt: -w cannot be combined with --check or --diff\n", 2};
  }
  if (options.write) {
    for (const std::string& file : options.files) {
      if (file == "-") return {"", "tarn fmt: -w cannot rewrite standard input\n", 2};
    }
  }
  ToolOutput output;
  for (const std::string& file : options.files) {
    auto text = read_script(file);
    if (!text) {
      output.err += text.error().err;
      output.status = 1;
      continue;
    }
    const std::string name = display_name(file);
    auto formatted = lang::format_policy(*text);
    if (!formatted) {
      output.err += parse_diagnostic(name, *text, formatted.error()) + "\n";
      output.status = 1;
      continue;
    }
    const bool changes = *formatted != text->view();
    if (options.diff) {
      output.out += unified_diff(name, *text, *formatted);
    } else if (options.check) {
      if (changes) output.out += name + "\n";
    } else if (!options.write) {
      output.out += *formatted;
    }
    if (options.check && changes) output.status = 1;
    if (options.write && changes) {
      if (auto replaced = replace_file(file, *formatted); !replaced) {
        output.err += "tarn fmt: cannot rewrite '" + file + "': " + replaced.error() + "\n";
        output.status = 1;
      }
    }
  }
  return output;
}

}  // namespace tarn::tool
