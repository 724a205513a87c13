// The forty-one-case catalogue: fixed lines and built documents, one line per case id.
#pragma once

#include <string>
#include <string_view>

namespace qrv {

/// Appends the case's line and "\n" to `out`; any id not in the catalogue (the empty id too)
/// gives the unknown-case line.
/// **Example**: "tc-043-01" appends {"verdict": "allow"} and "\n"; "TC-NEG-064-01" appends
/// {"auth_age_ms":7200000,"gate_status":"CLOSED",...} and "\n".
void append_case_line(std::string& out, std::string_view id);

}  // namespace qrv
