#include "format/EntryFormat.h"
#include "listing/FolderScan.h"
#include "listing/ListingModel.h"
#include "platform/DirWalker.h"
#include "platform/FileError.h"
#include "settings/StringTable.h"

#include "TempTree.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace treelan;

namespace {

// An MPEG-1 Layer III frame header, 128 kbps at 44.1 kHz, at the start of zeroed audio.
QByteArray mp3Content() {
    QByteArray b(16000, '\0');
    b[0] = char(0xFF);
    b[1] = char(0xFB);
    b[2] = char(0x90);
    b[3] = char(0x00);
    return b;
}

ListingModel& scan(ListingModel& m, const QString& root, bool tree, bool mp3 = false) {
    m.setSorted(false); // the scan order itself
    ScanOptions o;
    o.rootPath = root;
    o.browseSubfolders = tree;
    o.mp3Info = mp3;
    RefreshListing(m, o);
    return m;
}

int rowOf(const ListingModel& m, const QString& folder, const QString& name) {
    for (int r = 0; r < m.rowCount(); ++r)
        if (m.text(r, ColFolder) == folder && m.text(r, ColName) == name) return r;
    return -1;
}

} // namespace

class TestFolderScan : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { LoadDefaultStrings(); }

    void helpers() {
        QString t = QStringLiteral("1536");
        QCOMPARE(Nuly(t), QStringLiteral("000000001536"));
        QCOMPARE(t, QStringLiteral("000000001536"));
        QCOMPARE(Nuly(QStringLiteral("1234567890123")), QStringLiteral("1234567890123"));
        QCOMPARE(StripTerminator(QStringLiteral("ab") + QChar(0) + QStringLiteral("cd")),
                 QStringLiteral("ab"));
        QCOMPARE(StripTerminator(QStringLiteral("abc")), QStringLiteral("abc"));
        QCOMPARE(BitrateKey(QStringLiteral("128 kbps")), QStringLiteral("00128"));
        QCOMPARE(BitrateKey(QStringLiteral("153 kbps (var.)")), QStringLiteral("00153"));
        QCOMPARE(BitrateKey(QString()), QString());
    }

    void sizes_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("sizeText");
        QTest::addColumn<QString>("sizeKey");
        QTest::newRow("0 B") << qint64(0) << " 0 kB"
                             << "000000000000";
        QTest::newRow("512 B") << qint64(512) << " 1 kB"
                               << "000000000512";
        QTest::newRow("1536 B") << qint64(1536) << " 2 kB"
                                << "000000001536";
        QTest::newRow("1 MiB") << qint64(1048576) << "1 024 kB"
                               << "000001048576";
        QTest::newRow("3 GiB sparse") << qint64(3221225472) << "3145 728 kB"
                                      << "003221225472";
    }
    void sizes() {
        QFETCH(qint64, size);
        QFETCH(QString, sizeText);
        QFETCH(QString, sizeKey);
        TempTree t;
        t.createSparseFile(QStringLiteral("f.bin"), size, TempTree::utc(2004, 3, 5, 23, 30));
        ListingModel m;
        scan(m, t.root(), false);
        QCOMPARE(m.rowCount(), 1);
        QCOMPARE(m.text(0, ColSize), sizeText);
        QCOMPARE(m.text(0, ColSizeKey), sizeKey);
        QCOMPARE(m.text(0, ColDate), QStringLiteral("5.3.2004"));
        const qint64 ft = FileTimeFromUnix(TempTree::utc(2004, 3, 5, 23, 30).toSecsSinceEpoch(), 0);
        QCOMPARE(m.text(0, ColDateKey), QString::number(quint64(ft) >> 32));
    }

    // Each row knows its raw path, so that two names that read the same stay apart.
    void rawPathsOfTwins_data() {
        QTest::addColumn<bool>("tree");
        QTest::addColumn<QByteArrayList>("paths"); // sorted
        QTest::newRow("flat") << false
                              << QByteArrayList{"caf\xc3\xa9.txt", "caf\xe9.txt",
                                                "d\xc3\xa9j\xc3\xa0/", "d\xe9j\xe0/"};
        QTest::newRow("tree") << true
                              << QByteArrayList{"caf\xc3\xa9.txt", "caf\xe9.txt",
                                                "d\xc3\xa9j\xc3\xa0/u.txt", "d\xe9j\xe0/l.txt"};
    }
    void rawPathsOfTwins() {
        QFETCH(bool, tree);
        QFETCH(QByteArrayList, paths);
        TempTree t;
        t.createRawFile(QStringLiteral("."), "caf\xc3\xa9.txt", "u");
        t.createRawFile(QStringLiteral("."), "caf\xe9.txt", "l");
        t.createFile(QStringLiteral("d\u00e9j\u00e0/u.txt"), "u");
        const QByteArray latin1 = QFile::encodeName(t.root()) + "d\xe9j\xe0";
        QVERIFY(::mkdir(latin1.constData(), 0755) == 0);
        ::close(::open((latin1 + "/l.txt").constData(), O_WRONLY | O_CREAT, 0644));
        ListingModel m;
        scan(m, t.root(), tree);
        QByteArrayList got;
        for (int r = 0; r < m.rowCount(); ++r)
            got << m.rawPath(r);
        std::sort(got.begin(), got.end());
        QCOMPARE(got, paths);
    }

    void order_data() {
        QTest::addColumn<bool>("tree");
        QTest::addColumn<QStringList>("rows"); // folder + name
        QTest::newRow("recursive") << true << QStringList{"top.txt", "a/a.txt", "a/b/x.txt"};
        QTest::newRow("flat") << false << QStringList{"top.txt", "a/"};
    }
    void order() {
        QFETCH(bool, tree);
        QFETCH(QStringList, rows);
        TempTree t;
        t.createFile(QStringLiteral("top.txt"), "x");
        t.createFile(QStringLiteral("a/a.txt"), "x");
        t.createFile(QStringLiteral("a/b/x.txt"), "x");
        ListingModel m;
        scan(m, t.root(), tree);
        QStringList got;
        for (int r = 0; r < m.rowCount(); ++r)
            got << m.text(r, ColFolder) + m.text(r, ColName);
        QCOMPARE(got, rows);
        const int x = rowOf(m, QStringLiteral("a/b/"), QStringLiteral("x.txt"));
        QCOMPARE(x >= 0, tree);
        if (!tree) {
            const int sub = rowOf(m, QStringLiteral("a/"), QString());
            QVERIFY(m.isSubfolderRow(sub));
            QCOMPARE(m.text(sub, ColSize),
                     QLatin1Char('<') + GetGuiString(Str::Folder) + QLatin1Char('>'));
            for (int c = ColDate; c < kListingColumns; ++c)
                QVERIFY(m.text(sub, c).isEmpty());
        }
    }

    void mp3Detection_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("mp3Info");
        QTest::addColumn<bool>("read");
        QTest::newRow("song.Mp3") << "song.Mp3" << true << true;
        QTest::newRow("mp3 without dot") << "mp3" << true << true;
        QTest::newRow("song.mp3.bak") << "song.mp3.bak" << true << false;
        QTest::newRow("option off") << "song.mp3" << false << false;
    }
    void mp3Detection() {
        QFETCH(QString, name);
        QFETCH(bool, mp3Info);
        QFETCH(bool, read);
        TempTree t;
        t.createFile(name, mp3Content());
        ListingModel m;
        scan(m, t.root(), false, mp3Info);
        QCOMPARE(m.rowCount(), 1);
        QCOMPARE(!m.text(0, ColBitrate).isEmpty(), read);
        QCOMPARE(m.text(0, ColBitrateKey), read ? QStringLiteral("00128") : QString());
    }

    void unreadableMp3DoesNotStop() {
        TempTree t;
        t.createFile(QStringLiteral("a.mp3"), mp3Content());
        t.createFile(QStringLiteral("b.txt"), "x");
        t.setMode(QStringLiteral("a.mp3"), 0);
        ListingModel m;
        scan(m, t.root(), false, true);
        QCOMPARE(m.rowCount(), 2);
        const int a = rowOf(m, QString(), QStringLiteral("a.mp3"));
        QVERIFY(a >= 0);
        QCOMPARE(m.text(a, ColSize), QStringLiteral(" 16 kB"));
        if (::geteuid() != 0) QVERIFY(m.text(a, ColBitrateKey).isEmpty());
    }

    void loopAndDepth() {
        TempTree t;
        t.createFile(QStringLiteral("l/f.txt"), "x");
        t.createSymlink(QStringLiteral("l/back"), t.root());
        const int depth = 10000; // far deeper than PATH_MAX allows as one path
        t.createDeepChain("d", depth, "end.txt");
        ListingModel m;
        scan(m, t.root(), true);
        QString deep;
        for (int i = 0; i < depth; ++i)
            deep += QStringLiteral("d/");
        QVERIFY(rowOf(m, QStringLiteral("l/"), QStringLiteral("f.txt")) >= 0);
        QVERIFY(rowOf(m, deep, QStringLiteral("end.txt")) >= 0);
        QCOMPARE(m.rowCount(), 2);
    }

    void invalidUtf8Name() {
        TempTree t;
        t.createRawFile(QString(), QByteArray("caf\xe9.txt"), "x");
        t.createRawFile(QString(), QByteArray("m\xfcsic.mp3"), mp3Content());
        ListingModel m;
        scan(m, t.root(), false, true);
        QCOMPARE(m.rowCount(), 2);
        const int text = rowOf(m, QString(), QString::fromLatin1("caf\xe9.txt"));
        const int song = rowOf(m, QString(), QString::fromLatin1("m\xfcsic.mp3"));
        QVERIFY(text >= 0 && song >= 0);
        // The file is opened by its bytes on disk, not by the decoded name.
        QCOMPARE(m.text(song, ColBitrate), QStringLiteral("128 kbps"));
        QCOMPARE(m.text(song, ColBitrateKey), QStringLiteral("00128"));
    }

    void progressAndCancel() {
        TempTree t;
        for (const char* f : {"a/1.txt", "b/2.txt", "c/3.txt"})
            t.createFile(QString::fromLatin1(f), "x");
        ListingModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        ScanOptions o;
        o.rootPath = t.root();
        o.browseSubfolders = true;
        QStringList seen;
        o.walk.progress = [&seen](const WalkProgress& p) {
            seen << p.currentFolder;
            return true;
        };
        RefreshListing(m, o);
        QCOMPARE(seen.size(), 4); // the root and its three folders
        QCOMPARE(m.rowCount(), 3);
        int calls = 0;
        o.walk.progress = [&calls](const WalkProgress&) { return ++calls < 2; };
        QVERIFY_THROWS_EXCEPTION(Cancelled, RefreshListing(m, o));
        // What was listed before the cancel stays, sorted; the model is consistent.
        QVERIFY(m.rowCount() < 3);
    }

    void sortedOnceAtEnd() {
        TempTree t;
        for (const char* n : {"b.txt", "C.txt", "a.txt"})
            t.createFile(QString::fromLatin1(n), "x");
        ListingModel m;
        ScanOptions o;
        o.rootPath = t.root();
        RefreshListing(m, o);
        QCOMPARE(m.text(0, ColName), QStringLiteral("a.txt"));
        QCOMPARE(m.text(2, ColName), QStringLiteral("C.txt"));
    }
};

QTEST_GUILESS_MAIN(TestFolderScan)
#include "tst_folderscan.moc"
