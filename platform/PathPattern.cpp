#include "platform/PathPattern.h"

#include <vector>

namespace treelan {

namespace {

enum class TokenKind : unsigned char { Byte, AnyByte, Set, Star, DoubleStar, DoubleStarSlash };

struct Token {
    Token(TokenKind k, unsigned char b = 0) : kind(k), byte(b) {}
    TokenKind kind;
    unsigned char byte;
    bool negated = false;
    std::vector<std::pair<unsigned char, unsigned char>> ranges; // for Set
    bool inSet(unsigned char c) const {
        bool found = false;
        for (const auto& [low, high] : ranges)
            found = found || (c >= low && c <= high);
        return found != negated;
    }
};

// Reads a set that starts after "[" at `i`; false when it has no closing "]" (the "[" is then an
// ordinary byte, as in the shell).
bool readSet(QByteArrayView p, qsizetype& i, Token& token) {
    qsizetype j = i;
    if (j < p.size() && (p[j] == '!' || p[j] == '^')) {
        token.negated = true;
        ++j;
    }
    bool first = true;
    while (j < p.size() && (p[j] != ']' || first)) {
        first = false;
        unsigned char low = uchar(p[j]);
        if (low == '\\' && j + 1 < p.size()) low = uchar(p[++j]);
        ++j;
        unsigned char high = low;
        if (j + 1 < p.size() && p[j] == '-' && p[j + 1] != ']') {
            high = uchar(p[j + 1]);
            if (high == '\\' && j + 2 < p.size()) high = uchar(p[++j + 1]);
            j += 2;
        }
        token.ranges.emplace_back(low, high);
    }
    if (j >= p.size()) return false;
    i = j + 1;
    return true;
}

std::vector<Token> tokenize(QByteArrayView p) {
    std::vector<Token> tokens;
    for (qsizetype i = 0; i < p.size();) {
        const char c = p[i];
        if (c == '*') {
            qsizetype stars = 0;
            while (i < p.size() && p[i] == '*') {
                ++stars;
                ++i;
            }
            if (stars == 1) {
                tokens.push_back({TokenKind::Star});
            } else if (i < p.size() && p[i] == '/') {
                tokens.push_back({TokenKind::DoubleStarSlash});
                ++i;
            } else {
                tokens.push_back({TokenKind::DoubleStar});
            }
        } else if (c == '?') {
            tokens.push_back({TokenKind::AnyByte});
            ++i;
        } else if (c == '[') {
            Token set{TokenKind::Set};
            qsizetype after = i + 1;
            if (readSet(p, after, set)) {
                tokens.push_back(std::move(set));
                i = after;
            } else {
                tokens.push_back({TokenKind::Byte, '['});
                ++i;
            }
        } else if (c == '\\' && i + 1 < p.size()) {
            tokens.push_back({TokenKind::Byte, uchar(p[i + 1])});
            i += 2;
        } else {
            tokens.push_back({TokenKind::Byte, uchar(c)});
            ++i;
        }
    }
    return tokens;
}

} // namespace

PathPattern::PathPattern(QByteArray pattern)
    : m_pattern(std::move(pattern)), m_matchesPath(m_pattern.contains('/')) {}

bool PathPattern::Match(QByteArrayView pattern, QByteArrayView text) {
    // Which text prefixes the pattern's first tokens match, token by token: time grows with
    // pattern length times text length, never exponentially, whatever the stars.
    const std::size_t n = std::size_t(text.size());
    std::vector<char> matched(n + 1, 0), next(n + 1, 0);
    matched[0] = 1;
    for (const Token& t : tokenize(pattern)) {
        std::fill(next.begin(), next.end(), 0);
        bool anyBefore = false; // some prefix shorter than j is matched
        for (std::size_t j = 0; j <= n; ++j) {
            const unsigned char before = j > 0 ? uchar(text[qsizetype(j - 1)]) : 0;
            switch (t.kind) {
            case TokenKind::Byte:
                next[j] = j > 0 && matched[j - 1] && before == t.byte;
                break;
            case TokenKind::AnyByte:
                next[j] = j > 0 && matched[j - 1] && before != '/';
                break;
            case TokenKind::Set:
                next[j] = j > 0 && matched[j - 1] && before != '/' && t.inSet(before);
                break;
            case TokenKind::Star:
                next[j] = matched[j] || (j > 0 && next[j - 1] && before != '/');
                break;
            case TokenKind::DoubleStar:
                next[j] = matched[j] || (j > 0 && next[j - 1]);
                break;
            case TokenKind::DoubleStarSlash:
                next[j] = matched[j] || (j > 0 && before == '/' && anyBefore);
                break;
            }
            anyBefore = anyBefore || matched[j];
        }
        matched.swap(next);
    }
    return matched[n] != 0;
}

} // namespace treelan
