// Include/exclude pattern matcher. The input is a pattern, a NUL byte and a text (no NUL: the
// whole input is both). Beyond a verdict on the pair, each input checks what any text must give
// under patterns built from it, and a second, memoised matcher written straight from the pattern
// syntax (without sets) must agree.
#include "FuzzCheck.h"

#include "platform/PathPattern.h"

#include <ctime>
#include <vector>

using treelan::PathPattern;

namespace {

// Recursive reading of the syntax over pattern and text positions, memoised: each star tries every
// end in turn, so the work is pattern times text times text. Sets are left to the matcher under
// test.
class Reference {
public:
    Reference(QByteArrayView pattern, QByteArrayView text)
        : m_p(pattern), m_t(text),
          m_memo(std::size_t((pattern.size() + 1) * (text.size() + 1)), -1) {}
    bool match() { return at(0, 0); }

private:
    bool at(qsizetype i, qsizetype j) {
        signed char& memo = m_memo[std::size_t(i * (m_t.size() + 1) + j)];
        if (memo < 0) memo = compute(i, j) ? 1 : 0;
        return memo != 0;
    }
    bool compute(qsizetype i, qsizetype j) {
        const qsizetype n = m_t.size();
        if (i == m_p.size()) return j == n;
        const char c = m_p[i];
        if (c == '*') {
            qsizetype k = i;
            while (k < m_p.size() && m_p[k] == '*')
                ++k;
            if (k - i == 1) { // up to the next "/"
                for (qsizetype e = j; e <= n; ++e) {
                    if (at(k, e)) return true;
                    if (e < n && m_t[e] == '/') break;
                }
                return false;
            }
            if (k < m_p.size() && m_p[k] == '/') { // no folder, or any run ending in "/"
                if (at(k + 1, j)) return true;
                for (qsizetype e = j; e < n; ++e)
                    if (m_t[e] == '/' && at(k + 1, e + 1)) return true;
                return false;
            }
            for (qsizetype e = j; e <= n; ++e)
                if (at(k, e)) return true;
            return false;
        }
        if (j == n) return false;
        if (c == '?') return m_t[j] != '/' && at(i + 1, j + 1);
        if (c == '\\' && i + 1 < m_p.size()) return m_t[j] == m_p[i + 1] && at(i + 2, j + 1);
        return m_t[j] == c && at(i + 1, j + 1);
    }

    QByteArrayView m_p, m_t;
    std::vector<signed char> m_memo;
};

// Every byte of `text` escaped: a pattern that means the text and nothing else.
QByteArray escaped(QByteArrayView text) {
    QByteArray p;
    p.reserve(text.size() * 2);
    for (const char c : text)
        p.append('\\').append(c);
    return p;
}

// The matcher, with a bound on its processor time (not the wall clock, which a busy machine
// stretches): the table it keeps is pattern times text, so anything far beyond that is a matcher
// gone exponential on stars.
bool timedMatch(QByteArrayView pattern, QByteArrayView text) {
    const std::clock_t start = std::clock();
    const bool result = PathPattern::Match(pattern, text);
    const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    const double cells = double(pattern.size() + 1) * double(text.size() + 1);
    FUZZ_CHECK(seconds < 1.0 + cells * 500e-9, "the match returns quickly");
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Paths end at 4096 bytes; beyond a kilobyte the work (pattern times text) only slows the run.
    if (size > 1024) return 0;
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype nul = input.indexOf('\0');
    const QByteArrayView pattern = nul < 0 ? input : input.first(nul);
    const QByteArrayView text = nul < 0 ? input : input.sliced(nul + 1);

    const bool verdict = timedMatch(pattern, text);
    // The reference costs pattern times text times text: it checks the smaller inputs.
    const double referenceWork =
        double(pattern.size() + 1) * double(text.size() + 1) * double(text.size() + 1);
    if (!pattern.contains('[') && referenceWork <= 1e6)
        FUZZ_CHECK(verdict == Reference(pattern, text).match(), "agrees with the reference");

    // Patterns as long as the text cost text times text: short texts say as much, and keep the
    // runs fast.
    if (text.size() <= 512) {
        FUZZ_CHECK(timedMatch(escaped(text), text), "the escaped text matches itself");
        FUZZ_CHECK(timedMatch(QByteArray("**/") + escaped(text), text),
                   "\"**/\" may match no folder");
    }
    FUZZ_CHECK(timedMatch("**", text), "\"**\" matches any text");
    FUZZ_CHECK(timedMatch("*", text) == !text.contains('/'), "\"*\" matches texts without \"/\"");
    FUZZ_CHECK(timedMatch("?", text) == (text.size() == 1 && text[0] != '/'),
               "\"?\" matches one byte other than \"/\"");

    bool literal = true;
    for (const char c : pattern)
        literal = literal && c != '*' && c != '?' && c != '[' && c != '\\';
    if (literal) FUZZ_CHECK(verdict == (pattern == text), "a plain pattern matches only itself");
    return 0;
}
