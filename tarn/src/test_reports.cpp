// JUnit XML and coverage reports of `tarn test`.
//
// JUnit has no formal schema; this writes the common subset that CI systems read: <testsuites>,
// one <testsuite> per test file, one <testcase> per case with a <failure> when it failed, and
// times in seconds. Texts from test files and run messages are escaped for XML 1.0, which has no
// way at all to write most control characters: those become U+FFFD.
#include "test_reports.hpp"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "tarn/json/writer.hpp"
#include "tarn/lang/parser.hpp"

namespace tarn::tool {
namespace {

void append_xml_text(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\n': out += "&#10;"; break;  // kept in attributes too
      case '\t': out += "&#9;"; break;
      case '\r': out += "&#13;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\xEF\xBF\xBD";
        } else {
          out += c;
        }
    }
  }
}

std::string seconds_text(double seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.6f", seconds);
  return buffer;
}

void append_testcase(std::string& out, std::string_view suite, std::string_view name,
                     double seconds, const std::vector<std::string>& failures) {
  out += "    <testcase name=\"";
  append_xml_text(out, name);
  out += "\" classname=\"";
  append_xml_text(out, suite);
  out += "\" time=\"" + seconds_text(seconds) + "\"";
  if (failures.empty()) {
    out += "/>\n";
    return;
  }
  out += ">\n      <failure message=\"";
  append_xml_text(out, failures.front());
  out += "\">";
  for (std::size_t i = 0; i < failures.size(); ++i) {
    if (i > 0) out += "&#10;";
    append_xml_text(out, failures[i]);
  }
  out += "</failure>\n    </testcase>\n";
}

/// The first line of a statement's text, without white space at its end.
std::string_view statement_line(std::string_view text, lang::SourceSpan span) {
  std::string_view statement = text.substr(span.offset, span.length);
  statement = statement.substr(0, statement.find('\n'));
  while (!statement.empty() && (statement.back() == ' ' || statement.back() == '\t' ||
                                statement.back() == '\r')) {
    statement.remove_suffix(1);
  }
  return statement;
}

struct NotStarted {
  lang::LineColumn where;
  std::string_view statement;
};

/// The statements of `policy` that no case started, with their lines and columns. The
/// statements are in text order, so each place is found from the one before (line_column on
/// the stretch between them), and the whole list costs one pass over the text.
std::vector<NotStarted> not_started(const PolicyCoverage& policy) {
  std::vector<NotStarted> list;
  std::size_t at = 0;
  lang::LineColumn where;
  for (std::size_t i = 0; i < policy.statements.size(); ++i) {
    if (policy.started[i]) continue;
    const std::size_t offset = policy.statements[i].offset;
    const lang::LineColumn step =
        lang::line_column(std::string_view(policy.text).substr(at), offset - at);
    where = step.line == 1 ? lang::LineColumn{where.line, where.column + step.column - 1}
                           : lang::LineColumn{where.line + step.line - 1, step.column};
    at = offset;
    list.push_back({where, statement_line(policy.text, policy.statements[i])});
  }
  return list;
}

std::size_t started_count(const PolicyCoverage& policy) {
  std::size_t count = 0;
  for (const bool started : policy.started) count += started ? 1 : 0;
  return count;
}

double share(const PolicyCoverage& policy) {
  return policy.statements.empty()
             ? 1.0
             : static_cast<double>(started_count(policy)) /
                   static_cast<double>(policy.statements.size());
}

}  // namespace

std::string junit_xml(const std::vector<FileResult>& files) {
  std::size_t tests = 0;
  std::size_t failures = 0;
  double seconds = 0.0;
  std::string suites;
  for (const FileResult& file : files) {
    std::size_t file_failures = file.error ? 1 : 0;
    double file_seconds = 0.0;
    std::string cases;
    if (file.error) append_testcase(cases, file.path, "(reading the test file)", 0.0, {*file.error});
    for (const CaseResult& test : file.cases) {
      if (!test.differences.empty()) ++file_failures;
      file_seconds += test.seconds;
      append_testcase(cases, file.path, test.name, test.seconds, test.differences);
    }
    const std::size_t file_tests = file.cases.size() + (file.error ? 1 : 0);
    suites += "  <testsuite name=\"";
    append_xml_text(suites, file.path);
    suites += "\" tests=\"" + std::to_string(file_tests) + "\" failures=\"" +
              std::to_string(file_failures) + "\" time=\"" + seconds_text(file_seconds) + "\">\n";
    suites += cases;
    suites += "  </testsuite>\n";
    tests += file_tests;
    failures += file_failures;
    seconds += file_seconds;
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"tarn test\" tests=\"" +
         std::to_string(tests) + "\" failures=\"" + std::to_string(failures) + "\" time=\"" +
         seconds_text(seconds) + "\">\n" + suites + "</testsuites>\n";
}

std::string coverage_text(const std::vector<const PolicyCoverage*>& policies) {
  std::string out;
  for (const PolicyCoverage* policy : policies) {
    char percent[16];
    std::snprintf(percent, sizeof percent, "%.1f%%", 100.0 * share(*policy));
    out += "coverage: " + policy->file + ": " + std::to_string(started_count(*policy)) + " of " +
           std::to_string(policy->statements.size()) + " statements started (" + percent + ")\n";
    for (const NotStarted& statement : not_started(*policy)) {
      out += "  " + policy->file + ":" + std::to_string(statement.where.line) + ":" +
             std::to_string(statement.where.column) + ": ";
      out.append(statement.statement);
      out += '\n';
    }
  }
  return out;
}

std::string coverage_json(const std::vector<const PolicyCoverage*>& policies) {
  nlohmann::json files = nlohmann::json::array();
  for (const PolicyCoverage* policy : policies) {
    nlohmann::json missing = nlohmann::json::array();
    for (const NotStarted& statement : not_started(*policy)) {
      missing.push_back({{"line", statement.where.line},
                         {"column", statement.where.column},
                         {"statement", std::string(statement.statement)}});
    }
    files.push_back({{"file", policy->file},
                     {"statements", policy->statements.size()},
                     {"started", started_count(*policy)},
                     {"share", share(*policy)},
                     {"not_started", std::move(missing)}});
  }
  std::string out;
  json::append_pretty(out, nlohmann::json{{"files", std::move(files)}});
  out += '\n';
  return out;
}

}  // namespace tarn::tool
