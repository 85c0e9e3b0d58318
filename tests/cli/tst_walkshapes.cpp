// The walk over hostile trees, run as a user runs it: links that fan out, lead back up or onto
// another file system, links not followed, a folder that cannot be read, byte totals beyond 64
// bits, and a current folder deeper than PATH_MAX. Counts come from find over the same tree.
#include "TempTree.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

namespace {

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// A run that does not end within 20 s is killed and fails the test: a walk that fans out or
// loops must not hang the suite.
Run run(const QString& program, const QStringList& args,
        const std::function<void()>& inChild = {}) {
    QProcess p;
    if (inChild) p.setChildProcessModifier(inChild);
    p.start(program, args);
    const bool ended = p.waitForFinished(20000);
    if (!ended) p.kill(), p.waitForFinished();
    Run r{ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          p.readAllStandardOutput(), p.readAllStandardError()};
    if (!ended) r.err = "did not end within 20 s";
    return r;
}

Run cli(const QStringList& args) {
    return run(QStringLiteral(TREELAN_CLI), args);
}

// Lines that find prints, made unique: `find -L ROOT -type d -printf "%D %i\n"` counts folders.
qsizetype findCount(const QStringList& args) {
    QStringList lines = QString::fromUtf8(run(QStringLiteral("find"), args).out)
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.removeDuplicates();
    return lines.size();
}

// A tmpfs for the test; not mounted when the system refuses (not root, no mount rights).
struct Tmpfs {
    QTemporaryDir dir;
    bool mounted = false;
    Tmpfs() {
        mounted =
            ::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, "size=1m") == 0;
    }
    ~Tmpfs() {
        if (mounted) ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }
};

struct FolderEntry {
    QString path, error;
    int children = 0;
};

// Every folder of a JSON export, in document order.
void collect(const QJsonObject& entry, QList<FolderEntry>& out, QList<QJsonObject>& links) {
    if (entry.value("kind") == QLatin1String("link")) links << entry;
    if (entry.value("kind") != QLatin1String("folder")) return;
    const QJsonArray children = entry.value("children").toArray();
    out << FolderEntry{entry.value("path").toString(), entry.value("error").toString(),
                       int(children.size())};
    for (const QJsonValue& child : children)
        collect(child.toObject(), out, links);
}

} // namespace

class WalkShapesTest : public QObject {
    Q_OBJECT
private slots:
    // Each folder is entered once, at its first arrival in document order; a later arrival is
    // a folder entry that names where it is listed.
    void linkShapes_data() {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("firstError"); // the first "error" in the document
        QTest::newRow("fan-out: 46 links among 24 folders")
            << "fan-out" << QStringList{} // f01/l1 is f13, whose l1 leads back to f01
            << "leads back to a folder above it; already listed at f01/";
        QTest::newRow("cycle") << "cycle" << QStringList{}
                               << "leads back to a folder above it; already listed at a/";
        QTest::newRow("link to the root") << "root link" << QStringList{}
                                          << "leads back to a folder above it; already listed at .";
        QTest::newRow("two links onto another file system")
            << "tmpfs" << QStringList{} << "already listed at fs1/";
        QTest::newRow("fan-out, --no-follow")
            << "fan-out" << QStringList{"--no-follow"} << QString();
    }
    void linkShapes() {
        QFETCH(QString, shape);
        QFETCH(QStringList, options);
        QFETCH(QString, firstError);
        TempTree t;
        Tmpfs other;
        if (shape == QLatin1String("fan-out")) {
            for (int i = 1; i <= 24; ++i) {
                const QString f = QStringLiteral("f%1/").arg(i, 2, 10, QLatin1Char('0'));
                t.createFile(f + QStringLiteral("file.txt"), "x");
                if (i == 24) continue;
                for (int j : {1, 2})
                    t.createSymlink(f + QStringLiteral("l%1").arg(j),
                                    QStringLiteral("../f%1").arg((i * 7 + j * 5) % 24 + 1, 2, 10,
                                                                 QLatin1Char('0')));
            }
        } else if (shape == QLatin1String("cycle")) {
            t.createFile(QStringLiteral("a/b/c/file.txt"), "x");
            t.createSymlink(QStringLiteral("a/b/c/up"), QStringLiteral("../.."));
        } else if (shape == QLatin1String("root link")) {
            t.createFile(QStringLiteral("a/file.txt"), "x");
            t.createSymlink(QStringLiteral("a/top"), t.root());
        } else {
            if (!other.mounted) QSKIP("cannot mount a tmpfs here (needs root)");
            QVERIFY(QDir().mkpath(other.dir.path() + QStringLiteral("/inner")));
            t.createSymlink(QStringLiteral("fs1"), other.dir.path());
            t.createSymlink(QStringLiteral("fs2"), other.dir.path());
            t.createFile(QStringLiteral("here/file.txt"), "x");
        }
        const Run r =
            cli(QStringList{"export", "-r", "-f", "json"} + options + QStringList{t.root(), "-"});
        QVERIFY2(r.status == 0, r.err.constData());
        QList<FolderEntry> folders;
        QList<QJsonObject> links;
        collect(QJsonDocument::fromJson(r.out).object().value("root").toObject(), folders, links);

        QStringList entered, errors;
        for (const FolderEntry& f : folders) {
            if (f.error.isEmpty()) {
                entered << f.path;
                continue;
            }
            errors << f.error;
            // The place named was entered, earlier in the document.
            const QString at = f.error.mid(f.error.lastIndexOf(QLatin1String(" at ")) + 4);
            QVERIFY2(entered.contains(at == QLatin1String(".") ? QString() : at), qPrintable(at));
            QCOMPARE(f.children, 0);
        }
        QCOMPARE(errors.value(0), firstError);
        if (options.contains(QLatin1String("--no-follow"))) {
            // find -P: every link is a link, with the link's own size.
            QCOMPARE(folders.size(), findCount({t.root(), "-type", "d"}));
            QCOMPARE(links.size(), findCount({t.root(), "-type", "l"}));
            QCOMPARE(
                links.first().value("size").toInt(),
                QString::fromUtf8(run("find", {t.root() + "f01/l1", "-printf", "%s"}).out).toInt());
        } else {
            // Entered once per folder that find -L reaches, told apart by device and inode.
            QCOMPARE(entered.size(),
                     findCount({"-L", t.root(), "-type", "d", "-printf", "%D %i\n"}));
            // Each link to a folder (find -P) is one arrival more, but for the one that is the
            // first way into a folder outside the tree.
            const bool outside = shape == QLatin1String("tmpfs");
            QCOMPARE(errors.size(), findCount({t.root(), "-type", "l", "-xtype", "d"}) - outside);
        }
        if (shape == QLatin1String("tmpfs")) {
            // With --one-file-system neither link leads onto the other file system; find -L
            // -xdev lists the links' folders but does not go into them either.
            const Run x = cli({"export", "-r", "-f", "json", "--one-file-system", t.root(), "-"});
            QList<FolderEntry> xFolders;
            collect(QJsonDocument::fromJson(x.out).object().value("root").toObject(), xFolders,
                    links);
            QCOMPARE(xFolders.size(), findCount({"-L", t.root(), "-xdev", "-type", "d"}));
            for (const FolderEntry& f : xFolders)
                QVERIFY2(f.error.isEmpty() &&
                             (!f.path.startsWith(QLatin1String("fs")) || f.children == 0),
                         qPrintable(f.path));
        }
        if (shape == QLatin1String("fan-out") && options.isEmpty()) {
            // `list` walks alike: each file once.
            const Run list = cli({"list", "-r", t.root()});
            QCOMPARE(list.out.count('\n'), findCount({t.root(), "-type", "f"}));
        }
    }

    // A folder that cannot be read says why in every format that has a place for it.
    void unreadableFolder_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("said"); // a pattern over the output
        QTest::newRow("json") << "json"
                              << "\"path\":\"locked/\",[^{]*\"error\":\"Permission denied\"";
        QTest::newRow("ncdu")
            << "ncdu"
            << "\\[\\{\"name\":\"locked\",\"mtime\":\\d+,\"read_error\":true\\}\\]";
        QTest::newRow("html") << "html"
                              << "\"reasons\":\\{\"1\":\"Permission denied\"\\}";
    }
    void unreadableFolder() {
        QFETCH(QString, format);
        QFETCH(QString, said);
        TempTree t;
        t.setMode(QString(), 0755); // reachable for the user the export runs as
        t.createFile(QStringLiteral("locked/secret.txt"), "s");
        t.setMode(QStringLiteral("locked"), 0);
        const QStringList args{"export", "-r", "-q", "-f", format, t.root(), "-"};
        // As root the permissions do not hold: the export runs as nobody.
        const Run r = ::geteuid() == 0
                          ? run("setpriv", QStringList{"--reuid=65534", "--regid=65534",
                                                       "--clear-groups", TREELAN_CLI} +
                                               args)
                          : cli(args);
        t.setMode(QStringLiteral("locked"), 0755);
        QVERIFY2(r.status == 0, r.err.constData());
        QVERIFY2(QRegularExpression(said).match(QString::fromUtf8(r.out)).hasMatch(),
                 r.out.left(4000).constData());
    }

    // Three files of 2^63-1 bytes: totals are exact decimals, written as text.
    void hugeTotals_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("said");
        // 3 * (2^63 - 1) = 27670116110564327421; and the root's 5-byte file.
        QTest::newRow("json") << QStringList{"-f", "json"}
                              << QStringList{"\"totals\":{\"files\":3,\"folders\":0,\"bytes\":"
                                             "27670116110564327421,",
                                             "\"totals\":{\"files\":4,\"folders\":1,\"bytes\":"
                                             "27670116110564327426,"};
        QTest::newRow("xml --totals")
            << QStringList{"-f", "xml", "--totals"}
            << QStringList{"<folder title=\"big\" files=\"3\" folders=\"0\" "
                           "bytes=\"27670116110564327421\"",
                           "files=\"4\" folders=\"1\" bytes=\"27670116110564327426\""};
        QTest::newRow("html") << QStringList{"-f", "html"}
                              << QStringList{"\"bytes\":\"27670116110564327426\"",
                                             "\"1\":\"27670116110564327421\"",
                                             "\"files\":{\"0\":\"9223372036854775807\""};
    }
    void hugeTotals() {
        QFETCH(QStringList, options);
        QFETCH(QStringList, said);
        Tmpfs fs; // ext4 takes no file this large; tmpfs does
        if (!fs.mounted) QSKIP("cannot mount a tmpfs here (needs root)");
        for (const char* name : {"big/a", "big/b", "big/c"}) {
            const QString path = fs.dir.path() + QLatin1Char('/') + QLatin1String(name);
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(std::numeric_limits<qint64>::max()));
        }
        QFile small(fs.dir.path() + QStringLiteral("/small.txt"));
        QVERIFY(small.open(QIODevice::WriteOnly) && small.write("12345") == 5);
        small.close();
        const Run r =
            cli(QStringList{"export", "-r", "-q"} + options + QStringList{fs.dir.path(), "-"});
        QVERIFY2(r.status == 0, r.err.constData());
        for (const QString& text : said)
            QVERIFY2(r.out.contains(text.toUtf8()), qPrintable(text));
    }

    // The current folder deeper than PATH_MAX: "." is opened itself, the path shown in full.
    void deepCurrentFolder_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("said");
        QTest::newRow("list") << QStringList{"list", "."} << "leaf.txt\t0 kB";
        QTest::newRow("export") << QStringList{"export", "-f", "json", ".", "-"}
                                << "\"name\":\"leaf.txt\"";
    }
    void deepCurrentFolder() {
        QFETCH(QStringList, args);
        QFETCH(QString, said);
        TempTree t;
        const int depth = 2100; // "d/" 2100 times: beyond PATH_MAX (4096)
        t.createDeepChain("d", depth, "leaf.txt");
        // Down one level at a time, as a shell's cd goes.
        const QByteArray root = QFile::encodeName(t.root());
        const auto goDown = [&root] {
            if (::chdir(root.constData()) != 0) ::_exit(9);
            for (int i = 0; i < depth; ++i)
                if (::chdir("d") != 0) ::_exit(9);
        };
        const Run r = run(TREELAN_CLI, args, goDown);
        QVERIFY(run("rm", {"-rf", t.path("d")}).status == 0);
        QVERIFY2(r.status == 0, r.err.constData());
        QVERIFY2(r.out.contains(said.toUtf8()), r.out.left(300).constData());
        // The path is shown in full.
        if (args.first() == QLatin1String("export"))
            QVERIFY(r.out.contains((t.root() + QStringLiteral("d/").repeated(depth)).toUtf8()));
    }
};

QTEST_GUILESS_MAIN(WalkShapesTest)
#include "tst_walkshapes.moc"
