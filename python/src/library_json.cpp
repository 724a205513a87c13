// Diagnostics and traces: the library's JSON text, read by Python's json module.
#include "library_json.hpp"

#include <string>
#include <string_view>

namespace tarn::python {
namespace {

/// Python's reading of a JSON text (the json module is imported once per process, then found in
/// sys.modules).
py::object read_json(std::string_view text) {
  return py::module_::import("json").attr("loads")(py::str(text.data(), text.size()));
}

}  // namespace

py::list diagnostics_value(std::span<const lang::Diagnostic> diagnostics) {
  std::string text;
  lang::append_diagnostics_json(text, diagnostics);
  return read_json(text)["diagnostics"];
}

py::dict trace_value(const lang::Trace& trace) {
  std::string text;
  lang::append_trace_json_lines(text, trace);
  // A line per step, then the end's line.
  py::list steps;
  py::dict line;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    if (start > 0) steps.append(line);
    line = read_json(std::string_view(text).substr(start, end - start));
    if (PyDict_DelItemString(line.ptr(), "kind") != 0) throw py::error_already_set();
  }
  py::dict value;
  value["steps"] = std::move(steps);
  value["end"] = std::move(line);
  return value;
}

}  // namespace tarn::python
