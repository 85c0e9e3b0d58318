#include "codec/TextEscape.h"
#include "codec/Utf8.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace treelan;

namespace {

// One hostile set of names, shared by every escaper's table: markup characters, line breaks,
// TAB, C0 controls, DEL, backslash, separators, formula starters, non-ASCII and broken UTF-8.
struct Hostile {
    const char* row;
    QByteArray bytes;
    const char* json; // expected JSON string
    const char* percent;
    const char* csv; // expected CSV cell
    const char* tsv; // expected TSV cell
};

const Hostile kHostile[] = {
    {"empty", "", "\"\"", "", "", ""},
    {"plain", "notes.txt", "\"notes.txt\"", "notes.txt", "notes.txt", "notes.txt"},
    {"markup", "<a&b> \"q\" 'x'", "\"<a&b> \\\"q\\\" 'x'\"", "%3Ca%26b%3E%20%22q%22%20%27x%27",
     "\"<a&b> \"\"q\"\" 'x'\"", "\"<a&b> \"\"q\"\" 'x'\""},
    {"CR LF", "one\r\ntwo", "\"one\\r\\ntwo\"", "one%0D%0Atwo", "\"one\r\ntwo\"", "\"one\r\ntwo\""},
    {"TAB inside", "a\tb", "\"a\\tb\"", "a%09b", "a\tb", "\"a\tb\""},
    {"controls", QByteArray("\x01\x08\x0C\x1B\x1F\x7F", 6),
     "\"\\u0001\\b\\f\\u001B\\u001F\\u007F\"", "%01%08%0C%1B%1F%7F", "\x01\x08\x0C\x1B\x1F\x7F",
     "\x01\x08\x0C\x1B\x1F\x7F"},
    {"backslash and slash", "a\\b/c", "\"a\\\\b/c\"", "a%5Cb%2Fc", "a\\b/c", "a\\b/c"},
    {"comma", "a,b", "\"a,b\"", "a%2Cb", "\"a,b\"", "a,b"},
    {"unreserved", "A-z_0.9~", "\"A-z_0.9~\"", "A-z_0.9~", "A-z_0.9~", "A-z_0.9~"},
    {"leading =", "=1+2", "\"=1+2\"", "%3D1%2B2", "'=1+2", "'=1+2"},
    {"leading +", "+x", "\"+x\"", "%2Bx", "'+x", "'+x"},
    {"leading -", "-x", "\"-x\"", "-x", "'-x", "'-x"},
    {"leading @", "@SUM(A1)", "\"@SUM(A1)\"", "%40SUM%28A1%29", "'@SUM(A1)", "'@SUM(A1)"},
    {"leading TAB", "\t=x", "\"\\t=x\"", "%09%3Dx", "'\t=x", "\"'\t=x\""},
    {"leading CR", "\r=x", "\"\\r=x\"", "%0D%3Dx", "\"'\r=x\"", "\"'\r=x\""},
    {"leading apostrophe", "'=x", "\"'=x\"", "%27%3Dx", "''=x", "''=x"},
    {"formula and quote", "=\"a,b\"", "\"=\\\"a,b\\\"\"", "%3D%22a%2Cb%22", "\"'=\"\"a,b\"\"\"",
     "\"'=\"\"a,b\"\"\""},
    {"= not first", "a=b", "\"a=b\"", "a%3Db", "a=b", "a=b"},
    {"UTF-8", "caf\xC3\xA9 \xE2\x80\xA8 \xF0\x9F\x98\x80",
     "\"caf\xC3\xA9 \xE2\x80\xA8 \xF0\x9F\x98\x80\"", "caf%C3%A9%20%E2%80%A8%20%F0%9F%98%80",
     "caf\xC3\xA9 \xE2\x80\xA8 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x80\xA8 \xF0\x9F\x98\x80"},
    {"invalid UTF-8", "bad\xFF\xC0\xAF.txt", "\"bad\xFF\xC0\xAF.txt\"", "bad%FF%C0%AF.txt",
     "bad\xFF\xC0\xAF.txt", "bad\xFF\xC0\xAF.txt"},
};

void addHostileRows(int column) {
    for (const Hostile& h : kHostile) {
        const char* expected[] = {h.json, h.percent, h.csv, h.tsv};
        QTest::newRow(h.row) << h.bytes << QByteArray(expected[column]);
    }
}

} // namespace

class TestTextEscape : public QObject {
    Q_OBJECT

private slots:
    void jsonBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        addHostileRows(0);
    }
    void jsonBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        QByteArray out("[");
        AppendJsonBytes(out, bytes);
        QCOMPARE(out.mid(1), expected);
        // A real parser gives back the very text, whenever the bytes are text.
        if (!DecodesExactly(bytes)) return;
        out.append(']');
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(out, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(doc.array().at(0).toString(), QString::fromUtf8(bytes));
    }

    void jsonString_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("decoded Latin-1 name")
            << DecodeFileName(QByteArray("caf\xE9\x01")) << QByteArray("\"caf\xC3\xA9\\u0001\"");
        QTest::newRow("lone surrogate")
            << QString(QChar(0xD800)) + QLatin1Char('"') << QByteArray("\"\xEF\xBF\xBD\\\"\"");
        QTest::newRow("surrogate pair")
            << QString::fromUtf8("\xF0\x9F\x98\x80") << QByteArray("\"\xF0\x9F\x98\x80\"");
        QTest::newRow("error text")
            << QStringLiteral("Permission denied") << QByteArray("\"Permission denied\"");
    }
    void jsonString() {
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        QByteArray out;
        AppendJsonString(out, text);
        QCOMPARE(out, expected);
        QVERIFY(DecodesExactly(out));
    }

    void percentEncoded_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        addHostileRows(1);
        QByteArray every;
        for (int b = 0; b < 256; ++b)
            every.append(char(b));
        QTest::newRow("every byte") << every << QByteArray();
    }
    void percentEncoded() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        QByteArray out("x");
        AppendPercentEncoded(out, bytes);
        out.remove(0, 1);
        if (!expected.isEmpty() || bytes.isEmpty()) QCOMPARE(out, expected);
        QCOMPARE(QByteArray::fromPercentEncoding(out), bytes);
        for (const char c : out)
            QVERIFY2(c > 0x20 && c < 0x7F && c != '\\' && c != '"', out.constData());
    }

    void csvField_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        addHostileRows(2);
    }
    void csvField() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        QByteArray out("x,");
        AppendCsvField(out, bytes, ',');
        QCOMPARE(out.mid(2), expected);
    }

    void tsvField_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        addHostileRows(3);
    }
    void tsvField() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        QByteArray out;
        AppendCsvField(out, bytes, '\t');
        QCOMPARE(out, expected);
    }
};

QTEST_GUILESS_MAIN(TestTextEscape)
#include "tst_textescape.moc"
