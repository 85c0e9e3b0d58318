#include "TempTree.h"
#include "TreelanConfig.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Run cli(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(TREELAN_CLI), args);
    if (!p.waitForFinished(60000)) qFatal("treelan-cli did not finish");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// Runs treelan-cli through the shell so that arguments reach it as raw bytes: `rawPath` may hold
// bytes that are not UTF-8, which QProcess could not pass.
Run cliWithRawPath(const QStringList& before, const QByteArray& rawPath, const QStringList& after) {
    QString escaped; // printf %b octal escapes for every byte
    for (const char c : rawPath)
        escaped += QStringLiteral("\\0%1").arg(uint(uchar(c)), 3, 8, QLatin1Char('0'));
    QStringList args{QStringLiteral("-c"),
                     QStringLiteral("exec \"$0\" \"$@\" \"$(printf '%b' '%1')\" %2")
                         .arg(escaped, after.join(QLatin1Char(' '))),
                     QStringLiteral(TREELAN_CLI)};
    args += before;
    QProcess p;
    p.start(QStringLiteral("/bin/sh"), args);
    if (!p.waitForFinished(60000)) qFatal("treelan-cli did not finish");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class CliTest : public QObject {
    Q_OBJECT
private slots:
    void statuses_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("help") << QStringList{"--help"} << 0
                              << QByteArray("Usage: treelan-cli export");
        QTest::newRow("export help")
            << QStringList{"export", "-h"} << 0 << QByteArray("--template NAME");
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QByteArray("treelan-cli " TREELAN_VERSION);
        QTest::newRow("no command") << QStringList{} << 2 << QByteArray("Usage");
        QTest::newRow("unknown command")
            << QStringList{"frobnicate"} << 2 << QByteArray("unknown command");
        QTest::newRow("missing output")
            << QStringList{"export", "."} << 2 << QByteArray("FOLDER and OUTPUT");
        QTest::newRow("unknown option")
            << QStringList{"export", "--bogus", ".", "-"} << 2 << QByteArray("bogus");
        QTest::newRow("unknown format")
            << QStringList{"export", "-f", "pdf", ".", "-"} << 2 << QByteArray("pdf");
        QTest::newRow("template without xslt")
            << QStringList{"export", "-f", "xml", "-t", "x", ".", "-"} << 2
            << QByteArray("--template");
        QTest::newRow("not a folder") << QStringList{"export", "/no/such/folder", "-"} << 2
                                      << QByteArray("/no/such/folder: not a folder");
        QTest::newRow("target folder missing") << QStringList{"export", ".", "/no/such/dir/out.xml"}
                                               << 1 << QByteArray("/no/such/dir/out.xml");
        QTest::newRow("bom with xml")
            << QStringList{"export", "--bom", ".", "/tmp/never.xml"} << 2 << QByteArray("--bom");
        QTest::newRow("resources missing")
            << QStringList{"export", "--resources", "/no/res", ".", "/tmp/never.mht"} << 1
            << QByteArray("/no/res/tree.css");
    }
    void statuses() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QByteArray, said);
        const Run r = cli(args);
        QCOMPARE(r.status, status);
        QVERIFY2((r.out + r.err).contains(said), (r.out + r.err).constData());
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/never.mht")));
    }

    void formatsAndRoot_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QByteArray>("begins");
        QTest::newRow("mht by name")
            << QStringList{} << "out.mht" << QByteArray("MIME-Version: 1.0\r\n");
        QTest::newRow("mhtml by name")
            << QStringList{} << "out.MHTML" << QByteArray("MIME-Version: 1.0\r\n");
        QTest::newRow("xml by default")
            << QStringList{} << "out.txt"
            << QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<folders");
        QTest::newRow("xslt with template")
            << QStringList{"-t", "table"} << "out.xml"
            << QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                          "<?xml-stylesheet type=\"text/xsl\" href=\"table.xsl\"?>\r\n");
        // The stylesheet line adds ".xsl" only to a NAME that does not end in it, exactly.
        QTest::newRow("xslt, template named with its ending")
            << QStringList{"-t", "tree.xsl"} << "out.xml"
            << QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                          "<?xml-stylesheet type=\"text/xsl\" href=\"tree.xsl\"?>\r\n");
        QTest::newRow("xslt, template ending in upper-case .XSL")
            << QStringList{"-t", "Tree.XSL"} << "out.xml"
            << QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                          "<?xml-stylesheet type=\"text/xsl\" href=\"Tree.XSL.xsl\"?>\r\n");
        QTest::newRow("xslt without template")
            << QStringList{"-f", "xslt"} << "out.xml"
            << QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<folders");
    }
    void formatsAndRoot() {
        QFETCH(QStringList, options);
        QFETCH(QString, output);
        QFETCH(QByteArray, begins);
        TempTree t;
        t.createFile(QStringLiteral("sub/a.txt"), "a");
        TempTree out;
        const QString target = out.path(output);
        // The folder without its trailing "/" is written with it.
        QString folder = t.root();
        folder.chop(1);
        const Run r = cli(QStringList{"export", "-q"} + options + QStringList{folder, target});
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.isEmpty());
        const QByteArray doc = readAll(target);
        QVERIFY2(doc.startsWith(begins), doc.left(200).constData());
        QVERIFY(doc.contains(t.root().toUtf8()));
    }

    // The new formats by name and by extension; each document begins its own way and holds the
    // file of the tree.
    void machineFormats_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QByteArray>("begins");
        QTest::addColumn<QByteArray>("holds");
        QTest::newRow("json by extension")
            << QStringList{} << "out.JSON" << QByteArray("{\"format\":\"treelan-export\"")
            << QByteArray("\"path\":\"sub/a.txt\"");
        QTest::newRow("ncdu by name")
            << QStringList{"-f", "ncdu"} << "out.json"
            << QByteArray("[1,2,{\"progname\":\"treelan\"") << QByteArray("{\"name\":\"a.txt\"");
        QTest::newRow("csv by extension")
            << QStringList{} << "out.csv"
            << QByteArray("path,folder,name,size,modified,duration,bitrate,type\r\n")
            << QByteArray("\r\nsub/a.txt,sub/,a.txt,1,");
        QTest::newRow("tsv by extension")
            << QStringList{} << "out.tsv" << QByteArray("path\tfolder\tname\t")
            << QByteArray("\r\nsub/a.txt\tsub/\ta.txt\t1\t");
        QTest::newRow("csv with bom") << QStringList{"--bom"} << "out.csv"
                                      << QByteArray("\xEF\xBB\xBFpath,") << QByteArray("a.txt");
        QTest::newRow("name wins over extension")
            << QStringList{"-f", "csv"} << "out.json" << QByteArray("path,") << QByteArray("a.txt");
    }
    void machineFormats() {
        QFETCH(QStringList, options);
        QFETCH(QString, output);
        QFETCH(QByteArray, begins);
        QFETCH(QByteArray, holds);
        TempTree t;
        t.createFile(QStringLiteral("sub/a.txt"), "a");
        TempTree out;
        const QString target = out.path(output);
        const Run r =
            cli(QStringList{"export", "-q", "-r"} + options + QStringList{t.root(), target});
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.isEmpty());
        const QByteArray doc = readAll(target);
        QVERIFY2(doc.startsWith(begins), doc.left(200).constData());
        QVERIFY2(doc.contains(holds), doc.constData());
    }

    // The root folder's own name is taken as the bytes it has on disk, and shown decoded like
    // any other name.
    void rootNameNotUtf8_data() {
        QTest::addColumn<QByteArray>("rawName");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("listing"); // else the export
        const struct {
            const char* row;
            QByteArray raw;
            QString shown;
        } names[] = {{"Latin-1 e-acute", "caf\xe9", QStringLiteral("caf\u00e9")},
                     {"lone 0xFF", "\xff", QStringLiteral("\u00ff")},
                     {"cut UTF-8 sequence", "x\xc3", QStringLiteral("x\u00c3")},
                     {"valid UTF-8", "caf\xc3\xa9", QStringLiteral("caf\u00e9")}};
        for (const auto& n : names) {
            QTest::addRow("%s, list", n.row) << n.raw << n.shown << true;
            QTest::addRow("%s, export", n.row) << n.raw << n.shown << false;
        }
    }
    void rootNameNotUtf8() {
        QFETCH(QByteArray, rawName);
        QFETCH(QString, shown);
        QFETCH(bool, listing);
        TempTree t;
        const QByteArray root = QFile::encodeName(t.root()) + rawName;
        QVERIFY(::mkdir(root.constData(), 0755) == 0);
        const int fd = ::open((root + "/inner.txt").constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        const Run r = listing ? cliWithRawPath({"list", "--full-path"}, root, {})
                              : cliWithRawPath({"export", "-q", "-f", "xml"}, root, {"-"});
        QVERIFY2(r.status == 0, r.err.constData());
        const QByteArray shownRoot = (t.root() + shown + QLatin1Char('/')).toUtf8();
        if (listing)
            QVERIFY2(r.out.startsWith(shownRoot + "inner.txt\t0 kB\t") && r.out.count('\n') == 1,
                     r.out.constData());
        else
            QVERIFY2(r.out.contains("<folders path=\"" + shownRoot +
                                    "\">\r\n\r\n<file title=\"inner.txt\""),
                     r.out.constData());
    }

    // SOURCE_DATE_EPOCH fixes the export time: every format comes out the same a second later.
    void fixedExportTime() {
        TempTree t;
        t.createFile(QStringLiteral("a.txt"), "a");
        const QStringList formats{"xml", "xslt", "mht", "html", "json", "ncdu", "csv", "tsv"};
        auto exportAll = [&] {
            QByteArrayList documents;
            for (const QString& f : formats) {
                QProcess p;
                QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                env.insert(QStringLiteral("SOURCE_DATE_EPOCH"), QStringLiteral("1000000000"));
                p.setProcessEnvironment(env);
                p.start(QStringLiteral(TREELAN_CLI), {"export", "-f", f, t.root(), "-"});
                if (!p.waitForFinished(60000)) qFatal("treelan-cli did not finish");
                documents << p.readAllStandardOutput();
            }
            return documents;
        };
        const QByteArrayList first = exportAll();
        QTest::qWait(1100);
        QCOMPARE(exportAll(), first);
        QVERIFY(first[formats.indexOf(QStringLiteral("json"))].contains("2001-09-09T01:46:40Z"));
    }

    void standardOutputAndSelections() {
        TempTree t;
        t.createFile(QStringLiteral("new/b.txt"), "b");
        t.createFile(QStringLiteral("b.txt"), "b");
        t.createFile(QStringLiteral("Old/a.txt"), "a");
        const Run r =
            cli({"export", "-r", "--only", "new/b.txt", "--exclude", "Old/", t.root(), "-"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains("<folder title=\"new\">\r\n<file title=\"b.txt\""));
        QCOMPARE(r.out.count("<file "), 1);
        QVERIFY(!r.out.contains("Old"));
    }

    void stringFileChangesPageTexts() {
        TempTree t;
        t.createFile(QStringLiteral("treelan.ini"),
                     "[GUI_Strings]\r\n101=Verzeichnis\r\n170=Alle zeigen\r\n");
        const Run r = cli({"export", "-f", "mht", "--strings",
                           t.path(QStringLiteral("treelan.ini")), t.root(), "-"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains("<title>Verzeichnis " + t.root().toUtf8() + "</title>"));
        QVERIFY(r.out.contains(">Alle zeigen</A>"));
        QVERIFY(
            r.out.contains("onclick=\"HideAll('UL')\"></A>")); // a missing key gives an empty text
    }

    void warnsAboutUnreadableFolders() {
        if (::geteuid() == 0) QSKIP("permissions do not apply to root");
        TempTree t;
        t.createDir(QStringLiteral("closed"));
        t.setMode(QStringLiteral("closed"), 0);
        const Run loud = cli({"export", "-r", t.root(), "-"});
        const Run quiet = cli({"export", "-r", "-q", t.root(), "-"});
        t.setMode(QStringLiteral("closed"), 0755);
        QCOMPARE(loud.status, 0);
        QVERIFY(loud.err.contains(t.path(QStringLiteral("closed/")).toUtf8()));
        QVERIFY(quiet.err.isEmpty());
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
