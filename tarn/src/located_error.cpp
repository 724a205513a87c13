#include "located_error.hpp"

#include <string>
#include <string_view>

namespace tarn::tool {

std::string display_name(std::string_view file) {
  return file == "-" ? std::string("<stdin>") : std::string(file);
}

std::string located_error(std::string_view file, std::uint32_t line, std::uint32_t column,
                          std::string_view message) {
  std::string out(file);
  out += ':' + std::to_string(line) + ':' + std::to_string(column) + ": error: ";
  out.append(message);
  return out;
}

std::string parse_diagnostic(std::string_view file, std::string_view text,
                             const lang::ParseError& error) {
  const lang::LineColumn where = lang::line_column(text, error.offset);
  return located_error(file, where.line, where.column, lang::parse_error_text(error));
}

}  // namespace tarn::tool
