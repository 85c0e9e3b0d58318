// The walk over hostile trees, run as a user runs it: links that fan out, loop or lead onto another
// file system, links not followed, an unreadable folder, byte totals past 64 bits, and a current
// folder deeper than PATH_MAX. Counts come from find over the same tree.
#include "NobodyCli.h"
#include "TempTree.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <functional>
#include <memory>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// Standard output, or what failed. A run still going after 20 s is killed: a hang fails.
QByteArray run(const QString& program, const QStringList& args,
               const std::function<void()>& inChild = {}) {
    QProcess p;
    if (inChild) p.setChildProcessModifier(inChild);
    p.start(program, args);
    if (!p.waitForFinished(20000)) return p.kill(), p.waitForFinished(), "did not end in 20 s";
    return p.exitCode() == 0 ? p.readAllStandardOutput() : "failed: " + p.readAllStandardError();
}

// How many distinct lines find prints (also when it met a loop, which it reports as an error).
qsizetype found(const QStringList& args) {
    QProcess find;
    find.start(QStringLiteral("find"), args);
    find.waitForFinished(20000);
    QList<QByteArray> lines = find.readAllStandardOutput().split('\n');
    std::sort(lines.begin(), lines.end());
    return std::unique(lines.begin(), lines.end()) - lines.begin() - 1; // less the empty one
}

// A tmpfs over `folder` while the test runs (ext4 takes no file of 2^63-1 bytes); `at` is empty
// where mounting is refused.
struct Tmpfs {
    QByteArray at;
    explicit Tmpfs(const QString& folder) : at(QFile::encodeName(folder)) {
        if (::mount("tmpfs", at.constData(), "tmpfs", 0, "size=1m") != 0) at.clear();
    }
    ~Tmpfs() {
        if (!at.isEmpty()) ::umount2(at.constData(), MNT_DETACH);
    }
};

// The folders of a JSON export in document order: path, then error.
void folders(const QJsonObject& e, QList<QPair<QString, QString>>& out) {
    if (e.value("kind") != QLatin1String("folder")) return;
    out.append({e.value("path").toString(), e.value("error").toString()});
    for (const QJsonValue& child : e.value("children").toArray())
        folders(child.toObject(), out);
}

} // namespace

class WalkShapesTest : public QObject {
    Q_OBJECT
private slots:
    // Each folder is entered once, at its first arrival in document order; every later arrival
    // is a folder entry that says where the folder is listed.
    void linkShapes_data() {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QString>("firstError");
        // f01/l1 is f13, whose l1 leads back to f01.
        QTest::newRow("fan-out: 46 links, 24 folders")
            << "fan-out"
            << "leads back to a folder above it; already listed at f01/";
        QTest::newRow("cycle") << "cycle"
                               << "leads back to a folder above it; already listed at a/";
        QTest::newRow("link to the root") << "root"
                                          << "leads back to a folder above it; already listed at .";
        QTest::newRow("two links to a tmpfs") << "tmpfs"
                                              << "already listed at fs1/";
        QTest::newRow("--no-follow") << "fan-out" << QString();
    }
    void linkShapes() {
        QFETCH(QString, shape);
        QFETCH(QString, firstError);
        TempTree t, other;
        std::unique_ptr<Tmpfs> fs;
        for (int i = 1; shape == QLatin1String("fan-out") && i <= 24; ++i) {
            const QString f = QStringLiteral("f%1/").arg(i, 2, 10, QLatin1Char('0'));
            t.createFile(f + QStringLiteral("file.txt"), "x");
            for (int j = 1; j <= 2 && i < 24; ++j)
                t.createSymlink(f + QStringLiteral("l%1").arg(j),
                                QStringLiteral("../f%1").arg((i * 7 + j * 5) % 24 + 1, 2, 10,
                                                             QLatin1Char('0')));
        }
        if (shape == QLatin1String("cycle")) t.createSymlink(QStringLiteral("a/b/c/up"), "../..");
        if (shape == QLatin1String("root")) t.createSymlink(QStringLiteral("a/top"), t.root());
        if (shape == QLatin1String("tmpfs")) {
            fs = std::make_unique<Tmpfs>(other.root());
            if (fs->at.isEmpty()) QSKIP("cannot mount a tmpfs here (needs root)");
            other.createFile(QStringLiteral("inner/x.txt"), "x");
            t.createSymlink(QStringLiteral("fs1"), other.root());
            t.createSymlink(QStringLiteral("fs2"), other.root());
        }
        const bool follow = !firstError.isEmpty();
        const QByteArray json =
            run(TREELAN_CLI, QStringList{"export", "-r", "-f", "json", t.root(), "-"} +
                                 (follow ? QStringList{} : QStringList{"--no-follow"}));
        QList<QPair<QString, QString>> all;
        folders(QJsonDocument::fromJson(json).object().value("root").toObject(), all);
        QVERIFY2(!all.isEmpty(), json.left(300).constData());
        QStringList entered, errors;
        for (const auto& [path, error] : all) {
            if (error.isEmpty()) {
                entered << path;
                continue;
            }
            errors << error;
            // Where a folder is listed was entered earlier in the document.
            const QString at = error.section(QLatin1String(" at "), -1);
            QVERIFY2(entered.contains(at == QLatin1String(".") ? QString() : at),
                     qPrintable(error));
        }
        QCOMPARE(errors.value(0), firstError);
        if (!follow) { // find -P: each link is a link, with its own size ("../f13")
            QCOMPARE(all.size(), found({t.root(), "-type", "d"}));
            QCOMPARE(json.count("\"kind\":\"link\",\"size\":6,"), found({t.root(), "-type", "l"}));
            return;
        }
        // Once per folder that find -L reaches, by device and inode; and one repeat per link to
        // a folder, but for the one that first leads out of the tree.
        QCOMPARE(entered.size(), found({"-L", t.root(), "-type", "d", "-printf", "%D %i\\n"}));
        QCOMPARE(errors.size(), found({t.root(), "-type", "l", "-xtype", "d"}) -
                                    (shape == QLatin1String("tmpfs") ? 1 : 0));
        // `list` walks alike: each file once.
        QCOMPARE(run(TREELAN_CLI, {"list", "-r", t.root()}).count('\n'),
                 found({"-L", t.root(), "-type", "f", "-printf", "%D %i\\n"}));
    }

    // What only a hostile tree shows: an unreadable folder (read as nobody), files of 2^63-1
    // bytes, and a current folder 2100 levels down, beyond PATH_MAX.
    void hostile_data() {
        QTest::addColumn<QString>("tree");
        QTest::addColumn<QStringList>("args"); // ROOT: the tree's folder
        QTest::addColumn<QString>("said");     // a pattern over the output
        const QStringList json{"export", "-r", "-q", "-f", "json", "ROOT", "-"};
        const QStringList ncdu{"export", "-r", "-q", "-f", "ncdu", "ROOT", "-"};
        const QStringList page{"export", "-r", "-q", "-f", "html", "ROOT", "-"};
        QTest::newRow("unreadable, json")
            << "locked" << json << "\"path\":\"locked/\",[^{]*\"error\":\"Permission denied\"";
        QTest::newRow("unreadable, ncdu")
            << "locked" << ncdu
            << "\\[\\{\"name\":\"locked\",\"mtime\":\\d+,\"read_error\":true\\}\\]";
        QTest::newRow("unreadable, page")
            << "locked" << page << "\"reasons\":\\{\"1\":\"Permission denied\"\\}";
        // 3 * (2^63 - 1) = 27670116110564327421; the root has 5 bytes more.
        QTest::newRow("totals, json")
            << "huge" << json
            << "\"files\":3,\"folders\":0,\"bytes\":27670116110564327421,"
               "[\\s\\S]*\"files\":4,\"folders\":1,\"bytes\":27670116110564327426,";
        QTest::newRow("totals, xml")
            << "huge" << QStringList{"export", "-r", "-q", "-f", "xml", "--totals", "ROOT", "-"}
            << "files=\"4\" folders=\"1\" bytes=\"27670116110564327426\"[\\s\\S]*"
               "title=\"big\" files=\"3\" folders=\"0\" bytes=\"27670116110564327421\"";
        QTest::newRow("totals, page")
            << "huge" << page
            << "\"files\":\\{\"0\":\"9223372036854775807\"[\\s\\S]*"
               "\"1\":\"27670116110564327421\"[\\s\\S]*\"bytes\":\"27670116110564327426\"";
        QTest::newRow("deep, list") << "deep" << QStringList{"list", "."} << "^leaf.txt\t0 kB";
        QTest::newRow("deep, export") << "deep" << QStringList{"export", "-f", "json", ".", "-"}
                                      << "(/d){2100}/\"[\\s\\S]*\"name\":\"leaf.txt\"";
    }
    void hostile() {
        QFETCH(QString, tree);
        QFETCH(QStringList, args);
        QFETCH(QString, said);
        TempTree t;
        std::unique_ptr<Tmpfs> fs;
        const QByteArray root = QFile::encodeName(t.root());
        args.replaceInStrings(QStringLiteral("ROOT"), t.root());
        QString program = TREELAN_CLI;
        std::function<void()> inChild;
        if (tree == QLatin1String("locked")) {
            t.setMode(QString(), 0755); // reachable for nobody
            t.createFile(QStringLiteral("locked/secret.txt"), "s");
            t.setMode(QStringLiteral("locked"), 0);
            if (::geteuid() == 0) { // root reads any folder: the export runs as nobody
                program = NobodyCli();
                args =
                    QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} + args;
                program = QStringLiteral("setpriv");
            }
        } else if (tree == QLatin1String("huge")) {
            fs = std::make_unique<Tmpfs>(t.root());
            if (fs->at.isEmpty()) QSKIP("cannot mount a tmpfs here (needs root)");
            for (const char* name : {"big/a", "big/b", "big/c"}) {
                t.createFile(QLatin1String(name), {});
                QVERIFY(
                    QFile::resize(t.path(QLatin1String(name)), std::numeric_limits<qint64>::max()));
            }
            t.createFile(QStringLiteral("small.txt"), "12345");
        } else {
            t.createDeepChain("d", 2100, "leaf.txt");
            inChild = [&root] { // down one level at a time, as a shell's cd goes
                if (::chdir(root.constData()) != 0) ::_exit(9);
                for (int i = 0; i < 2100; ++i)
                    if (::chdir("d") != 0) ::_exit(9);
            };
        }
        const QByteArray out = run(program, args, inChild);
        if (tree == QLatin1String("locked")) t.setMode(QStringLiteral("locked"), 0755);
        if (tree == QLatin1String("deep")) run(QStringLiteral("rm"), {"-rf", t.path("d")});
        const QRegularExpression pattern(said, QRegularExpression::MultilineOption);
        QVERIFY2(pattern.match(QString::fromUtf8(out)).hasMatch(), out.left(600).constData());
    }
};

QTEST_GUILESS_MAIN(WalkShapesTest)
#include "tst_walkshapes.moc"
