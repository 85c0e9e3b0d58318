// catalog export gives, byte for byte, the document a direct export of the folder gave when the
// snapshot was taken: every format, with the export's options and the snapshot's filters.
#include "CatalogTest.h"
#include "TempTree.h"

#include "export/ExportDocument.h"
#include "export/Formats.h"
#include "settings/StringTable.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace catalogtest;
using namespace treelan;

namespace {

// Folders, files, MP3 files, an empty folder, a dangling link, a FIFO, a hidden file and names
// that are not UTF-8, hold a newline or a tab, are 255 bytes long, or read alike.
void makeTree(TempTree& t) {
    t.createFile(QStringLiteral("a.txt"), "alpha");
    t.createFile(QStringLiteral("B.txt"), "bravo!");
    t.createFile(QStringLiteral("skip.tmp"), "t");
    t.createFile(QStringLiteral(".hidden"), "h");
    t.createFile(QStringLiteral("sub/deep/z.dat"), QByteArray(5000, 'z'));
    t.createFile(QStringLiteral("sub/y.txt"), "why");
    t.createDir(QStringLiteral("empty"));
    for (const char* mp3 : {"cbr-44k-stereo.mp3", "cbr-8k-mono.mp3"}) {
        const QString to = t.path(QStringLiteral("music/") + QLatin1String(mp3));
        QDir().mkpath(t.path(QStringLiteral("music")));
        QVERIFY(QFile::copy(QStringLiteral(TREELAN_TEST_DATA "/mp3/") + QLatin1String(mp3), to));
        QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
        t.setTime(QStringLiteral("music/") + QLatin1String(mp3), TempTree::defaultTime());
    }
    t.createSymlink(QStringLiteral("dangling"), QStringLiteral("/no/such/target"));
    t.createFifo(QStringLiteral("pipe"));
    t.createDir(QStringLiteral("odd"));
    t.createRawFile(QStringLiteral("odd"), "latin-\xe9", "1");
    t.createRawFile(QStringLiteral("odd"), "latin-\xc3\xa9", "22");
    t.createRawFile(QStringLiteral("odd"), "bad-\xff\xfe", "333");
    t.createRawFile(QStringLiteral("odd"), "line\nbreak", "4444");
    t.createRawFile(QStringLiteral("odd"), "tab\there", "55555");
    t.createRawFile(QStringLiteral("odd"), QByteArray(255, 'n'), "6");
    t.setTime(QStringLiteral("odd"), TempTree::defaultTime());
}

// The export options the arguments give, as the command line reads them.
void applyArguments(const QStringList& args, ExportRequest& r) {
    ExportOptions& o = r.options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const auto next = [&] { return args.value(++i).toUtf8(); };
        if (a == QLatin1String("-r"))
            o.browseSubfolders = true;
        else if (a == QLatin1String("-m"))
            o.mp3Info = true;
        else if (a == QLatin1String("--totals"))
            r.folderTotals = true;
        else if (a == QLatin1String("--bom"))
            r.byteOrderMark = true;
        else if (a == QLatin1String("--only"))
            o.selectedOnly = true, o.selected.add(next());
        else if (a == QLatin1String("--exclude"))
            o.removed.add(next());
        else if (a == QLatin1String("--exclude-pattern"))
            o.walk.excludePatterns.emplace_back(next());
        else if (a == QLatin1String("--no-hidden"))
            o.walk.noHidden = true;
        else if (a == QLatin1String("--max-depth"))
            o.walk.maxDepth = next().toInt();
        else
            qFatal("unknown argument %s", qPrintable(a));
    }
}

} // namespace

class CatalogExportTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { LoadDefaultStrings(); }

    void roundTrip_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QStringList>("addArgs");
        QTest::addColumn<QStringList>("exportArgs");
        const QStringList recursive{QStringLiteral("-r")};
        for (const ExportFormatInfo& f : ExportFormats())
            QTest::newRow(f.name) << QString::fromLatin1(f.name) << QStringList() << recursive;
        QTest::newRow("json, mp3") << "json" << QStringList{"-m"} << QStringList{"-r", "-m"};
        QTest::newRow("mht, mp3") << "mht" << QStringList{"-m"} << QStringList{"-r", "-m"};
        QTest::newRow("xml, not recursive") << "xml" << QStringList() << QStringList();
        QTest::newRow("xml, totals, mp3")
            << "xml" << QStringList{"-m"} << QStringList{"-r", "-m", "--totals"};
        QTest::newRow("xml, only a folder")
            << "xml" << QStringList() << QStringList{"-r", "--only", "sub/"};
        QTest::newRow("ncdu, a folder excluded")
            << "ncdu" << QStringList() << QStringList{"-r", "--exclude", "odd/"};
        QTest::newRow("csv, filters of the snapshot")
            << "csv" << QStringList{"--exclude-pattern", "*.tmp", "--no-hidden"}
            << QStringList{"-r", "--bom"};
        QTest::newRow("html, filters of both")
            << "html" << QStringList{"--exclude-pattern", "*.tmp"}
            << QStringList{"-r", "--exclude-pattern", "*.mp3"};
        QTest::newRow("json, depth")
            << "json" << QStringList{"--max-depth", "2"} << QStringList{"-r", "--max-depth", "1"};
    }

    void roundTrip() {
        QFETCH(QString, format);
        QFETCH(QStringList, addArgs);
        QFETCH(QStringList, exportArgs);
        TempTree t;
        const RemoveAfter cleanup{t.root()};
        makeTree(t);
        QTemporaryDir home;
        const QString db = home.path() + QStringLiteral("/c.db");
        const Run added = catalog(
            db, QStringList{QStringLiteral("add"), QStringLiteral("-q"), t.root()} + addArgs);
        QVERIFY2(added.status == 0, added.all().constData());
        const QString fromCatalog = home.path() + QStringLiteral("/catalog.out");
        const Run exported =
            catalog(db, QStringList{QStringLiteral("export"), QStringLiteral("1"), fromCatalog,
                                    QStringLiteral("-f"), format, QStringLiteral("-q")} +
                            exportArgs);
        QVERIFY2(exported.status == 0, exported.all().constData());

        // The direct export of the same build, at the snapshot's time.
        const Run listed = catalog(db, {QStringLiteral("list"), QStringLiteral("--json")});
        const QJsonObject snapshot =
            QJsonDocument::fromJson(listed.out.split('\n').first()).object();
        ExportRequest r;
        r.rootPath = RootPath::fromBytes(QFile::encodeName(t.root()));
        r.targetPath = home.path() + QStringLiteral("/direct.out");
        r.format = FindExportFormat(format)->format;
        r.resourceDir = QStringLiteral(TREELAN_RESOURCE_DIR);
        r.templateRequest = [] { return QString(); };
        r.exportTime = QDateTime::fromString(snapshot[u"started"].toString(), Qt::ISODate);
        QVERIFY(r.exportTime.isValid());
        applyArguments(addArgs, r);
        applyArguments(exportArgs, r);
        if (!exportArgs.contains(QLatin1String("-m"))) r.options.mp3Info = false;
        WriteExportDocument(r);
        const QByteArray direct = readAll(r.targetPath);
        QVERIFY(direct.size() > 100);
        QCOMPARE(readAll(fromCatalog), direct);
    }

    // What a snapshot cannot serve is refused, naming the option.
    void refused_data() {
        QTest::addColumn<QStringList>("addArgs");
        QTest::addColumn<QStringList>("exportArgs");
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("mp3 not read")
            << QStringList() << QStringList{"-r", "-m"} << QByteArray("-m: snapshot 1");
        QTest::newRow("deeper than kept")
            << QStringList{"--max-depth", "1"} << QStringList{"-r", "--max-depth", "3"}
            << QByteArray("--max-depth");
        QTest::newRow("deeper, unbounded")
            << QStringList{"--max-depth", "1"} << QStringList{"-r"} << QByteArray("--max-depth");
        QTest::newRow("no such snapshot")
            << QStringList() << QStringList{"-r", "--db-snapshot-7"} << QByteArray();
    }
    void refused() {
        QFETCH(QStringList, addArgs);
        QFETCH(QStringList, exportArgs);
        QFETCH(QByteArray, said);
        TempTree t;
        const RemoveAfter cleanup{t.root()};
        makeTree(t);
        QTemporaryDir home;
        const QString db = home.path() + QStringLiteral("/c.db");
        QCOMPARE(catalog(db, QStringList{QStringLiteral("add"), QStringLiteral("-q"), t.root()} +
                                 addArgs)
                     .status,
                 0);
        const QString out = home.path() + QStringLiteral("/out.json");
        const QString snapshot = said.isEmpty() ? QStringLiteral("7") : QStringLiteral("1");
        exportArgs.removeAll(QStringLiteral("--db-snapshot-7"));
        const Run r =
            catalog(db, QStringList{QStringLiteral("export"), snapshot, out} + exportArgs);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(said.isEmpty() ? QByteArray("no snapshot 7") : said),
                 r.err.constData());
        QVERIFY(!QFile::exists(out));
    }
};

QTEST_GUILESS_MAIN(CatalogExportTest)
#include "tst_catalogexport.moc"
