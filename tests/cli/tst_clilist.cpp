// treelan-cli list against expected listings of one fixture tree.
#include "Expected.h"
#include "TempTree.h"

#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

QByteArray fixture(const char* name) {
    QFile f(QStringLiteral(TREELAN_TEST_DATA "/mp3/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly)) qFatal("missing MP3 fixture %s", name);
    return f.readAll();
}

// Files of several sizes, dates, types and depths; two MP3 files; an empty folder.
void buildTree(TempTree& t) {
    t.createFile(QStringLiteral("a.txt"), QByteArray(12345, 'a'), TempTree::utc(2004, 3, 5));
    t.createFile(QStringLiteral("B.doc"), QByteArray(512, 'b'), TempTree::utc(2003, 11, 17));
    t.createFile(QStringLiteral("song.mp3"), fixture("cbr-44k-stereo.mp3"),
                 TempTree::utc(2010, 1, 1));
    t.createFile(QStringLiteral("R&B <live>.txt"), QByteArray(1048576, 'r'),
                 TempTree::utc(1999, 12, 31, 23, 59));
    t.createSparseFile(QStringLiteral("big.iso"), 3221225472LL, TempTree::utc(2020, 2, 29));
    t.createFile(QStringLiteral("Sub/x.mp3"), fixture("vbr-16k-mono.mp3"),
                 TempTree::utc(2015, 6, 15));
    t.createFile(QStringLiteral("Sub/deeper/empty"), QByteArray(), TempTree::utc(2001, 1, 1));
    t.createDir(QStringLiteral("Empty"));
}

} // namespace

class CliListTest : public QObject {
    Q_OBJECT
private slots:
    void listings_data() {
        // Rows of equal keys keep the enumeration order, which differs between file systems, so
        // every listing here sorts by a key that no two of its rows share.
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("folder"); // listed, relative to the fixture root
        QTest::addColumn<QString>("expected");
        QTest::newRow("flat, default columns") << QStringList{} << ""
                                               << "flat.txt";
        QTest::newRow("recursive, MP3, all columns, full path")
            << QStringList{"-r", "-m", "--full-path", "--columns", "size,date,duration,bitrate"}
            << ""
            << "recursive-full.txt";
        QTest::newRow("by size, descending")
            << QStringList{"-r", "--sort", "size", "--descending", "--columns", "size"} << ""
            << "by-size.txt";
        QTest::newRow("by date, no columns")
            << QStringList{"-r", "--sort", "date", "--columns", ""} << ""
            << "by-date.txt";
        QTest::newRow("subfolder by bit rate, descending")
            << QStringList{"-r",           "-m",        "--sort",          "bitrate",
                           "--descending", "--columns", "duration,bitrate"}
            << "Sub"
            << "sub-by-bitrate.txt";
        QTest::newRow("subfolder by folder, descending")
            << QStringList{"-r", "--sort", "folder", "--descending", "--full-path"} << "Sub"
            << "sub-by-folder.txt";
    }
    void listings() {
        QFETCH(QStringList, options);
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        TempTree tree;
        buildTree(tree);
        QProcess p;
        // Without its trailing "/": the root is written with one.
        QString root = tree.root() + folder;
        if (root.endsWith(QLatin1Char('/'))) root.chop(1);
        p.start(QStringLiteral(TREELAN_CLI), QStringList{"list"} + options + QStringList{root});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(p.readAllStandardError().isEmpty(), "no warnings expected");
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY(sameLines(out, expectedFile(QStringLiteral("listing/") + expected, tree.root())));
    }

    void failures_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("no folder") << QStringList{"list"} << 2 << QByteArray("FOLDER");
        QTest::newRow("not a folder")
            << QStringList{"list", "/no/such/folder"} << 2 << QByteArray("/no/such/folder");
        QTest::newRow("unknown column")
            << QStringList{"list", "--columns", "type", "."} << 2 << QByteArray("type");
        QTest::newRow("unknown sort key")
            << QStringList{"list", "--sort", "colour", "."} << 2 << QByteArray("colour");
    }
    void failures() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QByteArray, said);
        QProcess p;
        p.start(QStringLiteral(TREELAN_CLI), args);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), status);
        QVERIFY(p.readAllStandardError().contains(said));
    }
};

QTEST_GUILESS_MAIN(CliListTest)
#include "tst_clilist.moc"
