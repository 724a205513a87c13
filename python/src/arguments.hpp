// Python arguments to engine values.
//
// A harness author who passes the wrong thing learns which argument and why: a value of the wrong
// kind is a TypeError ("fuel must be an int, not str"), a value of the right kind that the engine
// cannot take is a ValueError ("corrupt_index 4 is outside the memory's positions 0 to 3"). A bool
// is never taken for a number, although Python counts it as an int: `fuel=True` is a mistake.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <nlohmann/json.hpp>

#include "tarn/lang/file_access.hpp"
#include <string>
#include <string_view>
#include <vector>

namespace tarn::python {

namespace py = pybind11;

/// A str as UTF-8. The view lives as long as `value` does.
/// **Example**: text_argument(py::str("report()"), "text") -> "report()"; b"x" -> TypeError.
std::string_view text_argument(py::handle value, std::string_view name);

/// A policy's text: text_argument, and no larger than the engine reads a script file.
std::string_view policy_text_argument(py::handle value);

/// An int or a float as a double. **Example**: 1337 -> 1337.0; "1337" -> TypeError.
double number_argument(py::handle value, std::string_view name);

/// An int from 0 to 2^64 - 1. **Example**: -1 -> ValueError "fuel must not be negative (got -1)".
std::uint64_t count_argument(py::handle value, std::string_view name);

/// A bool, and nothing else. **Example**: 1 -> TypeError "json must be a bool, not int".
bool flag_argument(py::handle value, std::string_view name);

/// A sequence of ints from -128 to 127 (a list or a tuple, say; never a str).
std::vector<std::int8_t> signs_argument(py::handle value);

/// A sequence of ints and floats.
std::vector<double> values_argument(py::handle value);

/// A JSON-like value as the document a context file holding it would give: dicts with str keys,
/// lists and tuples, str, int, float, bool and None. Integers keep their integer form; a float
/// that JSON cannot write (nan, inf) is a ValueError; anything else is a TypeError.
/// **Example**: {"amount": 125} -> {"amount": 125} (an unsigned integer, as the parser reads it).
nlohmann::json context_argument(py::handle value);

/// A dict of names to texts: the files a policy's runs import.
/// **Example**: {"shared.tarn": "alias(0, \"reserve\")"}; {"shared.tarn": b"..."} -> TypeError.
lang::MemoryFiles::Texts files_argument(py::handle value);

}  // namespace tarn::python
