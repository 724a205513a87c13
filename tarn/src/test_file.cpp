// Test files are read with toml++ into TestCase values. Each level of the file has its table of
// known keys; a key found in none of them is an error at the key, and so is a value of the wrong
// kind. The checks that involve several keys of a case come after its keys are read.
#include "test_file.hpp"

#include <toml++/toml.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tarn::tool {
namespace {

using Error = TestFileError;

Error error_at(const toml::source_region& where, std::string message) {
  return {where.begin.line, where.begin.column, std::move(message)};
}

std::string in_quotes(std::string_view key) { return "'" + std::string(key) + "'"; }

/// A TOML value as a JSON value: tables become objects, arrays arrays. toml++ refuses a file
/// nested deeper than its limit (256 levels), which bounds this recursion.
Result<nlohmann::json, Error> to_json(const toml::node& node, const std::string& key) {
  if (const auto* text = node.as_string()) return nlohmann::json(text->get());
  if (const auto* integer = node.as_integer()) return nlohmann::json(integer->get());
  if (const auto* number = node.as_floating_point()) return nlohmann::json(number->get());
  if (const auto* flag = node.as_boolean()) return nlohmann::json(flag->get());
  if (const auto* array = node.as_array()) {
    nlohmann::json items = nlohmann::json::array();
    for (const toml::node& item : *array) {
      auto value = to_json(item, key);
      if (!value) return value;
      items.push_back(std::move(*value));
    }
    return items;
  }
  if (const auto* table = node.as_table()) {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [member, item] : *table) {
      auto value = to_json(item, key + "." + std::string(member.str()));
      if (!value) return value;
      object[std::string(member.str())] = std::move(*value);
    }
    return object;
  }
  return fail(error_at(node.source(), in_quotes(key) + ": dates and times have no place here"));
}

std::optional<double> number_of(const toml::node& node) {
  if (const auto* integer = node.as_integer()) return static_cast<double>(integer->get());
  if (const auto* number = node.as_floating_point()) return number->get();
  return std::nullopt;
}

std::optional<std::uint64_t> count_of(const toml::node& node) {
  const auto* integer = node.as_integer();
  if (integer == nullptr || integer->get() < 0) return std::nullopt;
  return static_cast<std::uint64_t>(integer->get());
}

std::optional<std::string> text_of(const toml::node& node) {
  if (const auto* text = node.as_string()) return text->get();
  return std::nullopt;
}

/// Sets one member of a case from a value, or says why the value does not fit.
using CaseSetter = std::optional<std::string> (*)(const toml::node&, TestCase&);

struct CaseKey {
  std::string_view name;
  CaseSetter set;
};

// The keys of a [[case]] table other than `expect`, with the kind of value each takes.
constexpr std::array kCaseKeys{
    CaseKey{"name",
            [](const toml::node& node, TestCase& test) -> std::optional<std::string> {
              if (auto text = text_of(node)) test.name = std::move(*text);
              else return "must be a string";
              return std::nullopt;
            }},
    CaseKey{"script",
            [](const toml::node& node, TestCase& test) -> std::optional<std::string> {
              if (auto text = text_of(node)) test.script = std::move(*text);
              else return "must be a string (a path)";
              return std::nullopt;
            }},
    CaseKey{"payload",
            [](const toml::node& node, TestCase& test) -> std::optional<std::string> {
              if (auto number = number_of(node)) test.payload = *number;
              else return "must be a number";
              return std::nullopt;
            }},
    CaseKey{"corrupt_index",
            [](const toml::node& node, TestCase& test) -> std::optional<std::string> {
              if (auto index = count_of(node)) test.corrupt_index = *index;
              else return "must be an integer of 0 or more";
              return std::nullopt;
            }},
    CaseKey{"signs",
            [](const toml::node& node, TestCase& test) -> std::optional<std::string> {
              const auto* array = node.as_array();
              if (array == nullptr) return "must be an array of integers from -128 to 127";
              std::vector<std::int8_t> signs;
              for (const toml::node& item : *array) {
                const auto* sign = item.as_integer();
                if (sign == nullptr || sign->get() < -128 || sign->get() > 127) {
                  return "must be an array of integers from -128 to 127";
                }
                signs.push_back(static_cast<std::int8_t>(sign->get()));
              }
              test.signs = std::move(signs);
              return std::nullopt;
            }},
    CaseKey{"values",
            [](const toml::node& node, TestCase& test) -> std::optional<std::string> {
              const auto* array = node.as_array();
              if (array == nullptr) return "must be an array of numbers";
              std::vector<double> values;
              for (const toml::node& item : *array) {
                const auto value = number_of(item);
                if (!value) return "must be an array of numbers";
                values.push_back(*value);
              }
              test.values = std::move(values);
              return std::nullopt;
            }},
    CaseKey{"context",
            [](const toml::node& node, TestCase& test) -> std::optional<std::string> {
              if (!node.is_table()) return "must be a table (such as { exposure = 130 })";
              auto context = to_json(node, "context");
              if (!context) return context.error().message;
              test.context = std::move(*context);
              return std::nullopt;
            }},
    CaseKey{"context_file",
            [](const toml::node& node, TestCase& test) -> std::optional<std::string> {
              if (auto text = text_of(node)) test.context_file = std::move(*text);
              else return "must be a string (a path)";
              return std::nullopt;
            }},
    CaseKey{"fuel",
            [](const toml::node& node, TestCase& test) -> std::optional<std::string> {
              if (auto fuel = count_of(node)) test.fuel = *fuel;
              else return "must be an integer of 0 or more";
              return std::nullopt;
            }},
};

std::string member_list(const std::set<std::string, std::less<>>& members) {
  std::string list;
  for (const std::string& member : members) list += (list.empty() ? "" : ", ") + member;
  return list;
}

/// expect.verifier: the verdict of `qrv-verifier --script=` on the case's memory.
std::optional<Error> read_verifier(const toml::table& table, TestCase& test) {
  for (const auto& [key, node] : table) {
    std::optional<std::string>* target = key.str() == "status"   ? &test.verifier_status
                                         : key.str() == "reason" ? &test.verifier_reason
                                                                 : nullptr;
    if (target == nullptr) {
      return error_at(key.source(), "unknown key 'expect.verifier." + std::string(key.str()) +
                                        "' (the verifier's expectations are status and reason)");
    }
    *target = text_of(node);
    if (!*target) {
      return error_at(node.source(),
                      "'expect.verifier." + std::string(key.str()) + "' must be a string");
    }
  }
  return std::nullopt;
}

std::optional<Error> read_expect(const toml::table& table, TestCase& test,
                                 const std::set<std::string, std::less<>>& result_members) {
  for (const auto& [key, node] : table) {
    const std::string name(key.str());
    const std::string path = "expect." + name;
    if (name == "error") {
      test.error = text_of(node);
      if (!test.error) return error_at(node.source(), in_quotes(path) + " must be a string");
    } else if (name == "residual_tolerance") {
      test.residual_tolerance = number_of(node);
      if (!test.residual_tolerance || !(*test.residual_tolerance >= 0.0)) {
        return error_at(node.source(), in_quotes(path) + " must be a number of 0 or more");
      }
    } else if (name == "executed_contains") {
      const auto* array = node.as_array();
      if (array == nullptr) return error_at(node.source(), in_quotes(path) + " must be an array of strings");
      for (const toml::node& item : *array) {
        auto text = text_of(item);
        if (!text) return error_at(item.source(), in_quotes(path) + " must be an array of strings");
        test.executed_contains.push_back(std::move(*text));
      }
    } else if (name == "verifier") {
      const auto* verifier = node.as_table();
      if (verifier == nullptr) return error_at(node.source(), in_quotes(path) + " must be a table");
      if (auto error = read_verifier(*verifier, test)) return error;
    } else if (result_members.contains(name)) {
      auto value = to_json(node, path);
      if (!value) return value.error();
      test.expect[name] = std::move(*value);
    } else {
      return error_at(key.source(),
                      "unknown key " + in_quotes(path) + " (expect names a member of the run result: " +
                          member_list(result_members) +
                          "; or error, residual_tolerance, executed_contains, verifier)");
    }
  }
  return std::nullopt;
}

/// The checks that involve several keys of one case.
std::optional<std::string> check_case(const TestCase& test) {
  if (test.name.empty()) return "the case has no name";
  if (test.script.empty()) {
    return "case '" + test.name + "' names no script: give 'script' at the top of the file or in the case";
  }
  if (!test.context.is_null() && test.context_file) {
    return "case '" + test.name + "' gives both 'context' and 'context_file'";
  }
  if (test.checks_verifier() &&
      (test.signs || test.values || !test.context.is_null() || test.context_file ||
       test.fuel != lang::kDefaultFuel)) {
    return "case '" + test.name +
           "': the verifier builds its memory from payload and corrupt_index alone, so "
           "expect.verifier cannot go with signs, values, context, context_file or fuel";
  }
  if (test.error && (!test.expect.empty() || !test.executed_contains.empty())) {
    return "case '" + test.name +
           "': a run that fails has no result, so expect.error cannot go with expectations of "
           "the result";
  }
  if (test.residual_tolerance && !test.expect.contains("residual")) {
    return "case '" + test.name + "': expect.residual_tolerance needs expect.residual";
  }
  return std::nullopt;
}

std::optional<Error> read_case(const toml::table& table, TestCase& test,
                               const std::set<std::string, std::less<>>& result_members) {
  test.line = table.source().begin.line;
  test.column = table.source().begin.column;
  for (const auto& [key, node] : table) {
    if (key.str() == "expect") {
      const auto* expect = node.as_table();
      if (expect == nullptr) return error_at(node.source(), "'expect' must be a table");
      if (auto error = read_expect(*expect, test, result_members)) return error;
      continue;
    }
    const CaseKey* known = nullptr;
    for (const CaseKey& candidate : kCaseKeys) {
      if (candidate.name == key.str()) known = &candidate;
    }
    if (known == nullptr) {
      return error_at(key.source(), "unknown key " + in_quotes(key.str()) + " in a [[case]]");
    }
    if (auto problem = known->set(node, test)) {
      return error_at(node.source(), in_quotes(key.str()) + " " + *problem);
    }
  }
  if (auto problem = check_case(test)) return error_at(table.source(), *problem);
  return std::nullopt;
}

}  // namespace

Result<std::vector<TestCase>, TestFileError> parse_test_file(
    std::string_view text, const std::set<std::string, std::less<>>& result_members) {
  toml::parse_result parsed = toml::parse(text);
  if (!parsed) {
    return fail(error_at(parsed.error().source(), std::string(parsed.error().description())));
  }
  const toml::table& root = parsed.table();
  std::string script;
  const toml::array* cases = nullptr;
  for (const auto& [key, node] : root) {
    if (key.str() == "script") {
      auto text_value = text_of(node);
      if (!text_value) return fail(error_at(node.source(), "'script' must be a string (a path)"));
      script = std::move(*text_value);
    } else if (key.str() == "case") {
      cases = node.as_array();
      if (cases == nullptr || !cases->is_array_of_tables()) {
        return fail(error_at(node.source(), "'case' must be an array of tables ([[case]])"));
      }
    } else {
      return fail(error_at(key.source(), "unknown key " + in_quotes(key.str()) +
                                             " (a test file holds script and [[case]] tables)"));
    }
  }
  if (cases == nullptr || cases->empty()) return fail(Error{1, 1, "the file holds no [[case]]"});

  std::vector<TestCase> tests;
  for (const toml::node& node : *cases) {
    TestCase test;
    test.script = script;
    if (auto error = read_case(*node.as_table(), test, result_members)) return fail(*error);
    tests.push_back(std::move(test));
  }
  return tests;
}

}  // namespace tarn::tool
