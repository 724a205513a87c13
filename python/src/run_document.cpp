// The run result document as Python values, member by member from the run state, in the order
// and with the values of the JSON document that `tarn run` writes (tarn/src/run.cpp). The test
// suite compares the two for every member, so they cannot drift apart unnoticed.
#include "run_document.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tarn/lang/runner.hpp"

namespace tarn::python {
namespace {

// Every name a result document uses, the lineage's included, in byte order.
constexpr std::array<std::string_view, 25> kNames{
    "budget_limit",
    "decision",
    "escalation",
    "executed_commands",
    "executed_commands_omitted",
    "final_residual",
    "fuel_used",
    "gate_state",
    "healed_indices",
    "identity",
    "last_healed",
    "lineage",
    "max_exposure",
    "pass",
    "replay_hash",
    "report_path",
    "report_text",
    "residual",
    "residual_log",
    "revealed",
    "signature",
    "time_window",
    "values",
    "volatility_limit",
    "zk_proof",
};
static_assert(std::is_sorted(kNames.begin(), kNames.end()));

/// The place of `name` in kNames. A name that is not there does not compile: the throw is not a
/// constant expression.
consteval std::size_t key(std::string_view name) {
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (kNames[i] == name) return i;
  }
  throw "not a member of the result document";
}

// Made once and never freed, like the module: the names as interned strings, and for each form
// of document a dict that holds its members in their order (the document of an empty run). A
// document starts as a copy of its template and has its values replaced. Per decision of the D1
// policy (callgrind, the whole Policy.run): names made at each run 29.0K instructions, interned
// 17.3K; a copy of the template rather than an empty dict (which grows three times on the way to
// 22 members) 15.3K.
std::array<PyObject*, kNames.size()> names{};
PyObject* document_template = nullptr;
PyObject* counted_commands_template = nullptr;  // the document with the command texts counted
PyObject* lineage_template = nullptr;

/// Takes a new reference; a null one is the Python error that made it.
py::object owned(PyObject* object) {
  if (object == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(object);
}

py::dict copy_of(PyObject* dict) {
  if (dict == nullptr) return py::dict();  // making the template itself
  return py::reinterpret_steal<py::dict>(owned(PyDict_Copy(dict)).release());
}

void put(const py::dict& dict, std::size_t name, const py::object& value) {
  if (PyDict_SetItem(dict.ptr(), names[name], value.ptr()) != 0) throw py::error_already_set();
}

py::object text(std::string_view value) {
  return owned(PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), nullptr));
}

/// A JSON number: null when not finite.
py::object number(double value) {
  return std::isfinite(value) ? owned(PyFloat_FromDouble(value)) : py::none();
}

py::object integer(std::uint64_t value) { return owned(PyLong_FromUnsignedLongLong(value)); }

py::object or_none(const std::optional<double>& value) {
  return value ? number(*value) : py::none();
}
py::object or_none(const std::optional<std::uint64_t>& value) {
  return value ? integer(*value) : py::none();
}
py::object or_none(const std::optional<std::string>& value) {
  return value ? text(*value) : py::none();
}

template <class T, class Convert>
py::object list(std::span<const T> items, Convert convert) {
  py::object result = owned(PyList_New(static_cast<Py_ssize_t>(items.size())));
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(i), convert(items[i]).release().ptr());
  }
  return result;
}

py::object command_texts(const lang::CommandLog& log) {
  py::object result = owned(PyList_New(static_cast<Py_ssize_t>(log.size())));
  std::string buffer;
  for (std::size_t i = 0; i < log.size(); ++i) {
    buffer.clear();
    log.append_text(buffer, i);
    PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(i), text(buffer).release().ptr());
  }
  return result;
}

/// The lineage object; its command list holds the same str objects as the document's `commands`
/// (in a list of its own, so that changing one list leaves the other as it was).
py::dict fill_lineage(PyObject* from, const lang::Lineage& lineage, const py::object& commands) {
  py::dict document = copy_of(from);
  put(document, key("executed_commands"),
      owned(PyList_GetSlice(commands.ptr(), 0, PyList_GET_SIZE(commands.ptr()))));
  put(document, key("final_residual"), number(lineage.final_residual));
  put(document, key("fuel_used"), integer(lineage.fuel_used));
  put(document, key("gate_state"), text(lineage.gate_state));
  put(document, key("identity"), or_none(lineage.identity));
  return document;
}

/// The document, from the template `from`. With `count_commands` the command texts give way to
/// their count; the lineage is null then, as a run whose lineage record would hold that much text
/// fails instead.
py::dict fill_document(PyObject* from, const lang::RunState& state, std::span<const double> values,
                       bool count_commands) {
  const lang::CommandLog& log = state.executed_commands;
  const py::object commands = count_commands ? py::none() : command_texts(log);
  py::dict document = copy_of(from);
  put(document, key("budget_limit"), or_none(state.budget_limit));
  put(document, key("decision"), text(lang::run_decision(state)));
  put(document, key("escalation"), or_none(state.escalation));
  if (count_commands) {
    put(document, key("executed_commands_omitted"), integer(log.size()));
  } else {
    put(document, key("executed_commands"), commands);
  }
  put(document, key("fuel_used"), integer(state.fuel_used));
  put(document, key("healed_indices"),
      list(std::span<const std::uint64_t>(state.healed_indices), integer));
  put(document, key("identity"), or_none(state.identity));
  put(document, key("last_healed"), or_none(state.last_healed));
  put(document, key("lineage"),
      state.lineage && !count_commands
          ? py::object(fill_lineage(lineage_template, *state.lineage, commands))
          : py::none());
  put(document, key("max_exposure"), or_none(state.max_exposure));
  put(document, key("pass"), py::bool_(state.pass));
  put(document, key("replay_hash"), or_none(state.replay_hash));
  put(document, key("report_path"), or_none(state.report_path));
  put(document, key("report_text"), or_none(state.report_text));
  put(document, key("residual"), number(state.residual));
  put(document, key("residual_log"), list(std::span<const double>(state.residual_log), number));
  put(document, key("revealed"), or_none(state.revealed));
  put(document, key("signature"), or_none(state.signature));
  put(document, key("time_window"), or_none(state.time_window));
  put(document, key("values"), list(values, number));
  put(document, key("volatility_limit"), or_none(state.volatility_limit));
  put(document, key("zk_proof"), or_none(state.zk_proof));
  return document;
}

}  // namespace

void make_member_names() {
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    names[i] = PyUnicode_InternFromString(std::string(kNames[i]).c_str());
    if (names[i] == nullptr) throw py::error_already_set();
  }
  const lang::RunState empty_run;
  document_template = fill_document(nullptr, empty_run, {}, false).release().ptr();
  counted_commands_template = fill_document(nullptr, empty_run, {}, true).release().ptr();
  lineage_template = fill_lineage(nullptr, lang::Lineage{}, py::list()).release().ptr();
}

py::dict run_document(const lang::RunState& state, std::span<const double> values,
                      bool omit_commands) {
  return fill_document(omit_commands ? counted_commands_template : document_template, state, values,
                       omit_commands);
}

}  // namespace tarn::python
