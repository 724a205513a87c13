// The three forms of diagnostics: the compilers' text form, a JSON document, SARIF 2.1.0.
//
// The JSON objects are written member by member in the order the documentation lists them
// (json::CompactObject), so their bytes are fixed by this file alone.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tarn/json/object_writer.hpp"
#include "tarn/json/writer.hpp"
#include "tarn/lang/diagnostics.hpp"
#include "unicode.hpp"

namespace tarn::lang {
namespace {

std::string_view severity_name(DiagnosticSeverity severity) {
  switch (severity) {
    case DiagnosticSeverity::Error: return "error";
    case DiagnosticSeverity::Warning: return "warning";
    case DiagnosticSeverity::Note: return "note";
  }
  return "error";
}

// --- Text -------------------------------------------------------------------------------------

class TextWriter {
 public:
  TextWriter(std::string& out, const DiagnosticTextOptions& options)
      : out_(out), options_(options) {}

  void text(std::string_view text) {
    out_ += options_.escape_controls ? escape_control_characters(text) : std::string(text);
  }

  // "FILE:LINE:COLUMN: SEVERITY: MESSAGE", without line and column when there are none.
  void heading(std::string_view file, std::uint32_t line, std::uint32_t column,
               std::string_view severity, std::string_view message) {
    text(file);
    if (line != 0) {
      out_ += ':' + std::to_string(line) + ':' + std::to_string(column);
    }
    out_ += ": ";
    out_ += severity;
    out_ += ": ";
    text(message);
    out_ += '\n';
  }

  //    8 | asert_bounds(50, 150, "reserve")
  //      |             ^~~
  void excerpt(std::uint32_t line, const SourceExcerpt& excerpt) {
    if (excerpt.caret == 0) return;
    const std::string number = std::to_string(line);
    out_ += ' ' + number + " | ";
    text(excerpt.text);
    out_ += '\n';
    out_ += ' ' + std::string(number.size(), ' ') + " | ";
    // Up to the caret every character becomes a space, as wide as it is shown; a tab stays a tab
    // so that the caret lands under its place whatever the tab stops.
    std::string_view rest = excerpt.text;
    for (std::uint32_t column = 1; column < excerpt.caret && !rest.empty(); ++column) {
      const unicode::Decoded decoded = unicode::decode_utf8(rest);
      const std::string_view character = rest.substr(0, decoded.length);
      if (character == "\t") {
        out_ += '\t';
      } else {
        const std::size_t width =
            options_.escape_controls ? escape_control_characters(character).size() : 1;
        out_.append(width, ' ');
      }
      rest.remove_prefix(decoded.length);
    }
    out_ += '^';
    out_.append(excerpt.width - 1, '~');
    out_ += '\n';
  }

 private:
  std::string& out_;
  const DiagnosticTextOptions& options_;
};

// --- JSON -------------------------------------------------------------------------------------

void append_related_json(std::string& out, const RelatedLocation& related) {
  json::CompactObject object(out);
  object.string("file", related.file);
  object.integer("line", related.line);
  object.integer("column", related.column);
  object.string("message", related.message);
  object.close();
}

void append_diagnostic_json(std::string& out, const Diagnostic& diagnostic) {
  json::CompactObject object(out);
  object.string("file", diagnostic.file);
  object.integer("line", diagnostic.line);
  object.integer("column", diagnostic.column);
  object.integer("end_line", diagnostic.end_line);
  object.integer("end_column", diagnostic.end_column);
  object.integer("offset", diagnostic.offset);
  object.string("severity", severity_name(diagnostic.severity));
  object.string("code", diagnostic.code);
  object.string("message", diagnostic.message);
  object.or_null("engine_text", diagnostic.engine_text);
  object.array("related", diagnostic.related.size(), [&](std::string& text, std::size_t i) {
    append_related_json(text, diagnostic.related[i]);
  });
  object.close();
}

// --- SARIF ------------------------------------------------------------------------------------

// A file path as a URI reference: unreserved characters and "/" stay, every other byte is
// percent-encoded ("my policy.tarn" -> "my%20policy.tarn").
std::string uri_of(std::string_view path) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string uri;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                       c == '~' || c == '/';
    if (plain) {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    }
  }
  return uri;
}

void append_message(std::string& out, std::string_view text) {
  json::CompactObject message(out);
  message.string("text", text);
  message.close();
}

// A physicalLocation: the file and, when the place is known, its region.
void append_physical_location(std::string& out, std::string_view file, std::uint32_t line,
                              std::uint32_t column, std::uint32_t end_line,
                              std::uint32_t end_column) {
  json::CompactObject location(out);
  {
    std::string& artifact = location.member("artifactLocation");
    json::CompactObject uri(artifact);
    uri.string("uri", uri_of(file));
    uri.close();
  }
  if (line != 0) {
    json::CompactObject region(location.member("region"));
    region.integer("startLine", line);
    region.integer("startColumn", column);
    if (end_line != 0) {
      region.integer("endLine", end_line);
      region.integer("endColumn", end_column);
    }
    region.close();
  }
  location.close();
}

}  // namespace

void append_diagnostic_text(std::string& out, const Diagnostic& diagnostic,
                            const DiagnosticTextOptions& options) {
  TextWriter writer(out, options);
  writer.heading(diagnostic.file, diagnostic.line, diagnostic.column,
                 severity_name(diagnostic.severity), diagnostic.message);
  writer.excerpt(diagnostic.line, diagnostic.excerpt);
  for (const RelatedLocation& related : diagnostic.related) {
    writer.heading(related.file, related.line, related.column, "note", related.message);
    writer.excerpt(related.line, related.excerpt);
  }
  if (diagnostic.engine_text) {
    writer.text(*diagnostic.engine_text);
    out += '\n';
  }
}

void append_diagnostics_json(std::string& out, std::span<const Diagnostic> diagnostics) {
  json::CompactObject document(out);
  document.array("diagnostics", diagnostics.size(), [&](std::string& text, std::size_t i) {
    append_diagnostic_json(text, diagnostics[i]);
  });
  document.close();
  out += '\n';
}

void append_diagnostics_sarif(std::string& out, std::span<const Diagnostic> diagnostics,
                              std::string_view tool_name, std::string_view tool_version) {
  // The rules are the codes the diagnostics use, in the order of the table of codes.
  std::vector<DiagnosticCode> rules;
  for (const DiagnosticCode& code : diagnostic_codes()) {
    for (const Diagnostic& diagnostic : diagnostics) {
      if (diagnostic.code == code.code) {
        rules.push_back(code);
        break;
      }
    }
  }
  const auto rule_index = [&](std::string_view code) {
    for (std::size_t i = 0; i < rules.size(); ++i) {
      if (rules[i].code == code) return i;
    }
    return rules.size();
  };

  json::CompactObject log(out);
  log.string("$schema", "https://json.schemastore.org/sarif-2.1.0.json");
  log.string("version", "2.1.0");
  log.array("runs", 1, [&](std::string& text, std::size_t) {
    json::CompactObject run(text);
    {
      json::CompactObject tool(run.member("tool"));
      json::CompactObject driver(tool.member("driver"));
      driver.string("name", tool_name);
      driver.string("version", tool_version);
      driver.array("rules", rules.size(), [&](std::string& rule_text, std::size_t i) {
        json::CompactObject rule(rule_text);
        rule.string("id", rules[i].code);
        append_message(rule.member("shortDescription"), rules[i].summary);
        rule.close();
      });
      driver.close();
      tool.close();
    }
    run.string("columnKind", "unicodeCodePoints");
    run.array("results", diagnostics.size(), [&](std::string& result_text, std::size_t i) {
      const Diagnostic& diagnostic = diagnostics[i];
      json::CompactObject result(result_text);
      result.string("ruleId", diagnostic.code);
      const std::size_t index = rule_index(diagnostic.code);
      if (index < rules.size()) result.integer("ruleIndex", index);
      result.string("level", severity_name(diagnostic.severity));
      append_message(result.member("message"), diagnostic.message);
      result.array("locations", 1, [&](std::string& location_text, std::size_t) {
        json::CompactObject location(location_text);
        append_physical_location(location.member("physicalLocation"), diagnostic.file,
                                 diagnostic.line, diagnostic.column, diagnostic.end_line,
                                 diagnostic.end_column);
        location.close();
      });
      result.array("relatedLocations", diagnostic.related.size(),
                   [&](std::string& related_text, std::size_t r) {
                     const RelatedLocation& related = diagnostic.related[r];
                     json::CompactObject location(related_text);
                     location.integer("id", r);
                     append_physical_location(location.member("physicalLocation"), related.file,
                                              related.line, related.column, 0, 0);
                     append_message(location.member("message"), related.message);
                     location.close();
                   });
      if (diagnostic.engine_text) {
        json::CompactObject properties(result.member("properties"));
        properties.string("engine_text", *diagnostic.engine_text);
        properties.close();
      }
      result.close();
    });
    run.close();
  });
  log.close();
  out += '\n';
}

}  // namespace tarn::lang
