// The two forms of a trace: lines for a person, JSON lines for tools.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tarn/json/number_text.hpp"
#include "tarn/json/object_writer.hpp"
#include "tarn/json/writer.hpp"
#include "tarn/lang/trace.hpp"

namespace tarn::lang {
namespace {

void append_location(std::string& out, const StatementLocation& location) {
  out += location.file;
  out += ':';
  out += std::to_string(location.line);
  out += ':';
  out += std::to_string(location.column);
}

// "file", "line" and "column" members, or null members when there is no location.
void location_members(json::ObjectWriter& object, std::string_view prefix,
                      const std::optional<StatementLocation>& location) {
  if (!location) {
    object.member(prefix) += "null";
    return;
  }
  std::string& out = object.member(prefix);
  json::CompactObject place(out);
  place.string("file", location->file);
  place.integer("line", location->line);
  place.integer("column", location->column);
  place.close();
}

}  // namespace

void append_trace_text(std::string& out, const Trace& trace) {
  for (const TraceStep& step : trace.steps) {
    out += "step ";
    out += std::to_string(step.step);
    out += " depth ";
    out += std::to_string(step.depth);
    out += ' ';
    append_location(out, step.location);
    out += ' ';
    out += step.instruction;
    out += "; fuel ";
    out += std::to_string(step.fuel_used);
    out += ", residual ";
    json::append_canonical_number(out, step.residual);
    out += step.pass ? ", pass true" : ", pass false";
    if (!step.explanation.empty()) {
      out += "; ";
      out += step.explanation;
    }
    for (const TraceBinding& binding : step.bindings) {
      out += binding.bound ? "; bound " : "; skipped ";
      append_quoted_text(out, binding.key);
      out += " (";
      out += binding.reason;
      out += ')';
    }
    if (step.error) {
      out += "; error: ";
      out += *step.error;
    }
    out += '\n';
  }
  out += trace.end.because;
  out += '\n';
}

void append_trace_json_lines(std::string& out, const Trace& trace) {
  for (const TraceStep& step : trace.steps) {
    json::CompactObject object(out);
    object.string("kind", "step");
    object.integer("step", step.step);
    object.integer("depth", step.depth);
    object.string("file", step.location.file);
    object.integer("line", step.location.line);
    object.integer("column", step.location.column);
    object.string("instruction", step.instruction);
    object.integer("fuel_used", step.fuel_used);
    object.number("residual", step.residual);
    object.number("tolerance", step.tolerance);
    object.boolean("pass", step.pass);
    object.or_null("alias", step.alias);
    object.or_null("position", step.position);
    object.or_null("value", step.value);
    object.or_null("threshold", step.threshold);
    std::string& entered = object.member("entered");
    entered += !step.entered ? "null" : *step.entered ? "true" : "false";
    object.array("bindings", step.bindings.size(), [&](std::string& text, std::size_t i) {
      const TraceBinding& binding = step.bindings[i];
      json::CompactObject item(text);
      item.string("key", binding.key);
      item.or_null("position", binding.position);
      item.or_null("value", binding.value);
      item.boolean("bound", binding.bound);
      item.string("reason", binding.reason);
      item.close();
    });
    object.string("explanation", step.explanation);
    object.or_null("error", step.error);
    object.close();
    out += '\n';
  }
  const TraceEnd& end = trace.end;
  json::CompactObject object(out);
  object.string("kind", "end");
  if (end.decision.empty()) {
    object.member("decision") += "null";
  } else {
    object.string("decision", end.decision);
  }
  object.boolean("pass", end.pass);
  object.number("residual", end.residual);
  object.number("tolerance", end.tolerance);
  location_members(object, "tolerance_set_at", end.tolerance_set_at);
  object.or_null("escalation", end.escalation);
  location_members(object, "escalated_at", end.escalated_at);
  object.or_null("error", end.error);
  location_members(object, "error_at", end.error_at);
  object.string("because", end.because);
  object.close();
  out += '\n';
}

}  // namespace tarn::lang
