#include "codec/Utf8.h"

#include <QRandomGenerator>
#include <QTest>

using namespace treelan;

namespace {

QString units(std::initializer_list<char16_t> list) {
    QString s;
    for (char16_t u : list)
        s.append(QChar(u));
    return s;
}

// A random valid text: ASCII, two- and three-byte characters and surrogate pairs.
QString randomText(QRandomGenerator& rng, int length) {
    QString s;
    for (int i = 0; i < length; ++i) {
        switch (rng.bounded(4)) {
        case 0:
            s.append(QChar(char16_t(rng.bounded(1, 0x80))));
            break;
        case 1:
            s.append(QChar(char16_t(rng.bounded(0x80, 0x800))));
            break;
        case 2: {
            char16_t u = char16_t(rng.bounded(0x800, 0x10000));
            if (u >= 0xD800 && u <= 0xDFFF) u = 0x4E2D;
            s.append(QChar(u));
            break;
        }
        default: {
            const char32_t c = char32_t(rng.bounded(0x10000, 0x110000));
            s.append(QString::fromUcs4(&c, 1));
        }
        }
    }
    return s;
}

} // namespace

class TestUtf8 : public QObject {
    Q_OBJECT

private slots:
    void toUtf8_data();
    void toUtf8();
    void neverHoldsNul();
    void otherCodePagesGiveEmpty();
    void cutAtNul_data();
    void cutAtNul();
    void decodeFileName_data();
    void decodeFileName();
    void isValidUtf8_data() { decodeFileName_data(); }
    void isValidUtf8();
    void randomTextsMatchQt();
    void roundTripOfValidBytes();
    void argumentKeepsItsBytes_data() { decodeFileName_data(); }
    void argumentKeepsItsBytes();
    void randomArgumentsKeepTheirBytes();
};

void TestUtf8::toUtf8_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("a") << QStringLiteral("a") << QByteArray("a");
    QTest::newRow("U+00E9") << units({0x00E9}) << QByteArray("\xC3\xA9");
    QTest::newRow("U+0800") << units({0x0800}) << QByteArray("\xE0\xA0\x80");
    QTest::newRow("U+20AC") << units({0x20AC}) << QByteArray("\xE2\x82\xAC");
    QTest::newRow("U+1F600 pair") << units({0xD83D, 0xDE00}) << QByteArray("\xF0\x9F\x98\x80");
    QTest::newRow("U+10FFFF pair") << units({0xDBFF, 0xDFFF}) << QByteArray("\xF4\x8F\xBF\xBF");
    QTest::newRow("ascii then non-ascii")
        << (QStringLiteral("caf") + units({0xE9, 'x'})) << QByteArray("caf\xC3\xA9x");
    QTest::newRow("stops at NUL") << units({'a', 'b', 0, 'c'}) << QByteArray("ab");
    QTest::newRow("leading NUL") << units({0, 'a'}) << QByteArray();
    QTest::newRow("lone high surrogate") << units({'a', 0xD800, 'b'})
                                         << QByteArray("a\xEF\xBF\xBD"
                                                       "b");
    QTest::newRow("lone low surrogate") << units({0xDC00}) << QByteArray("\xEF\xBF\xBD");
    QTest::newRow("high surrogate at end") << units({'x', 0xDBFF}) << QByteArray("x\xEF\xBF\xBD");
    QTest::newRow("two high surrogates then low")
        << units({0xD83D, 0xD83D, 0xDE00}) << QByteArray("\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

void TestUtf8::toUtf8() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ToUTF8(text), bytes);
    QCOMPARE(ToMultiByte(text, kCodePageUtf8, 0), bytes);
}

void TestUtf8::neverHoldsNul() {
    QString field(260, QChar(u'\0'));
    field.replace(0, 3, units({0x20AC, 'b', 'c'}));
    const QByteArray out = ToUTF8(field);
    QCOMPARE(out, QByteArray("\xE2\x82\xAC"
                             "bc"));
    QVERIFY(!out.contains('\0'));
}

void TestUtf8::otherCodePagesGiveEmpty() {
    QVERIFY(ToMultiByte(QStringLiteral("abc"), 1252, 0).isEmpty());
    QVERIFY(ToMultiByte(QStringLiteral("abc"), 0, 0).isEmpty());
}

void TestUtf8::cutAtNul_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QString field(260, QChar(u'\0'));
    field.replace(0, 3, QStringLiteral("abc"));
    QTest::newRow("260-character field") << field << QStringLiteral("abc");
    QTest::newRow("no NUL") << QStringLiteral("name.txt") << QStringLiteral("name.txt");
    QTest::newRow("leading NUL") << units({0, 'a', 'b'}) << QString();
}

void TestUtf8::cutAtNul() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(CutAtNul(text), expected);
}

void TestUtf8::decodeFileName_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("ascii") << QByteArray("song 01.mp3") << QStringLiteral("song 01.mp3");
    QTest::newRow("valid two-byte")
        << QByteArray("caf\xC3\xA9") << (QStringLiteral("caf") + units({0xE9}));
    QTest::newRow("valid three-byte") << QByteArray("\xE2\x82\xAC") << units({0x20AC});
    QTest::newRow("valid four-byte") << QByteArray("\xF0\x9F\x98\x80") << units({0xD83D, 0xDE00});
    QTest::newRow("U+10FFFF") << QByteArray("\xF4\x8F\xBF\xBF") << units({0xDBFF, 0xDFFF});
    QTest::newRow("latin-1 byte") << QByteArray("caf\xE9")
                                  << (QStringLiteral("caf") + units({0xE9}));
    QTest::newRow("lone continuation") << QByteArray("a\x80z") << units({'a', 0x80, 'z'});
    QTest::newRow("truncated sequence at end")
        << QByteArray("a\xE2\x82") << units({'a', 0xE2, 0x82});
    QTest::newRow("overlong two-byte slash") << QByteArray("\xC0\xAF") << units({0xC0, 0xAF});
    QTest::newRow("overlong three-byte") << QByteArray("\xE0\x80\xAF") << units({0xE0, 0x80, 0xAF});
    QTest::newRow("overlong four-byte")
        << QByteArray("\xF0\x8F\xBF\xBF") << units({0xF0, 0x8F, 0xBF, 0xBF});
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << units({0xED, 0xA0, 0x80});
    QTest::newRow("above U+10FFFF")
        << QByteArray("\xF4\x90\x80\x80") << units({0xF4, 0x90, 0x80, 0x80});
    QTest::newRow("FF byte") << QByteArray("\xFF") << units({0xFF});
    // Its low surrogate is U+DC80, which is also where an argument's first escaped byte goes.
    QTest::newRow("U+10080") << QByteArray("\xF0\x90\x82\x80") << units({0xD800, 0xDC80});
    QTest::newRow("U+10080 then a stray byte")
        << QByteArray("\xF0\x90\x82\x80\x80") << units({0xD800, 0xDC80, 0x80});
    QTest::newRow("mixed valid and invalid")
        << QByteArray("\xE9t\xC3\xA9\xFF\xE2\x82\xAC") << units({0xE9, 't', 0xE9, 0xFF, 0x20AC});
}

void TestUtf8::decodeFileName() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    const QString decoded = DecodeFileName(bytes);
    QCOMPARE(decoded, expected);
    // Whatever the bytes, the result must convert to valid UTF-8 for the export.
    QVERIFY(QString::fromUtf8(ToUTF8(decoded)) == decoded);
}

// Valid exactly when decoding and encoding again gives the same bytes.
void TestUtf8::isValidUtf8() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(DecodesExactly(bytes), ToUTF8(expected) == bytes);
}

void TestUtf8::randomTextsMatchQt() {
    QRandomGenerator rng(20240611);
    for (int round = 0; round < 500; ++round) {
        const QString text = randomText(rng, int(rng.bounded(0, 40)));
        QCOMPARE(ToUTF8(text), text.toUtf8());
    }
}

void TestUtf8::roundTripOfValidBytes() {
    QRandomGenerator rng(7);
    for (int round = 0; round < 500; ++round) {
        const QByteArray bytes = randomText(rng, int(rng.bounded(0, 40))).toUtf8();
        const QString decoded = DecodeFileName(bytes);
        QCOMPARE(decoded, QString::fromUtf8(bytes));
        QCOMPARE(ToUTF8(decoded), bytes);
    }
}

// An argument passes through text and back unchanged; it reads as the file name does.
void TestUtf8::argumentKeepsItsBytes() {
    QFETCH(QByteArray, bytes);
    const QString argument = DecodeArgument(bytes);
    QCOMPARE(EncodeArgument(argument), bytes);
    QCOMPARE(DecodeFileName(EncodeArgument(argument)), DecodeFileName(bytes));
    QCOMPARE(argument == QString::fromUtf8(bytes), DecodesExactly(bytes));
}

void TestUtf8::randomArgumentsKeepTheirBytes() {
    QRandomGenerator rng(11);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(int(rng.bounded(0, 24)), Qt::Uninitialized);
        for (char& c : bytes)
            c = char(rng.bounded(0x70, 0x100)); // mostly non-ASCII: every lead and stray byte
        QCOMPARE(EncodeArgument(DecodeArgument(bytes)), bytes);
    }
}

QTEST_GUILESS_MAIN(TestUtf8)
#include "tst_utf8.moc"
