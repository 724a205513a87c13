// The run result document as Python values, member by member from the run state, in the order
// and with the values of the JSON document that `tarn run` writes (tarn/src/run.cpp). The test
// suite compares the two for every member, so they cannot drift apart unnoticed.
#include "run_document.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tarn/lang/runner.hpp"

namespace tarn::python {
namespace {

// Every name a result document uses, in byte order; the document's members are written in this
// order, as the JSON document sorts them.
enum Key : std::size_t {
  kBudgetLimit,
  kDecision,
  kEscalation,
  kExecutedCommands,
  kFinalResidual,  // lineage
  kFuelUsed,
  kGateState,  // lineage
  kHealedIndices,
  kIdentity,
  kLastHealed,
  kLineage,
  kMaxExposure,
  kPass,
  kReplayHash,
  kReportPath,
  kReportText,
  kResidual,
  kResidualLog,
  kRevealed,
  kSignature,
  kTimeWindow,
  kValues,
  kVolatilityLimit,
  kZkProof,
  kKeyCount,
};

constexpr std::array<const char*, kKeyCount> kKeyNames{
    "budget_limit",   "decision",     "escalation",       "executed_commands",
    "final_residual", "fuel_used",    "gate_state",       "healed_indices",
    "identity",       "last_healed",  "lineage",          "max_exposure",
    "pass",           "replay_hash",  "report_path",      "report_text",
    "residual",       "residual_log", "revealed",         "signature",
    "time_window",    "values",       "volatility_limit", "zk_proof",
};

// Made once and never freed, like the module: the names as interned strings, and dicts that hold
// each document's members (all None) in their order. Per decision of the D1 policy (callgrind,
// whole Policy.run): names made at each run 29.0K instructions, interned 17.3K; a document
// started as a copy of its template rather than an empty dict (which grows three times on the
// way to 22 members) 15.3K.
std::array<PyObject*, kKeyCount> key_objects{};
PyObject* document_template = nullptr;
PyObject* lineage_template = nullptr;

constexpr std::array kDocumentKeys{
    kBudgetLimit, kDecision,   kEscalation, kExecutedCommands, kFuelUsed,    kHealedIndices,
    kIdentity,    kLastHealed, kLineage,    kMaxExposure,      kPass,        kReplayHash,
    kReportPath,  kReportText, kResidual,   kResidualLog,      kRevealed,    kSignature,
    kTimeWindow,  kValues,     kVolatilityLimit, kZkProof,
};
constexpr std::array kLineageKeys{kExecutedCommands, kFinalResidual, kFuelUsed, kGateState,
                                  kIdentity};

/// Takes a new reference; a null one is the Python error that made it.
py::object owned(PyObject* object) {
  if (object == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(object);
}

py::dict copy_of(PyObject* dict) {
  PyObject* copy = PyDict_Copy(dict);
  if (copy == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::dict>(copy);
}

void put(const py::dict& dict, Key key, const py::object& value) {
  if (PyDict_SetItem(dict.ptr(), key_objects[key], value.ptr()) != 0) throw py::error_already_set();
}

py::object text(std::string_view value) {
  return owned(PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), nullptr));
}

/// A JSON number: null when not finite.
py::object number(double value) {
  return std::isfinite(value) ? owned(PyFloat_FromDouble(value)) : py::none();
}

py::object integer(std::uint64_t value) { return owned(PyLong_FromUnsignedLongLong(value)); }

py::object boolean(bool value) { return py::bool_(value); }

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

/// The lineage object of the document; its command list holds the same str objects as the
/// document's own (a list of its own, so that changing one list leaves the other as it was).
py::object lineage_document(const lang::RunState& state, const py::object& commands) {
  if (!state.lineage) return py::none();
  const lang::Lineage& lineage = *state.lineage;
  const auto document = copy_of(lineage_template);
  put(document, kExecutedCommands,
      owned(PyList_GetSlice(commands.ptr(), 0, PyList_GET_SIZE(commands.ptr()))));
  put(document, kFinalResidual, number(lineage.final_residual));
  put(document, kFuelUsed, integer(lineage.fuel_used));
  put(document, kGateState, text(lineage.gate_state));
  put(document, kIdentity, or_none(lineage.identity));
  return document;
}

}  // namespace

void make_member_names() {
  for (std::size_t i = 0; i < kKeyCount; ++i) {
    key_objects[i] = PyUnicode_InternFromString(kKeyNames[i]);
    if (key_objects[i] == nullptr) throw py::error_already_set();
  }
  const auto make_template = [](std::span<const Key> keys) {
    py::dict members;
    for (const Key key : keys) put(members, key, py::none());
    return members.release().ptr();
  };
  document_template = make_template(kDocumentKeys);
  lineage_template = make_template(kLineageKeys);
}

py::dict run_document(const lang::RunState& state, std::span<const double> values) {
  const py::object commands = command_texts(state.executed_commands);
  auto document = copy_of(document_template);
  put(document, kBudgetLimit, or_none(state.budget_limit));
  put(document, kDecision, text(lang::run_decision(state)));
  put(document, kEscalation, or_none(state.escalation));
  put(document, kExecutedCommands, commands);
  put(document, kFuelUsed, integer(state.fuel_used));
  put(document, kHealedIndices,
      list(std::span<const std::uint64_t>(state.healed_indices), integer));
  put(document, kIdentity, or_none(state.identity));
  put(document, kLastHealed, or_none(state.last_healed));
  put(document, kLineage, lineage_document(state, commands));
  put(document, kMaxExposure, or_none(state.max_exposure));
  put(document, kPass, boolean(state.pass));
  put(document, kReplayHash, or_none(state.replay_hash));
  put(document, kReportPath, or_none(state.report_path));
  put(document, kReportText, or_none(state.report_text));
  put(document, kResidual, number(state.residual));
  put(document, kResidualLog, list(std::span<const double>(state.residual_log), number));
  put(document, kRevealed, or_none(state.revealed));
  put(document, kSignature, or_none(state.signature));
  put(document, kTimeWindow, or_none(state.time_window));
  put(document, kValues, list(values, number));
  put(document, kVolatilityLimit, or_none(state.volatility_limit));
  put(document, kZkProof, or_none(state.zk_proof));
  return document;
}

}  // namespace tarn::python
