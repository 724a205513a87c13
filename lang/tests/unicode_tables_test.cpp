// The checked-in Unicode tables against the ICU installed here, for every code point. A failure
// means the tables are stale or were edited by hand: regenerate them with
// scripts/unicode-tables.sh and review what changes.
#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <cstdio>
#include <string>

#include "icu_classes.hpp"
#include "unicode.hpp"
#include "unicode_tables.hpp"

namespace tarn::lang::unicode {
namespace {

std::string icu_unicode_version() {
  UVersionInfo version;
  u_getUnicodeVersion(version);
  char text[U_MAX_VERSION_STRING_LENGTH];
  u_versionToString(version, text);
  return text;
}

TEST(UnicodeTables, FollowTheInstalledUnicodeVersion) {
  EXPECT_EQ(tables::kUnicodeVersion, icu_unicode_version())
      << "the tables follow another Unicode version than this ICU; regenerate them with "
         "scripts/unicode-tables.sh";
}

TEST(UnicodeTables, AgreeWithIcuOnEveryCodePoint) {
  struct Class {
    const char* name;
    bool (*tables)(char32_t) noexcept;
    bool (*icu)(char32_t);
  };
  const Class classes[] = {
      {"needs_escape", needs_escape, icu::needs_escape},
      {"is_identifier_char", is_identifier_char, icu::is_identifier_char},
  };
  for (const Class& c : classes) {
    SCOPED_TRACE(c.name);
    // One failure per class, naming the first few code points that differ.
    std::size_t differences = 0;
    std::string first;
    for (char32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
      if (c.tables(code_point) == c.icu(code_point)) continue;
      if (++differences <= 8) {
        char text[16];
        std::snprintf(text, sizeof text, " U+%04X", static_cast<unsigned>(code_point));
        first += text;
      }
    }
    EXPECT_EQ(differences, 0u) << "differs from ICU at" << first;
  }
}

}  // namespace
}  // namespace tarn::lang::unicode
