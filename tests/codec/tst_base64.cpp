#include "codec/Base64.h"
#include "platform/FileError.h"
#include "platform/ReadFile.h"

#include "support/TempTree.h"

#include <QTest>

using namespace treelan;

namespace {

QByteArray encode(const QByteArray& input) {
    QByteArray out;
    clsBase64().Encode(input, out);
    return out;
}

// The program's own whole-file reader, as a caller hands it to Load.
QByteArray readFile(const QString& path) {
    return ReadWholeFile(path, QStringLiteral("file"));
}

QByteArray allByteValues() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

} // namespace

class TestBase64 : public QObject {
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void everyLengthMatchesQt();
    void lines_data();
    void lines();
    void loadReadsWholeFile_data();
    void loadReadsWholeFile();
    void sameInstanceForSeveralFiles();
    void loadFailures_data();
    void loadFailures();
    void encodeInPlace();
};

void TestBase64::encode_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("f") << QByteArray("f") << QByteArray("Zg==");
    QTest::newRow("fo") << QByteArray("fo") << QByteArray("Zm8=");
    QTest::newRow("foo") << QByteArray("foo") << QByteArray("Zm9v");
    QTest::newRow("foob") << QByteArray("foob") << QByteArray("Zm9vYg==");
    QTest::newRow("fooba") << QByteArray("fooba") << QByteArray("Zm9vYmE=");
    QTest::newRow("foobar") << QByteArray("foobar") << QByteArray("Zm9vYmFy");
    QTest::newRow("NUL bytes") << QByteArray(4, '\0') << QByteArray("AAAAAA==");
    QTest::newRow("all 256 values") << allByteValues() << allByteValues().toBase64();
}

void TestBase64::encode() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(::encode(input), expected);
}

void TestBase64::everyLengthMatchesQt() {
    const QByteArray bytes = allByteValues() + allByteValues();
    for (qsizetype n = 0; n <= 200; ++n) {
        const QByteArray input = bytes.mid(n, n);
        const QByteArray out = ::encode(input);
        QCOMPARE(out.size() % 4, 0);
        QCOMPARE(out, input.toBase64());
    }
}

void TestBase64::lines_data() {
    QTest::addColumn<int>("inputBytes");
    QTest::addColumn<QList<int>>("lineLengths");

    QTest::newRow("empty") << 0 << QList<int>{};
    QTest::newRow("57 bytes, one full line") << 57 << QList<int>{76};
    QTest::newRow("58 bytes") << 58 << QList<int>{76, 4};
    QTest::newRow("114 bytes, two full lines") << 114 << QList<int>{76, 76};
}

void TestBase64::lines() {
    QFETCH(int, inputBytes);
    QFETCH(QList<int>, lineLengths);

    const QByteArray input = allByteValues().left(inputBytes);
    clsBase64 codec;
    QByteArray chars, text;
    codec.Encode(input, chars);
    codec.ByteArrayToString(chars, text);

    QByteArray expected;
    qsizetype p = 0;
    for (int length : lineLengths) {
        expected += chars.mid(p, length) + "\r\n";
        p += length;
    }
    QCOMPARE(p, chars.size());
    QCOMPARE(text, expected);
    QCOMPARE(QByteArray::fromBase64(text), input);
}

void TestBase64::loadReadsWholeFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("binary with NUL and CR LF") << QByteArray("GIF89a\0\r\n\x1A\xFF", 11);
}

void TestBase64::loadReadsWholeFile() {
    QFETCH(QByteArray, content);
    TempTree tree;
    tree.createFile(QStringLiteral("image.gif"), content);
    QByteArray out("stale content");
    clsBase64().Load(tree.path(QStringLiteral("image.gif")), out, readFile);
    QCOMPARE(out, content);
}

void TestBase64::sameInstanceForSeveralFiles() {
    TempTree tree;
    tree.createFile(QStringLiteral("open.gif"), allByteValues() + allByteValues());
    tree.createFile(QStringLiteral("close.gif"), QByteArray("GIF89a tiny"));

    auto run = [&](const clsBase64& codec, const QString& name) {
        QByteArray bytes, chars, text;
        codec.Load(tree.path(name), bytes, readFile);
        codec.Encode(bytes, chars);
        codec.ByteArrayToString(chars, text);
        return text;
    };
    clsBase64 shared;
    run(shared, QStringLiteral("open.gif"));
    QCOMPARE(run(shared, QStringLiteral("close.gif")),
             run(clsBase64(), QStringLiteral("close.gif")));
}

void TestBase64::loadFailures_data() {
    QTest::addColumn<QString>("relative");
    QTest::newRow("missing file") << QStringLiteral("missing.gif");
    QTest::newRow("folder") << QStringLiteral("sub");
    QTest::newRow("no read permission") << QStringLiteral("locked.gif");
}

void TestBase64::loadFailures() {
    QFETCH(QString, relative);
    TempTree tree;
    tree.createDir(QStringLiteral("sub"));
    tree.createFile(QStringLiteral("locked.gif"), QByteArray("x"));
    tree.setMode(QStringLiteral("locked.gif"), 0);
    if (relative == QLatin1String("locked.gif") &&
        QFile(tree.path(relative)).open(QIODevice::ReadOnly))
        QSKIP("running as a user who bypasses permissions");

    const QString path = tree.path(relative);
    QByteArray out("untouched");
    try {
        clsBase64().Load(path, out, readFile);
        QFAIL("Load did not throw");
    } catch (const FileError& e) {
        QCOMPARE(e.path(), path);
        QVERIFY2(e.message().contains(path), qPrintable(e.message()));
        QVERIFY2(e.reason().startsWith(QLatin1String("cannot read the file")),
                 qPrintable(e.reason()));
    }
    QCOMPARE(out, QByteArray("untouched"));
}

void TestBase64::encodeInPlace() {
    QByteArray data("foobar");
    clsBase64 codec;
    codec.Encode(data, data);
    QCOMPARE(data, QByteArray("Zm9vYmFy"));
    codec.ByteArrayToString(data, data);
    QCOMPARE(data, QByteArray("Zm9vYmFy\r\n"));
}

QTEST_GUILESS_MAIN(TestBase64)
#include "tst_base64.moc"
