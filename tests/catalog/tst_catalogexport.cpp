// catalog export gives, byte for byte, the document a direct export of the folder gave when the
// snapshot was taken: every format, with the export's options and the snapshot's filters.
#include "CatalogTest.h"
#include "TempTree.h"

#include "export/ExportDocument.h"
#include "export/Formats.h"
#include "settings/StringTable.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStandardPaths>
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
        else if (a == QLatin1String("-M"))
            o.mp3Info = o.mediaInfo = true;
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

// The direct export by treelan-cli (the media readers run beside it), at `time`.
Run exportDirect(const QString& folder, const QString& target, const QString& format,
                 const QStringList& args, const QDateTime& time) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SOURCE_DATE_EPOCH"), QString::number(time.toSecsSinceEpoch()));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TREELAN_CLI), QStringList{QStringLiteral("export"), QStringLiteral("-q"),
                                                     QStringLiteral("-f"), format} +
                                             args + QStringList{folder, target});
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

} // namespace

class CatalogExportTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        LoadDefaultStrings();
        // Media files of every kind the readers know, made by Debian's encoders.
        for (const char* tool :
             {"ffmpeg", "exiftool", "lame", "flac", "oggenc", "opusenc", "wavpack", "convert"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
                m_noCorpus = QStringLiteral("%1 is not installed").arg(QLatin1String(tool));
                return;
            }
        QProcess make;
        make.start(QStringLiteral(TREELAN_SOURCE_DIR "/scripts/make-media-corpus.sh"),
                   {m_corpusDir.path()});
        QVERIFY(make.waitForFinished(300000));
        QVERIFY2(make.exitCode() == 0, make.readAllStandardError().constData());
    }

    // The corpus's media files (not its damaged copies) into the tree's folder "media".
    void addCorpus(TempTree& t) {
        const QDir corpus(m_corpusDir.path());
        for (const QString& name : corpus.entryList(QDir::Files)) {
            if (name.endsWith(QLatin1String(".wav")) && name.startsWith(QLatin1String("src")))
                continue; // the encoders' sources
            const QString to = t.path(QStringLiteral("media/") + name);
            QDir().mkpath(t.path(QStringLiteral("media")));
            QVERIFY(QFile::copy(corpus.filePath(name), to));
        }
        QVERIFY(QDir(t.path(QStringLiteral("media"))).count() > 10);
    }

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
        // Media details kept by add -M: every form that shows them, and -m alone from the same
        // snapshot (an MP3 of changing bit rate without a Xing header: -m leaves it empty).
        const QStringList media{"-M"}, mediaExport{"-r", "-M"};
        for (const char* format : {"json", "csv", "tsv", "xml", "ncdu", "html", "mht"})
            QTest::newRow(qPrintable(QStringLiteral("%1, media").arg(QLatin1String(format))))
                << format << media << mediaExport;
        QTest::newRow("json, mp3 of a media snapshot")
            << "json" << media << QStringList{"-r", "-m"};
        QTest::newRow("xml, media, totals")
            << "xml" << media << QStringList{"-r", "-M", "--totals"};
        QTest::newRow("csv, media, a folder excluded")
            << "csv" << media << QStringList{"-r", "-M", "--exclude", "music/"};
    }

    void roundTrip() {
        QFETCH(QString, format);
        QFETCH(QStringList, addArgs);
        QFETCH(QStringList, exportArgs);
        TempTree t;
        const RemoveAfter cleanup{t.root()};
        makeTree(t);
        const bool media = addArgs.contains(QLatin1String("-M"));
        if (media) {
            if (!m_noCorpus.isEmpty()) QSKIP(qPrintable(m_noCorpus));
            addCorpus(t);
        }
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
        if (media) {
            const QString target = home.path() + QStringLiteral("/direct.out");
            const Run direct =
                exportDirect(t.root(), target, format, exportArgs,
                             QDateTime::fromString(snapshot[u"started"].toString(), Qt::ISODate));
            QVERIFY2(direct.status == 0, direct.all().constData());
            QVERIFY(readAll(target).size() > 100);
            QCOMPARE(readAll(fromCatalog), readAll(target));
            return;
        }
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
        QTest::newRow("media not read")
            << QStringList{"-m"} << QStringList{"-r", "-M"} << QByteArray("-M: snapshot 1");
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

    // search --json shows what a direct export -M says of each file: the same fields by the same
    // names, and the playing time and bit rate behind its numbers; a later add of the unchanged
    // tree writes nothing for them.
    void searchShowsMedia() {
        if (!m_noCorpus.isEmpty()) QSKIP(qPrintable(m_noCorpus));
        TempTree t;
        const RemoveAfter cleanup{t.root()};
        addCorpus(t);
        QTemporaryDir home;
        const QString db = home.path() + QStringLiteral("/c.db");
        for (int round = 0; round < 2; ++round) {
            const Run added = catalog(
                db, {QStringLiteral("add"), QStringLiteral("-q"), QStringLiteral("-M"), t.root()});
            QVERIFY2(added.status == 0, added.all().constData());
        }
        const QList<QByteArray> snapshots =
            catalog(db, {QStringLiteral("list"), QStringLiteral("--json")}).out.split('\n');
        QCOMPARE(QJsonDocument::fromJson(snapshots.value(1)).object()[u"written"].toInt(), 0);
        QVERIFY(QJsonDocument::fromJson(snapshots.value(1)).object()[u"media"].toBool());

        const QString target = home.path() + QStringLiteral("/direct.json");
        const Run direct = exportDirect(t.root(), target, QStringLiteral("json"),
                                        {QStringLiteral("-r"), QStringLiteral("-M")},
                                        QDateTime::currentDateTimeUtc());
        QVERIFY2(direct.status == 0, direct.all().constData());
        QHash<QString, QJsonObject> expected; // by name: the export's media object
        QList<QJsonObject> todo{
            QJsonDocument::fromJson(readAll(target)).object()[u"root"].toObject()};
        while (!todo.isEmpty()) {
            const QJsonObject e = todo.takeLast();
            for (const QJsonValue c : e[u"children"].toArray())
                todo << c.toObject();
            if (e[u"kind"].toString() == QLatin1String("file"))
                expected.insert(e[u"name"].toString(), e[u"media"].toObject());
        }
        const Run found = catalog(
            db, {QStringLiteral("search"), QStringLiteral("--json"), QStringLiteral("f:*")});
        QCOMPARE(found.status, 0);
        int withFields = 0, timed = 0, hits = 0;
        for (const QByteArray& line : found.out.split('\n')) {
            if (line.isEmpty()) continue;
            ++hits;
            const QJsonObject hit = QJsonDocument::fromJson(line).object();
            const QString name = hit[u"path"].toString().section(QLatin1Char('/'), -1);
            QVERIFY2(expected.contains(name), qPrintable(name));
            const QJsonObject want = expected.value(name);
            QJsonObject fields = hit[u"media"].toObject();
            QJsonObject wantFields = want;
            wantFields.remove(QStringLiteral("durationSeconds"));
            wantFields.remove(QStringLiteral("bitrateKbps"));
            wantFields.remove(QStringLiteral("vbr"));
            QCOMPARE(fields, wantFields);
            withFields += fields.isEmpty() ? 0 : 1;
            // "00:00:07" and "64 kbps" against the export's numbers.
            const QStringList hms = hit[u"duration"].toString().split(QLatin1Char(':'));
            const int seconds =
                hms.size() == 3 ? hms[0].toInt() * 3600 + hms[1].toInt() * 60 + hms[2].toInt() : -1;
            QCOMPARE(seconds,
                     want.contains(u"durationSeconds") ? want[u"durationSeconds"].toInt() : -1);
            QCOMPARE(hit[u"bitrate"].toString().section(QLatin1Char(' '), 0, 0).toInt(),
                     want[u"bitrateKbps"].toInt());
            timed += seconds > 0 ? 1 : 0;
        }
        QCOMPARE(hits, expected.size());
        QVERIFY2(withFields >= 10 && timed >= 10,
                 qPrintable(QStringLiteral("%1 with fields, %2 timed").arg(withFields).arg(timed)));
    }

private:
    QTemporaryDir m_corpusDir;
    QString m_noCorpus; // why there is no corpus
};

QTEST_GUILESS_MAIN(CatalogExportTest)
#include "tst_catalogexport.moc"
