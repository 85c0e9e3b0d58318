#include "SearchCases.h"
#include "format/NamePattern.h"

#include <QTest>

using namespace treelan;

// The pattern syntax against the shared table, once over UTF-8 names (as the catalogue matches
// them) and once over UTF-16 ones (as the listing holds them): both must give the table's answer.
class TestNamePattern : public QObject {
    Q_OBJECT

private slots:
    void sharedCases_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("expected");
        for (const SearchCase& c :
             ReadSearchCases(QStringLiteral(TREELAN_TEST_DATA "/search-cases.tsv")))
            QTest::addRow("line %d: %s ~ %s", c.line, qPrintable(c.pattern), qPrintable(c.name))
                << c.pattern << c.name << c.folder << c.expected;
    }
    void sharedCases() {
        QFETCH(QString, pattern);
        QFETCH(QString, name);
        QFETCH(bool, folder);
        QFETCH(bool, expected);
        const NamePattern p = NamePattern::parse(pattern.toStdString());
        QCOMPARE(p.matches(FoldText(name.toStdString()), folder), expected);
        std::string folded;
        FoldText(std::u16string_view(QStringView(name).utf16(), std::size_t(name.size())), folded);
        QCOMPARE(p.matches(folded, folder), expected);
    }

    // Folding UTF-16 gives the UTF-8 folding's bytes, astral code points and lone surrogates too.
    void foldsUtf16AsUtf8_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("folded");
        QTest::newRow("ascii") << QStringLiteral("AbC.TXT") << QByteArray("abc.txt");
        QTest::newRow("latin") << QStringLiteral("ÉTÉ Ÿ") << QByteArray("été ÿ");
        QTest::newRow("final sigma") << QStringLiteral("ΟΔΟΣ ς") << QByteArray("οδοσ σ");
        QTest::newRow("deseret, astral")
            << QString::fromUcs4(U"\U00010400x") << QByteArray("\xf0\x90\x90\xa8x");
        QTest::newRow("lone high surrogate") << QString(QChar(0xD801)) + QStringLiteral("A")
                                             << QByteArray("\xef\xbf\xbd"
                                                           "a");
        QTest::newRow("lone low surrogate")
            << QStringLiteral("A") + QString(QChar(0xDC00)) << QByteArray("a\xef\xbf\xbd");
    }
    void foldsUtf16AsUtf8() {
        QFETCH(QString, text);
        QFETCH(QByteArray, folded);
        std::string out = "stale";
        FoldText(std::u16string_view(QStringView(text).utf16(), std::size_t(text.size())), out);
        QCOMPARE(QByteArray::fromStdString(out), folded);
    }
};

QTEST_APPLESS_MAIN(TestNamePattern)
#include "tst_namepattern.moc"
