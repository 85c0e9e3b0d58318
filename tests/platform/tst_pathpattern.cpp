#include "platform/PathPattern.h"

#include <QTest>

#include <fnmatch.h>

using namespace treelan;

class PathPatternTest : public QObject {
    Q_OBJECT
private slots:
    void match_data() {
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("matches");
        const struct {
            const char* row;
            const char* pattern;
            const char* text;
            bool matches;
        } rows[] = {
            {"literal", "a.txt", "a.txt", true},
            {"literal differs", "a.txt", "a.txT", false},
            {"star", "*.mp3", "song.mp3", true},
            {"star matches nothing", "*.mp3", ".mp3", true},
            {"star does not cross a folder", "*.mp3", "sub/song.mp3", false},
            {"star in the middle", "a*z", "abcz", true},
            {"star needs the rest", "a*z", "abc", false},
            {"stars around", "*b*", "abc", true},
            {"question mark", "?.txt", "a.txt", true},
            {"question mark needs a byte", "?.txt", ".txt", false},
            {"question mark is not a slash", "a?b", "a/b", false},
            {"set", "[ab].txt", "b.txt", true},
            {"set misses", "[ab].txt", "c.txt", false},
            {"range", "file[0-9]", "file7", true},
            {"negated set", "[!0-9]x", "ax", true},
            {"negated set misses", "[^0-9]x", "5x", false},
            {"bracket first in a set", "[]a]", "]", true},
            {"unclosed bracket is a byte", "[ab", "[ab", true},
            {"escaped star", "a\\*", "a*", true},
            {"escaped star is no star", "a\\*", "ab", false},
            {"trailing backslash", "a\\", "a\\", true},
            {"double star spans folders", "**.mp3", "a/b/c.mp3", true},
            {"double star slash matches no folder", "**/x", "x", true},
            {"double star slash matches folders", "**/x", "a/b/x", true},
            {"double star slash needs a whole name", "**/x", "ax", false},
            {"inner double star", "a/**/z", "a/z", true},
            {"inner double star, deep", "a/**/z", "a/b/c/z", true},
            {"bytes beyond ASCII", "caf\xe9*", "caf\xe9.txt", true},
            {"bytes beyond ASCII differ", "caf\xc3\xa9", "caf\xe9", false},
            {"empty pattern", "", "", true},
            {"empty pattern, some text", "", "a", false},
            {"many stars stay fast", "*a*a*a*a*a*a*a*a*a*a*b",
             "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        };
        for (const auto& r : rows)
            QTest::newRow(r.row) << QByteArray(r.pattern) << QByteArray(r.text) << r.matches;
    }
    void match() {
        QFETCH(QByteArray, pattern);
        QFETCH(QByteArray, text);
        QFETCH(bool, matches);
        QCOMPARE(PathPattern::Match(pattern, text), matches);
    }

    // Without "**", the patterns mean what the C library's fnmatch means with FNM_PATHNAME.
    void agreesWithFnmatch_data() {
        QTest::addColumn<QByteArray>("pattern");
        for (const char* p : {"*", "*.txt", "a?c", "[a-c]*", "[!a]*", "*/*", "a/*", "\\[*", "?/?",
                              "[]]*", "*[0-9]", "*.*"})
            QTest::newRow(p) << QByteArray(p);
    }
    void agreesWithFnmatch() {
        QFETCH(QByteArray, pattern);
        for (const char* text : {"", "a", "abc", "a.txt", "b/c", "a/b", "[x", "]y", "z9", "a/b/c",
                                 "x.y.z", ".hidden", "a/.b", "/"}) {
            const bool expected = ::fnmatch(pattern.constData(), text, FNM_PATHNAME) == 0;
            QVERIFY2(PathPattern::Match(pattern, QByteArray(text)) == expected,
                     qPrintable(QStringLiteral("%1 on %2")
                                    .arg(QString::fromLatin1(pattern), QString::fromLatin1(text))));
        }
    }

    void nameOrPath_data() {
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<bool>("matches"); // on name "x.mp3" at path "sub/x.mp3"
        QTest::newRow("name pattern") << QByteArray("*.mp3") << true;
        QTest::newRow("path pattern") << QByteArray("sub/*.mp3") << true;
        QTest::newRow("path pattern, other folder") << QByteArray("other/*.mp3") << false;
        QTest::newRow("name pattern does not see the path") << QByteArray("sub*") << false;
    }
    void nameOrPath() {
        QFETCH(QByteArray, pattern);
        QFETCH(bool, matches);
        QCOMPARE(PathPattern(pattern).matches("x.mp3", "sub/x.mp3"), matches);
    }
};

QTEST_GUILESS_MAIN(PathPatternTest)
#include "tst_pathpattern.moc"
