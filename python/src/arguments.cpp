// Python arguments to engine values: see arguments.hpp for the rules and their errors.
#include "arguments.hpp"

#include <cmath>
#include <cstddef>
#include <limits>

#include "tarn/lang/limits.hpp"

namespace tarn::python {
namespace {

std::string type_name(py::handle value) { return Py_TYPE(value.ptr())->tp_name; }

std::string shown(py::handle value) { return py::repr(value).cast<std::string>(); }

bool is_int(py::handle value) { return PyLong_Check(value.ptr()) && !PyBool_Check(value.ptr()); }

[[noreturn]] void wrong_type(std::string_view name, std::string_view expected, py::handle value) {
  throw py::type_error(std::string(name) + " must be " + std::string(expected) + ", not " +
                       type_name(value));
}

/// The items of a sequence argument; a str or bytes is refused, although Python counts both as
/// sequences, because their items are never what a memory holds.
py::object sequence_items(py::handle value, std::string_view name, std::string_view expected) {
  if (PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()) ||
      !PySequence_Check(value.ptr())) {
    wrong_type(name, expected, value);
  }
  PyObject* items = PySequence_Fast(value.ptr(), "");
  if (items == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(items);
}

std::string item_name(std::string_view name, std::size_t index) {
  return std::string(name) + "[" + std::to_string(index) + "]";
}

// Walks a Python value into a JSON document. Py_EnterRecursiveCall bounds the depth by the
// interpreter's recursion limit, so a deep or self-containing value ends in a RecursionError
// instead of exhausting the C++ stack.
nlohmann::json json_value(py::handle value) {
  PyObject* object = value.ptr();
  if (object == Py_None) return nullptr;
  if (PyBool_Check(object)) return object == Py_True;
  if (PyLong_Check(object)) {
    // As the JSON parser reads an integer: unsigned when it is not negative, signed when it is,
    // and a float when it does not fit 64 bits.
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(object, &overflow);
    if (overflow == 0) {
      if (number >= 0) return static_cast<std::uint64_t>(number);
      return static_cast<std::int64_t>(number);
    }
    if (overflow > 0) {
      const unsigned long long unsigned_number = PyLong_AsUnsignedLongLong(object);
      if (!PyErr_Occurred()) return static_cast<std::uint64_t>(unsigned_number);
      PyErr_Clear();
    }
    const double rounded = PyLong_AsDouble(object);
    if (PyErr_Occurred()) {
      PyErr_Clear();
      throw py::value_error("context holds an int too large for a JSON number: " + shown(value));
    }
    return rounded;
  }
  if (PyFloat_Check(object)) {
    const double number = PyFloat_AS_DOUBLE(object);
    if (!std::isfinite(number)) {
      throw py::value_error("context holds " + shown(value) + ", which JSON has no number for");
    }
    return number;
  }
  if (PyUnicode_Check(object)) return std::string(text_argument(value, "a context string"));

  if (Py_EnterRecursiveCall(" while reading the context") != 0) throw py::error_already_set();
  struct Leave {
    ~Leave() { Py_LeaveRecursiveCall(); }
  } leave;
  if (PyDict_Check(object)) {
    nlohmann::json document = nlohmann::json::object();
    for (const auto& [key, member] : py::reinterpret_borrow<py::dict>(value)) {
      if (!PyUnicode_Check(key.ptr())) wrong_type("context keys", "str", key);
      document[std::string(text_argument(key, "a context key"))] = json_value(member);
    }
    return document;
  }
  if (PyList_Check(object) || PyTuple_Check(object)) {
    nlohmann::json document = nlohmann::json::array();
    for (const py::handle item : value) document.push_back(json_value(item));
    return document;
  }
  throw py::type_error("context holds a " + type_name(value) +
                       ", which is not JSON-like (dict, list, tuple, str, int, float, bool or "
                       "None)");
}

}  // namespace

std::string_view text_argument(py::handle value, std::string_view name) {
  if (!PyUnicode_Check(value.ptr())) wrong_type(name, "a str", value);
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
  if (data == nullptr) {
    PyErr_Clear();
    throw py::value_error(std::string(name) + " holds a lone surrogate, which has no UTF-8 form");
  }
  return {data, static_cast<std::size_t>(size)};
}

std::string_view policy_text_argument(py::handle value) {
  const std::string_view text = text_argument(value, "text");
  if (text.size() > lang::kScriptTextLimit) {
    throw py::value_error("text is larger than " + lang::limit_text(lang::kScriptTextLimit) +
                          ", the most a policy may hold");
  }
  return text;
}

double number_argument(py::handle value, std::string_view name) {
  if (PyFloat_Check(value.ptr())) return PyFloat_AS_DOUBLE(value.ptr());
  if (!is_int(value)) wrong_type(name, "an int or a float", value);
  const double number = PyLong_AsDouble(value.ptr());
  if (PyErr_Occurred()) {
    PyErr_Clear();
    throw py::value_error(std::string(name) + " is too large for a float: " + shown(value));
  }
  return number;
}

std::uint64_t count_argument(py::handle value, std::string_view name) {
  if (!is_int(value)) wrong_type(name, "an int", value);
  int overflow = 0;
  const long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow < 0 || (overflow == 0 && number < 0)) {
    throw py::value_error(std::string(name) + " must not be negative (got " + shown(value) + ")");
  }
  if (overflow == 0) return static_cast<std::uint64_t>(number);
  const unsigned long long large = PyLong_AsUnsignedLongLong(value.ptr());
  if (PyErr_Occurred()) {
    PyErr_Clear();
    throw py::value_error(std::string(name) + " must be at most " +
                          std::to_string(std::numeric_limits<std::uint64_t>::max()) + " (got " +
                          shown(value) + ")");
  }
  return large;
}

bool flag_argument(py::handle value, std::string_view name) {
  if (!PyBool_Check(value.ptr())) wrong_type(name, "a bool", value);
  return value.ptr() == Py_True;
}

std::vector<std::int8_t> signs_argument(py::handle value) {
  const py::object items = sequence_items(value, "signs", "a sequence of ints");
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.ptr());
  std::vector<std::int8_t> signs;
  signs.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    const py::handle item = PySequence_Fast_GET_ITEM(items.ptr(), i);
    const std::string name = item_name("signs", signs.size());
    if (!is_int(item)) wrong_type(name, "an int", item);
    int overflow = 0;
    const long long sign = PyLong_AsLongLongAndOverflow(item.ptr(), &overflow);
    if (overflow != 0 || sign < std::numeric_limits<std::int8_t>::min() ||
        sign > std::numeric_limits<std::int8_t>::max()) {
      throw py::value_error(name + " must be from -128 to 127 (got " + shown(item) + ")");
    }
    signs.push_back(static_cast<std::int8_t>(sign));
  }
  return signs;
}

std::vector<double> values_argument(py::handle value) {
  const py::object items = sequence_items(value, "values", "a sequence of numbers");
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.ptr());
  std::vector<double> values;
  values.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    values.push_back(number_argument(PySequence_Fast_GET_ITEM(items.ptr(), i),
                                     item_name("values", values.size())));
  }
  return values;
}

nlohmann::json context_argument(py::handle value) { return json_value(value); }

lang::MemoryFiles::Texts files_argument(py::handle value) {
  if (!PyDict_Check(value.ptr())) wrong_type("files", "a dict of names to texts", value);
  lang::MemoryFiles::Texts texts;
  for (const auto& [name, text] : py::reinterpret_borrow<py::dict>(value)) {
    const std::string file(text_argument(name, "a name in files"));
    texts.emplace(file, text_argument(text, "files['" + file + "']"));
  }
  return texts;
}

}  // namespace tarn::python
