#pragma once

// Texts of the catalogue in plain C++ (the search runs without Qt): times, sizes and the escapes of
// its outputs.

#include "format/NamePattern.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace treelan::catalog {

// The name patterns and case folding live below the listing, which filters with them too.
using treelan::FoldText;
using treelan::GlobMatch;
using treelan::NamePattern;

// "2024-05-01T10:20:30.5Z": nanoseconds since 1970 in UTC, cut to `resolutionNs` (which must
// divide a second or be whole seconds), fraction digits as many as needed and no more.
std::string IsoTime(std::int64_t ns, std::int64_t resolutionNs = 1);

// A time given as ISO 8601 ("2024-05-01", "2024-05-01T10:20", "2024-05-01 10:20:30.25+02:00"),
// UTC when it names no zone, as nanoseconds since 1970. False when it is none.
bool ParseIsoTime(std::string_view text, std::int64_t& ns);

// Appends a JSON string of UTF-8 text, quotes included.
void AppendJson(std::string& out, std::string_view utf8);
// Appends the percent-encoding of any bytes (the exports' "rawPath" form).
void AppendPercent(std::string& out, std::string_view bytes);
// True when the bytes are well-formed UTF-8.
bool IsUtf8(std::string_view bytes);
// Decodes a raw name as the program shows names: valid UTF-8 as it is, each other byte as its
// Latin-1 character. Gives UTF-8.
std::string DisplayText(std::string_view raw);

// Lower-case hex of bytes.
std::string Hex(std::string_view bytes);

} // namespace treelan::catalog
