// What the walk leaves out (patterns, hidden names, depth, file systems), against find on the
// same fixture.
#include "TempTree.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>

namespace {

QByteArrayList run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
    QByteArrayList lines = p.readAllStandardOutput().split('\n');
    QByteArrayList out;
    for (QByteArray& line : lines) {
        if (line.endsWith('\r')) line.chop(1);
        if (!line.isEmpty()) out << line;
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Every file path the listing shows, with FOLDER in front.
QByteArrayList listed(const QString& root, const QStringList& options) {
    return run(QStringLiteral(TREELAN_CLI),
               QStringList{"list", "-r", "--full-path", "--columns", ""} + options +
                   QStringList{root});
}

// Files, folders and hidden names at three depths.
void buildTree(TempTree& t) {
    for (const char* path : {"top.mp3", "top.tmp", ".hidden", "a/one.mp3", "a/one.txt",
                             "a/b/two.mp3", "a/b/deep/three.mp3", "a/.cache/c.mp3", "skip/s.mp3",
                             "x/skip/s2.mp3", "x/deep/d.txt", "x/[br]/k.mp3"})
        t.createFile(QString::fromLatin1(path), "x");
    t.createDir(QStringLiteral("empty"));
}

} // namespace

class FiltersTest : public QObject {
    Q_OBJECT
private slots:
    void agreesWithFind_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("find"); // after the root; "@" stands for it
        QTest::newRow("nothing left out") << QStringList{} << QStringList{"-type", "f"};
        QTest::newRow("exclude by name")
            << QStringList{"--exclude-pattern", "*.tmp"}
            << QStringList{"-name", "*.tmp", "-prune", "-o", "-type", "f", "-print"};
        QTest::newRow("excluded folder is not entered")
            << QStringList{"--exclude-pattern", "skip"}
            << QStringList{"-name", "skip", "-prune", "-o", "-type", "f", "-print"};
        QTest::newRow("exclude by relative path")
            << QStringList{"--exclude-pattern", "a/b"}
            << QStringList{"-path", "@a/b", "-prune", "-o", "-type", "f", "-print"};
        QTest::newRow("** spans folders")
            << QStringList{"--exclude-pattern", "**/deep"}
            << QStringList{"-name", "deep", "-prune", "-o", "-type", "f", "-print"};
        QTest::newRow("escaped set characters")
            << QStringList{"--exclude-pattern", "\\[br]"}
            << QStringList{"-name", "\\[br]", "-prune", "-o", "-type", "f", "-print"};
        QTest::newRow("two exclusions")
            << QStringList{"--exclude-pattern", "*.tmp", "--exclude-pattern", "[ab]"}
            << QStringList{"(", "-name",  "*.tmp", "-o",    "-name", "[ab]",
                           ")", "-prune", "-o",    "-type", "f",     "-print"};
        QTest::newRow("include by name") << QStringList{"--include-pattern", "*.mp3"}
                                         << QStringList{"-type", "f", "-name", "*.mp3"};
        QTest::newRow("include by path")
            << QStringList{"--include-pattern", "a/*/*.mp3"}
            << QStringList{"-type", "f", "-path", "@a/[!/]*/[!/]*.mp3", "!", "-path", "@a/*/*/*"};
        QTest::newRow("no hidden names")
            << QStringList{"--no-hidden"}
            << QStringList{"-name", ".*", "-prune", "-o", "-type", "f", "-print"};
        QTest::newRow("depth 0: the root's own files")
            << QStringList{"--max-depth", "0"} << QStringList{"-maxdepth", "1", "-type", "f"};
        QTest::newRow("depth 1") << QStringList{"--max-depth", "1"}
                                 << QStringList{"-maxdepth", "2", "-type", "f"};
        QTest::newRow("depth with exclusion and hidden names")
            << QStringList{"--max-depth", "2", "--exclude-pattern", "b", "--no-hidden"}
            << QStringList{"-maxdepth", "3", "(",      "-name", "b",     "-o", "-name",
                           ".*",        ")", "-prune", "-o",    "-type", "f",  "-print"};
    }
    void agreesWithFind() {
        QFETCH(QStringList, options);
        QFETCH(QStringList, find);
        TempTree t;
        buildTree(t);
        for (QString& arg : find)
            arg.replace(QLatin1Char('@'), t.root());
        QCOMPARE(listed(t.root(), options),
                 run(QStringLiteral("find"), QStringList{t.root()} + find));
    }

    // A folder on another file system, reached through a link, is not entered.
    void oneFileSystem_data() {
        QTest::addColumn<bool>("stay");
        QTest::newRow("--one-file-system") << true;
        QTest::newRow("without") << false;
    }
    void oneFileSystem() {
        QFETCH(bool, stay);
        TempTree t;
        t.createFile(QStringLiteral("here.txt"), "h");
        QTemporaryDir other(QStringLiteral("/dev/shm/treelan-XXXXXX"));
        struct stat a, b;
        if (!other.isValid() || ::stat(QFile::encodeName(t.root()).constData(), &a) != 0 ||
            ::stat(QFile::encodeName(other.path()).constData(), &b) != 0 || a.st_dev == b.st_dev)
            QSKIP("no second file system at /dev/shm");
        QFile f(other.path() + QStringLiteral("/there.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        t.createSymlink(QStringLiteral("elsewhere"), other.path());
        QStringList find{"-L", t.root()};
        if (stay) find << "-xdev";
        find << "-type"
             << "f";
        const QByteArrayList got =
            listed(t.root(), stay ? QStringList{"--one-file-system"} : QStringList{});
        QCOMPARE(got, run(QStringLiteral("find"), find));
        QCOMPARE(got.size(), stay ? 1 : 2);
    }

    // The export walks what the listing walks.
    void exportLeavesOutTheSame() {
        TempTree t;
        buildTree(t);
        const QByteArrayList xml =
            run(QStringLiteral(TREELAN_CLI),
                {"export", "-q", "-r", "-f", "xml", "--exclude-pattern", "skip",
                 "--exclude-pattern", "*.tmp", "--no-hidden", "--max-depth", "1", t.root(), "-"});
        const QByteArray all = xml.join('\n');
        QCOMPARE(all.count("<file "), 3); // top.mp3, a/one.mp3, a/one.txt
        QVERIFY(!all.contains("skip") && !all.contains(".tmp") && !all.contains(".hidden"));
        QVERIFY(all.contains("<folder title=\"b\">")); // at depth 2: written, not entered
        QVERIFY(!all.contains("two.mp3"));
    }

    // --only and --exclude PATH as a user may spell it, against the files the export then holds.
    void pathSpellings_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("path"); // "@" stands for the root's absolute path
        QTest::addColumn<bool>("viaLink"); // FOLDER given as a link to the root
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArrayList>("files");
        QTest::addColumn<bool>("warned");
        const QByteArrayList all{"sub/y.txt", "z.txt"};
        QTest::newRow("name") << "--only"
                              << "z.txt" << false << 0 << QByteArrayList{"z.txt"} << false;
        QTest::newRow("./ in front") << "--only"
                                     << "./z.txt" << false << 0 << QByteArrayList{"z.txt"} << false;
        QTest::newRow("doubled slash and .")
            << "--only"
            << "sub//./y.txt" << false << 0 << QByteArrayList{"sub/y.txt"} << false;
        QTest::newRow("folder without /")
            << "--only"
            << "sub" << false << 0 << QByteArrayList{"sub/y.txt"} << false;
        QTest::newRow("absolute inside")
            << "--only"
            << "@z.txt" << false << 0 << QByteArrayList{"z.txt"} << false;
        QTest::newRow("absolute under the real path")
            << "--only"
            << "@z.txt" << true << 0 << QByteArrayList{"z.txt"} << false;
        QTest::newRow("the folder itself") << "--only"
                                           << "." << false << 0 << all << false;
        QTest::newRow("names nothing") << "--only"
                                       << "no-such.txt" << false << 0 << QByteArrayList{} << true;
        QTest::newRow("a file as a folder") << "--only"
                                            << "z.txt/" << false << 0 << QByteArrayList{} << true;
        QTest::newRow("above the folder") << "--only"
                                          << "../x/" << false << 2 << QByteArrayList{} << false;
        QTest::newRow("absolute outside")
            << "--only"
            << "/etc/passwd" << false << 2 << QByteArrayList{} << false;
        QTest::newRow("exclude ./ in front")
            << "--exclude"
            << "./z.txt" << false << 0 << QByteArrayList{"sub/y.txt"} << false;
        QTest::newRow("exclude names nothing") << "--exclude"
                                               << "no-such" << false << 0 << all << true;
        QTest::newRow("exclude outside") << "--exclude"
                                         << "/etc/" << false << 2 << QByteArrayList{} << false;
    }
    void pathSpellings() {
        QFETCH(QString, option);
        QFETCH(QString, path);
        QFETCH(bool, viaLink);
        QFETCH(int, status);
        QFETCH(QByteArrayList, files);
        QFETCH(bool, warned);
        TempTree t;
        t.createFile(QStringLiteral("tree/z.txt"), "z");
        t.createFile(QStringLiteral("tree/sub/y.txt"), "y");
        t.createSymlink(QStringLiteral("link"), t.path(QStringLiteral("tree")));
        const QString real = t.path(QStringLiteral("tree/"));
        path.replace(QLatin1Char('@'), real);
        QProcess p;
        p.start(QStringLiteral(TREELAN_CLI),
                {"export", "-r", "-f", "csv", option, path,
                 viaLink ? t.path(QStringLiteral("link")) : real, "-"});
        QVERIFY(p.waitForFinished(60000));
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), status);
        QCOMPARE(err.contains("warning"), warned);
        if (status == 2) QVERIFY2(err.contains(QFile::encodeName(path)), err.constData());
        if (warned) QVERIFY2(err.contains(QFile::encodeName(path)), err.constData());
        QByteArrayList got;
        for (const QByteArray& line : p.readAllStandardOutput().split('\n').mid(1))
            if (!line.isEmpty()) got << line.left(line.indexOf(','));
        QCOMPARE(got, files);
    }

    // Two values of one option that are not UTF-8 and decode alike for display stay apart, and
    // so does the folder's own name.
    void undecodableArgumentsKeepTheirBytes() {
        TempTree t;
        t.createDir(QStringLiteral("tree"));
        for (const char* name : {"a\xe7", "a\xe8", "a\xe9"})
            t.createRawFile(QStringLiteral("tree"), QByteArray(name), "x");
        const QByteArray root = QFile::encodeName(t.root());
        QCOMPARE(std::rename((root + "tree").constData(), (root + "tr\xe9"
                                                                  "e")
                                                              .constData()),
                 0);
        QProcess p;
        p.start(QStringLiteral("/bin/bash"),
                {"-c",
                 QStringLiteral("exec \"$0\" export -f ncdu --exclude $'a\\xe9' "
                                "--exclude $'a\\xe8' \"$1\"$'tr\\xe9e' -"),
                 QStringLiteral(TREELAN_CLI), t.root()});
        QVERIFY(p.waitForFinished(60000));
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        QVERIFY(out.contains("\"a\xe7\""));
        QVERIFY(!out.contains("\"a\xe8\""));
        QVERIFY(!out.contains("\"a\xe9\""));
        QVERIFY(out.contains("tr\xe9"
                             "e"));
    }

    // Thousands of repeated options cost time in proportion to their number.
    void manyOptionsEndInTime_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("--only") << "--only";
        QTest::newRow("--exclude") << "--exclude";
        QTest::newRow("--exclude-pattern") << "--exclude-pattern";
    }
    void manyOptionsEndInTime() {
        QFETCH(QString, option);
        TempTree t;
        t.createFile(QStringLiteral("z.txt"), "z");
        QStringList args{"export", "-q", "-f", "csv"};
        for (int i = 0; i < 20000; ++i)
            args << option << QStringLiteral("f%1.txt").arg(i);
        args << t.root() << "-";
        QProcess p;
        p.start(QStringLiteral(TREELAN_CLI), args);
        // Quadratic work took more than 30 s here.
        QVERIFY2(p.waitForFinished(15000), "20,000 options did not end within 15 s");
        QCOMPARE(p.exitCode(), 0);
    }

    void badDepthIsAUsageError() {
        QProcess p;
        p.start(QStringLiteral(TREELAN_CLI), {"list", "--max-depth", "-1", "."});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("--max-depth"));
    }
};

QTEST_GUILESS_MAIN(FiltersTest)
#include "tst_filters.moc"
