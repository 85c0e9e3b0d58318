#pragma once

// The one syntax of name patterns that the catalogue's search, the window's filter box and the web
// page read, in plain C++ (the catalogue's search runs without Qt).

#include <string>
#include <string_view>

namespace treelan {

// The length of the well-formed UTF-8 sequence at p (as the name decoder reads them), or 0.
int Utf8SequenceLength(const unsigned char* p, std::size_t left);
// Appends code point `c` as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// The UTF-8 text with each code point replaced by its simple case folding. Bytes that are not
// UTF-8 stay as they are.
std::string FoldText(std::string_view utf8);
// The same of UTF-16 text (a listing's cell), written into `out` as folded UTF-8; a lone
// surrogate stands for U+FFFD. `out` is reused: a filter folds a million names with one buffer.
void FoldText(std::u16string_view utf16, std::string& out);

// Whether the whole of `text` matches `pattern`: "*" any run of code points, "?" one code point,
// every other character itself ("[" too). Both are compared as they are: fold them first.
bool GlobMatch(std::string_view pattern, std::string_view text);

// A name pattern: surrounding blanks dropped, an opening "f:" (files) or "d:" (folders) in any
// case, then a part of a name, or a whole name when it holds "*" or "?"; case folded.
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
    // Whether an entry of this kind with this name matches: the kind first, then the name.
    bool matches(std::string_view foldedName, bool folder) const {
        return (folder ? folders : files) && matches(foldedName);
    }
    // Matches everything: no name part and no kind.
    bool matchesAll() const { return files && folders && folded.empty(); }
};

} // namespace treelan
