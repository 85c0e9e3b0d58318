#pragma once

// Texts of the catalogue in plain C++ (the search runs without Qt): case folding, the search's
// name patterns, times, sizes and the escapes of its outputs.

#include <cstdint>
#include <string>
#include <string_view>

namespace treelan::catalog {

// The UTF-8 text with each code point replaced by its simple case folding. Bytes that are not
// UTF-8 stay as they are.
std::string FoldText(std::string_view utf8);

// Whether the whole of `text` matches `pattern`: "*" any run of code points, "?" one code point,
// every other character itself ("[" too). Both are compared as they are: fold them first.
bool GlobMatch(std::string_view pattern, std::string_view text);

// The search's pattern, as the web page and the window's filter read it: surrounding blanks
// dropped, an opening "f:" (files) or "d:" (folders) in any case, then a part of a name, or a
// whole name when it holds "*" or "?"; case folded.
struct NamePattern {
    bool files = true;
    bool folders = true;
    bool glob = false;
    std::string folded; // the pattern, folded
    // The longest run of the folded pattern without "*" or "?": what an index can look up.
    std::string longestPiece;

    static NamePattern parse(std::string_view text);
    // Whether a name (folded with FoldText) matches.
    bool matches(std::string_view foldedName) const;
};

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
