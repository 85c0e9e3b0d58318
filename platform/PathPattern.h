#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace treelan {

// A shell-style pattern over raw name bytes, as find -name and -path match them:
//   *      any run of bytes without "/"
//   **     any run of bytes, "/" included; "**/" also matches no folder at all
//   ?      one byte other than "/"
//   [...]  one byte of a set: ranges "a-z", negation by a leading "!" or "^", "]" first is literal
//   \c     the byte c itself
// A pattern that holds a "/" is matched against the path relative to the root ("a/b.txt"),
// any other against the name alone.
class PathPattern {
public:
    explicit PathPattern(QByteArray pattern);

    const QByteArray& text() const { return m_pattern; }
    bool matchesPath() const { return m_matchesPath; }
    // Whether the entry with this name at this relative path (without a trailing "/") matches.
    bool matches(QByteArrayView name, QByteArrayView relativePath) const {
        return Match(m_pattern, m_matchesPath ? relativePath : name);
    }

    // The matcher itself, for any pattern and text.
    static bool Match(QByteArrayView pattern, QByteArrayView text);

private:
    QByteArray m_pattern;
    bool m_matchesPath;
};

} // namespace treelan
