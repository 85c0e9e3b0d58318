#include "format/NamePattern.h"

#include <algorithm>
#include <iterator>

namespace treelan {

namespace {

struct FoldPair {
    char32_t from;
    char32_t to;
};

constexpr FoldPair kFold[] = {
#include "format/FoldTable.inc"
};

bool continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

char32_t decode(const unsigned char* p, int n) {
    if (n == 1) return p[0];
    char32_t c = p[0] & (0x7F >> n);
    for (int k = 1; k < n; ++k)
        c = (c << 6) | (p[k] & 0x3F);
    return c;
}

char32_t foldCodePoint(char32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
    const auto* end = std::end(kFold);
    const auto* it = std::lower_bound(std::begin(kFold), end, c,
                                      [](const FoldPair& p, char32_t v) { return p.from < v; });
    return it != end && it->from == c ? it->to : c;
}

// One code point (or one stray byte) of UTF-8 text from `at`; its length.
std::size_t step(std::string_view s, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + at;
    const int n = Utf8SequenceLength(p, s.size() - at);
    return n == 0 ? 1 : std::size_t(n);
}

} // namespace

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

int Utf8SequenceLength(const unsigned char* p, std::size_t left) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF) return left >= 2 && continuation(p[1]) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (left < 3 || !continuation(p[1]) || !continuation(p[2])) return 0;
        if (b0 == 0xE0 && p[1] < 0xA0) return 0;
        if (b0 == 0xED && p[1] > 0x9F) return 0;
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (left < 4 || !continuation(p[1]) || !continuation(p[2]) || !continuation(p[3])) return 0;
        if (b0 == 0xF0 && p[1] < 0x90) return 0;
        if (b0 == 0xF4 && p[1] > 0x8F) return 0;
        return 4;
    }
    return 0;
}

std::string FoldText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    for (std::size_t i = 0; i < utf8.size();) {
        if (p[i] < 0x80) {
            out += char(p[i] >= 'A' && p[i] <= 'Z' ? p[i] + 0x20 : p[i]);
            ++i;
            continue;
        }
        const int n = Utf8SequenceLength(p + i, utf8.size() - i);
        if (n == 0) {
            out += char(p[i++]);
            continue;
        }
        AppendUtf8(out, foldCodePoint(decode(p + i, n)));
        i += std::size_t(n);
    }
    return out;
}

bool GlobMatch(std::string_view pattern, std::string_view text) {
    // The classic backtracking to the last star: linear in practice, never exponential.
    std::size_t p = 0, t = 0, starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starT = t;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            t += step(text, t);
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (starP != std::string_view::npos) {
            p = starP;
            starT += step(text, starT);
            t = starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

NamePattern NamePattern::parse(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    const auto trim = [&](std::string_view s) {
        while (!s.empty() && blank(s.front()))
            s.remove_prefix(1);
        while (!s.empty() && blank(s.back()))
            s.remove_suffix(1);
        return s;
    };
    NamePattern p;
    text = trim(text);
    if (text.size() >= 2 && text[1] == ':' &&
        (text[0] == 'f' || text[0] == 'F' || text[0] == 'd' || text[0] == 'D')) {
        p.files = text[0] == 'f' || text[0] == 'F';
        p.folders = !p.files;
        text = trim(text.substr(2));
    }
    p.folded = FoldText(text);
    p.glob = p.folded.find_first_of("*?") != std::string::npos;
    std::size_t at = 0;
    while (at <= p.folded.size()) {
        std::size_t end = p.folded.find_first_of("*?", at);
        if (end == std::string::npos) end = p.folded.size();
        if (end - at > p.longestPiece.size()) p.longestPiece = p.folded.substr(at, end - at);
        at = end + 1;
    }
    return p;
}

bool NamePattern::matches(std::string_view foldedName) const {
    if (glob) return GlobMatch(folded, foldedName);
    return foldedName.find(folded) != std::string_view::npos;
}

void FoldText(std::u16string_view utf16, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t u = utf16[i];
        if (u < 0x80) {
            out += char(u >= u'A' && u <= u'Z' ? u + 0x20 : u);
            continue;
        }
        char32_t c = u;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(utf16[++i]) - 0xDC00);
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, foldCodePoint(c));
    }
}

} // namespace treelan
