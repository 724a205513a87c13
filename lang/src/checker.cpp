// The checker: see checker.hpp.
//
// Each file is parsed once and walked once (with an explicit stack: blocks nest a million deep),
// collecting what the warnings need: the aliases it makes and uses, its positions, its imports.
// The imports of a policy are then followed depth first, again on an explicit stack, which both
// finds every file a run could reach and tells an import cycle (a file still open on the stack)
// from a file reached twice. Only when the whole reach of a policy is known are its warnings
// made: whether an alias exists depends on every file the policy imports.
#include "tarn/lang/checker.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "diagnostic_places.hpp"
#include "tarn/lang/number_syntax.hpp"
#include "tarn/lang/parser.hpp"

namespace tarn::lang {
namespace {

constexpr std::string_view kCorrupt = "corrupt";

// --- What a file says -------------------------------------------------------------------------

struct AliasUse {
  std::string name;
  std::size_t offset;  // of the name's operand
};

struct PositionOperand {
  std::size_t offset;         // of the operand
  std::string_view literal;   // as written
  std::string instruction;    // canonical text: what the statement runs as
  bool alias = false;         // the position an alias names
  std::string alias_name;
};

struct ImportStatement {
  std::string path;
  std::size_t offset;
};

struct FileFacts {
  std::vector<std::string> aliases;
  std::vector<AliasUse> alias_uses;
  std::vector<std::size_t> bind_alls;
  std::vector<PositionOperand> positions;
  std::vector<ImportStatement> imports;
};

// The arguments of a statement that parsed, each with its offset in the statement: the text
// between its parentheses split at commas outside strings, white space before each dropped.
// **Example**: `bind("a,b", 3)` -> {5, "\"a,b\""}, {12, "3"}.
struct Argument {
  std::size_t offset;
  std::string_view text;
};

std::vector<Argument> arguments(std::string_view statement) {
  std::vector<Argument> out;
  std::size_t i = statement.find('(');
  if (i == std::string_view::npos) return out;
  ++i;
  while (i < statement.size()) {
    while (i < statement.size() && (statement[i] == ' ' || statement[i] == '\t' ||
                                    statement[i] == '\n' || statement[i] == '\r')) {
      ++i;
    }
    const std::size_t start = i;
    while (i < statement.size() && statement[i] != ',' && statement[i] != ')') {
      if (statement[i] == '"') i = std::min(statement.find('"', i + 1), statement.size() - 1);
      ++i;
    }
    out.push_back(Argument{start, statement.substr(start, i - start)});
    if (i >= statement.size() || statement[i] == ')') break;
    ++i;  // the comma
  }
  return out;
}

class FactCollector {
 public:
  FactCollector(std::string_view text, FileFacts& facts) : text_(text), facts_(facts) {}

  void collect(const Instruction& instruction, SourceSpan span) {
    span_ = span;
    std::visit([&](const auto& kind) { (*this)(kind, instruction); },
               static_cast<const InstructionKind&>(instruction));
  }

 private:
  template <class T>
  void operator()(const T&, const Instruction&) {}
  void operator()(const Alias& alias, const Instruction& instruction) {
    facts_.aliases.emplace_back(alias.name());
    const std::string name(alias.name());
    position(0, instruction, &name);
  }
  void operator()(const AssertBoundsNamed& assert_bounds, const Instruction&) {
    alias_use(assert_bounds.name(), 2);
  }
  void operator()(const IfGreaterThan& test, const Instruction&) { alias_use(test.name(), 0); }
  void operator()(const BindAll&, const Instruction&) { facts_.bind_alls.push_back(span_.offset); }
  void operator()(const Evolve&, const Instruction& instruction) { position(0, instruction); }
  void operator()(const Corrupt&, const Instruction& instruction) { position(0, instruction); }
  void operator()(const AssertBounds&, const Instruction& instruction) {
    position(2, instruction);
  }
  void operator()(const Bind&, const Instruction& instruction) { position(1, instruction); }
  void operator()(const Import& import, const Instruction&) {
    facts_.imports.push_back(ImportStatement{std::string(import.path.view()), span_.offset});
  }

  std::optional<Argument> argument(std::size_t index) const {
    const std::vector<Argument> all = arguments(text_.substr(span_.offset, span_.length));
    if (index >= all.size()) return std::nullopt;
    return Argument{span_.offset + all[index].offset, all[index].text};
  }

  void alias_use(std::string_view name, std::size_t index) {
    const auto operand = argument(index);
    facts_.alias_uses.push_back(
        AliasUse{std::string(name), operand ? operand->offset : span_.offset});
  }

  void position(std::size_t index, const Instruction& instruction,
                const std::string* alias_name = nullptr) {
    const auto operand = argument(index);
    if (!operand) return;
    PositionOperand position{operand->offset, operand->text, canonical_text(instruction),
                             alias_name != nullptr, alias_name != nullptr ? *alias_name : ""};
    facts_.positions.push_back(std::move(position));
  }

  std::string_view text_;
  FileFacts& facts_;
  SourceSpan span_;
};

// Walks the whole tree: blocks are entered on an explicit stack, never by recursion.
FileFacts gather_facts(const Program& program, std::string_view text) {
  FileFacts facts;
  FactCollector collector(text, facts);
  struct Level {
    const Program* program;  // the top level, or
    const Body* body;        // a block's body
    std::size_t next;
  };
  std::vector<Level> levels{Level{&program, nullptr, 0}};
  while (!levels.empty()) {
    Level& level = levels.back();
    const std::size_t size = level.program != nullptr ? level.program->size() : level.body->size();
    if (level.next == size) {
      levels.pop_back();
      continue;
    }
    const std::size_t i = level.next++;
    const Instruction& instruction =
        level.program != nullptr ? (*level.program)[i] : (*level.body)[i];
    collector.collect(instruction,
                      level.program != nullptr ? level.program->span(i) : level.body->span(i));
    if (const Body* body = body_of(instruction)) levels.push_back(Level{nullptr, body, 0});
  }
  return facts;
}

std::string quoted_text(std::string_view text) {
  std::string out;
  append_quoted_text(out, text);
  return out;
}

// --- The files reached --------------------------------------------------------------------------

struct CheckedFile {
  std::string name;
  std::string owned_text;  // an imported file's text; a policy's own is the caller's
  std::string_view text;
  std::optional<Program> program;
  FileFacts facts;
  bool root = false;
  bool readable = true;
  // The import that first reached it: the importing file and the import's offset there.
  std::optional<std::pair<std::size_t, std::size_t>> imported_at;
  std::vector<Diagnostic> diagnostics;
  std::optional<detail::LineIndex> lines;  // made for the first warning
  bool warned = false;   // its warnings are made
  bool reported = false; // its diagnostics are in the report
};

class Checker {
 public:
  explicit Checker(const CheckOptions& options) : options_(options) {}

  void check(const PolicyFile& policy, CheckReport& report) {
    CheckedPolicy checked{policy.name, std::nullopt};
    const auto known = by_key_.find(key_of(policy.name));
    std::size_t root;
    if (known != by_key_.end() && files_[known->second].text == policy.text) {
      root = known->second;  // already checked as an import of an earlier policy
    } else {
      root = add_file(policy.name, std::string(), policy.text);
      files_[root].root = true;
      if (known == by_key_.end()) by_key_.emplace(key_of(policy.name), root);
    }
    CheckedFile& file = files_[root];
    if (!file.program) {
      auto parsed = parse_program(file.text);
      if (parsed) {
        file.program = std::move(*parsed);
        file.facts = gather_facts(*file.program, file.text);
      } else if (!file.reported) {
        file.diagnostics.push_back(parse_error_diagnostic(parsed.error(), file.text, file.name));
      }
    }
    const std::vector<std::size_t> reach = follow_imports(root);
    make_warnings(reach);
    for (const std::size_t index : reach) report_file(index, report);
    // The policy's program goes to the report: the checker keeps only what it gathered from it.
    if (files_[root].program) {
      checked.program = std::move(files_[root].program);
      files_[root].program.reset();
    }
    report.policies.push_back(std::move(checked));
  }

 private:
  static std::string key_of(const std::string& path) {
    return std::filesystem::path(path).lexically_normal().string();
  }

  std::size_t add_file(std::string name, std::string owned_text, std::string_view text) {
    CheckedFile file;
    file.name = std::move(name);
    file.owned_text = std::move(owned_text);
    files_.push_back(std::move(file));
    CheckedFile& added = files_.back();
    added.text = added.owned_text.empty() ? text : std::string_view(added.owned_text);
    return files_.size() - 1;
  }

  // A file may hold many warnings (a generated policy of thousands of statements): its lines are
  // indexed once, rather than counted from its start for each warning.
  Diagnostic warning(CheckedFile& file, std::size_t offset, std::size_t end,
                     std::string_view code, std::string message) {
    Diagnostic diagnostic;
    diagnostic.file = file.name;
    diagnostic.severity = DiagnosticSeverity::Warning;
    diagnostic.code = std::string(code);
    diagnostic.message = std::move(message);
    if (!file.lines) file.lines.emplace(file.text);
    detail::place(diagnostic, file.text, offset, end, &*file.lines);
    if (file.imported_at) {
      CheckedFile& importer = files_[file.imported_at->first];
      if (!importer.lines) importer.lines.emplace(importer.text);
      diagnostic.related.push_back(detail::related_at(importer.text, importer.name,
                                                      file.imported_at->second,
                                                      "imported from here", &*importer.lines));
    }
    return diagnostic;
  }

  // Reads and parses the file an import names; the warnings for one that cannot be read or does
  // not parse go to the importing file and to the imported one.
  std::size_t load(std::size_t importer, const ImportStatement& import) {
    std::string path = import.path;
    auto text = options_.read ? options_.read(path) : read_imported_file(path);
    const std::size_t index = add_file(path, text ? std::move(*text).release() : std::string(), "");
    by_key_.emplace(key_of(path), index);
    CheckedFile& file = files_[index];
    file.imported_at = std::make_pair(importer, import.offset);
    CheckedFile& from = files_[importer];
    if (!text) {
      file.readable = false;
      from.diagnostics.push_back(warning(
          from, import.offset, import.offset + 6, "import-failed",
          "cannot read the imported file " + quoted_text(path) + ": " + text.error().reason +
              "; a run that reaches it fails"));
      return index;
    }
    auto parsed = parse_program(file.text);
    if (!parsed) {
      file.readable = false;
      Diagnostic diagnostic = parse_error_diagnostic(parsed.error(), file.text, file.name);
      diagnostic.severity = DiagnosticSeverity::Warning;
      diagnostic.code = "import-parse-error";
      diagnostic.message =
          "the imported file does not parse (a run that reaches its import fails): " +
          diagnostic.message;
      diagnostic.engine_text.reset();
      diagnostic.related.push_back(
          detail::related_at(from.text, from.name, import.offset, "imported from here"));
      file.diagnostics.push_back(std::move(diagnostic));
      return index;
    }
    file.program = std::move(*parsed);
    file.facts = gather_facts(*file.program, file.text);
    return index;
  }

  // Every file the policy at `root` reaches, in the order first reached; cycles are warned of at
  // the import that closes them.
  std::vector<std::size_t> follow_imports(std::size_t root) {
    std::vector<std::size_t> reach{root};
    std::vector<bool> reached(files_.size(), false);
    std::vector<bool> open(files_.size(), false);
    reached[root] = true;
    open[root] = true;
    struct Visit {
      std::size_t file;
      std::size_t next_import;
    };
    std::vector<Visit> stack{Visit{root, 0}};
    while (!stack.empty()) {
      Visit& visit = stack.back();
      if (visit.next_import == files_[visit.file].facts.imports.size()) {
        open[visit.file] = false;
        stack.pop_back();
        continue;
      }
      const std::size_t importer = visit.file;
      const ImportStatement import = files_[importer].facts.imports[visit.next_import++];
      const auto known = by_key_.find(key_of(import.path));
      std::size_t target;
      if (known == by_key_.end()) {
        target = load(importer, import);
      } else {
        target = known->second;
      }
      reached.resize(files_.size(), false);
      open.resize(files_.size(), false);
      if (open[target]) {
        if (!files_[importer].reported) warn_cycle(stack, importer, target, import);
        continue;
      }
      if (reached[target]) continue;
      reached[target] = true;
      reach.push_back(target);
      if (!files_[target].readable) continue;
      open[target] = true;
      stack.push_back(Visit{target, 0});
    }
    return reach;
  }

  template <class Stack>
  void warn_cycle(const Stack& stack, std::size_t importer, std::size_t target,
                  const ImportStatement& import) {
    std::string path;
    bool on_cycle = false;
    for (const auto& visit : stack) {
      on_cycle = on_cycle || visit.file == target;
      if (on_cycle) path += files_[visit.file].name + " -> ";
    }
    path += files_[target].name;
    CheckedFile& from = files_[importer];
    from.diagnostics.push_back(warning(
        from, import.offset, import.offset + 6, "import-cycle",
        "import cycle: " + path + "; a run of it ends out of fuel"));
  }

  void make_warnings(const std::vector<std::size_t>& reach) {
    std::vector<std::string_view> aliases;
    for (const std::size_t index : reach) {
      for (const std::string& name : files_[index].facts.aliases) aliases.push_back(name);
    }
    std::sort(aliases.begin(), aliases.end());
    aliases.erase(std::unique(aliases.begin(), aliases.end()), aliases.end());
    for (const std::size_t index : reach) {
      CheckedFile& file = files_[index];
      if (file.warned) continue;
      file.warned = true;
      corrupt_warning(file);
      if (!file.program) continue;
      for (const AliasUse& use : file.facts.alias_uses) {
        if (std::binary_search(aliases.begin(), aliases.end(), use.name)) continue;
        std::string message = "no alias statement in this policy or its imports makes the alias " +
                              quoted_text(use.name) + ": a run that reaches it fails";
        if (const auto near = nearest_word(use.name, aliases)) {
          message += "; did you mean " + quoted_text(*near) + "?";
        }
        const std::size_t end = use.offset + use.name.size() + 2;  // with its quotes
        file.diagnostics.push_back(
            warning(file, use.offset, end, "unknown-alias", std::move(message)));
      }
      if (aliases.empty()) {
        for (const std::size_t offset : file.facts.bind_alls) {
          file.diagnostics.push_back(warning(
              file, offset, offset + 8, "bind-all-without-alias",
              "bind_all() binds nothing: no alias statement in this policy or its imports makes "
              "an alias"));
        }
      }
      for (const PositionOperand& position : file.facts.positions) position_warnings(file, position);
      // Every diagnostic of a file stands in it: in the order of the text.
      std::stable_sort(file.diagnostics.begin(), file.diagnostics.end(),
                       [](const Diagnostic& a, const Diagnostic& b) { return a.offset < b.offset; });
    }
  }

  void corrupt_warning(CheckedFile& file) {
    const std::size_t at = file.text.find(kCorrupt);
    if (at == std::string_view::npos) return;
    if (file.root) {
      file.diagnostics.push_back(warning(
          file, at, at + kCorrupt.size(), "corrupt-text",
          "the verifier refuses this script unrun: its text contains `corrupt` (a comment or a "
          "string counts too)"));
    } else {
      file.diagnostics.push_back(warning(
          file, at, at + kCorrupt.size(), "corrupt-in-import",
          "this imported file contains `corrupt`: the verifier looks only at the script it is "
          "given, so it runs this file anyway"));
    }
  }

  void position_warnings(CheckedFile& file, const PositionOperand& position) {
    const auto scanned = scan_number(position.literal);
    if (!scanned) return;
    const double value = scanned->value;
    const std::uint64_t runs_as = saturate_u64(value);
    const std::size_t end = position.offset + position.literal.size();
    const bool whole = std::isfinite(value) && value >= 0 && std::trunc(value) == value;
    if (!whole && !(std::isinf(value) && value > 0)) {
      file.diagnostics.push_back(warning(
          file, position.offset, end, "saturated-position",
          "position `" + std::string(position.literal) +
              "` is not a whole number of 0 or more: the statement runs as `" +
              position.instruction + "`"));
    }
    if (runs_as < options_.value_count) return;
    const std::size_t count = options_.value_count;
    const std::string memory =
        options_.values_given
            ? (count == 0 ? "the memory given has no values"
                          : "the memory given has " + std::to_string(count) + " values, positions 0 to " +
                                std::to_string(count - 1))
            : "the verifier's memory has four values, positions 0 to 3";
    const std::string what = "position " + std::to_string(runs_as) + " does not exist (" + memory + ")";
    file.diagnostics.push_back(warning(
        file, position.offset, end, "position-out-of-range",
        position.alias ? "the alias " + quoted_text(position.alias_name) + " names " + what +
                             ": a statement that uses it fails"
                       : what + ": a run that reaches it fails"));
  }

  void report_file(std::size_t index, CheckReport& report) {
    CheckedFile& file = files_[index];
    if (file.reported) return;
    file.reported = true;
    for (Diagnostic& diagnostic : file.diagnostics) report.diagnostics.push_back(std::move(diagnostic));
    file.diagnostics.clear();
  }

  const CheckOptions& options_;
  std::deque<CheckedFile> files_;  // a deque: files refer to their own texts, and never move
  std::unordered_map<std::string, std::size_t> by_key_;
};

}  // namespace

bool CheckReport::has_errors() const {
  return std::any_of(diagnostics.begin(), diagnostics.end(), [](const Diagnostic& diagnostic) {
    return diagnostic.severity == DiagnosticSeverity::Error;
  });
}

CheckReport check_policies(std::span<const PolicyFile> files, const CheckOptions& options) {
  CheckReport report;
  Checker checker(options);
  for (const PolicyFile& file : files) checker.check(file, report);
  return report;
}

}  // namespace tarn::lang
