// The walk with workers reading ahead against the walk that reads one folder after another
// (jobs = 1): over hostile trees, every call the visitor gets, with every entry's examination and
// every warning, in the same order. And over a tree that changes while it is walked: each entry
// once, only entries that existed, no hang.
#include "TempTree.h"
#include "platform/DirWalker.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTest>
#include <QXmlStreamReader>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <random>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace treelan;

namespace {

// Writes down every call of the walk. Subfolders are visited in the order `order` names: by
// name, by name backwards (never the order the workers guess), or by name with every other one
// passed by.
class TraceVisitor final : public WalkVisitor {
public:
    explicit TraceVisitor(QString order) : m_order(std::move(order)) {}

    void folderOpened(WalkFolder& folder, std::vector<std::size_t>& children) override {
        QByteArray& t = trace;
        t += "open " + folder.rawRelPath + (folder.readable ? "" : " unreadable") +
             (folder.repeat ? " repeat" : "") + " [" + folder.reason().toUtf8() + "] " +
             QByteArray::number(folder.fileTime) + '\n';
        for (std::size_t i = 0; i < folder.entries.size(); ++i) {
            const DirEntry& e = folder.entries[i];
            t += "  " + e.rawName + ' ' + QByteArray::number(int(e.kind)) + ' ' +
                 QByteArray::number(e.size) + ' ' + QByteArray::number(e.fileTime) + ' ' +
                 QByteArray::number(e.inode) + ' ' + QByteArray::number(e.mode) + ' ' +
                 QByteArray::number(e.error) + '\n';
            if (e.isFolder()) children.push_back(i);
            paths.push_back(folder.rawRelPath + e.rawName);
        }
        std::sort(children.begin(), children.end(), [&](std::size_t a, std::size_t b) {
            const bool less = folder.entries[a].rawName < folder.entries[b].rawName;
            return m_order == QLatin1String("backwards") ? !less : less;
        });
    }
    bool childBegin(WalkFolder& parent, const DirEntry& child) override {
        const bool enter = m_order != QLatin1String("every other") || (m_passed++ % 2) == 0;
        trace += "begin " + parent.rawRelPath + child.rawName + (enter ? "" : " passed") + '\n';
        return enter;
    }
    void childEnd(WalkFolder& parent, const DirEntry& child, const WalkFolder* entered) override {
        trace += "end " + parent.rawRelPath + child.rawName + ' ' +
                 (entered ? entered->rawRelPath + " [" + entered->reason().toUtf8() + ']' : "-") +
                 '\n';
    }
    void folderDone(WalkFolder& folder) override {
        trace +=
            "done " + folder.rawRelPath + ' ' + QByteArray::number(folder.entries.size()) + '\n';
    }

    QByteArray trace;
    QByteArrayList paths; // every entry handed over, below the root

private:
    QString m_order;
    int m_passed = 0;
};

// The walk of `root` with `jobs`, and the warnings in the trace where they came.
QByteArray traced(const QString& root, const QString& order, WalkOptions options, int jobs) {
    TraceVisitor visitor(order);
    options.jobs = jobs;
    options.warning = [&](const QString& path, const QString& reason) {
        visitor.trace += "warning " + path.toUtf8() + ": " + reason.toUtf8() + '\n';
    };
    WalkTree(root, visitor, options);
    return visitor.trace;
}

// A tmpfs over `folder` while the test runs; `at` is empty where mounting is refused.
struct Tmpfs {
    QByteArray at;
    explicit Tmpfs(const QString& folder) : at(QFile::encodeName(folder)) {
        if (::mount("tmpfs", at.constData(), "tmpfs", 0, "size=1m") != 0) at.clear();
    }
    ~Tmpfs() {
        if (!at.isEmpty()) ::umount2(at.constData(), MNT_DETACH);
    }
};

// Builds the named hostile tree in `t` (`other` for a second file system).
bool build(const QString& shape, TempTree& t, TempTree& other, std::unique_ptr<Tmpfs>& fs) {
    if (shape == QLatin1String("links")) {
        // Links that fan out across 24 folders, one that leads back up, one to the root, a
        // dangling one and one to a file.
        for (int i = 1; i <= 24; ++i) {
            const QString f = QStringLiteral("f%1/").arg(i, 2, 10, QLatin1Char('0'));
            t.createFile(f + QStringLiteral("file.txt"), QByteArray(i, 'x'));
            for (int j = 1; j <= 2 && i < 24; ++j)
                t.createSymlink(f + QStringLiteral("l%1").arg(j),
                                QStringLiteral("../f%1").arg((i * 7 + j * 5) % 24 + 1, 2, 10,
                                                             QLatin1Char('0')));
        }
        t.createSymlink(QStringLiteral("f03/sub/deeper/up"), QStringLiteral("../.."));
        t.createSymlink(QStringLiteral("f05/top"), t.root());
        t.createSymlink(QStringLiteral("f06/nowhere"), QStringLiteral("missing"));
        t.createSymlink(QStringLiteral("f06/tofile"), QStringLiteral("../f01/file.txt"));
    } else if (shape == QLatin1String("odd entries")) {
        t.createRawFile(QStringLiteral("raw"), QByteArray("bad\xff\xfe name"), "x");
        t.createRawFile(QStringLiteral("raw/\xc3\xa9t\xc3\xa9"), QByteArray("n\xe9"), "y");
        t.createFile(QStringLiteral(".hidden/inner.txt"), "h");
        t.createFile(QStringLiteral("a3/b3/c.txt"), "c");
        t.createFifo(QStringLiteral("a3/pipe"));
        t.createSocket(QStringLiteral("a3/socket"));
        t.createFile(QStringLiteral("locked/secret.txt"), "s");
        t.setMode(QStringLiteral("locked"), 0);
        t.createSparseFile(QStringLiteral("big.bin"), qint64(1) << 40);
    } else if (shape == QLatin1String("one large folder")) {
        // More entries than a worker reads ahead of one folder: the walk reads the rest.
        for (int i = 0; i < 20000; ++i)
            t.createFile(QStringLiteral("many/f%1.txt").arg(i), {});
        for (int i = 0; i < 30; ++i)
            t.createFile(QStringLiteral("many/d%1/x.txt").arg(i), "x");
    } else if (shape == QLatin1String("deep")) {
        // Deeper than the walk keeps folders open: the shallow ones are opened again by name
        // for their later subfolders.
        QString chain;
        for (int i = 0; i < 400; ++i) {
            chain += QStringLiteral("d/");
            t.createFile(chain + QStringLiteral("z/leaf.txt"), "z");
        }
    } else if (shape == QLatin1String("wide and shallow")) {
        for (int i = 0; i < 600; ++i)
            t.createFile(QStringLiteral("w%1/v%2/f.txt").arg(i % 150).arg(i), "w");
    } else if (shape == QLatin1String("second file system")) {
        fs = std::make_unique<Tmpfs>(other.root());
        if (fs->at.isEmpty()) return false;
        other.createFile(QStringLiteral("inner/x.txt"), "x");
        t.createFile(QStringLiteral("here/h.txt"), "h");
        t.createSymlink(QStringLiteral("fs1"), other.root());
        t.createSymlink(QStringLiteral("here/fs2"), other.root());
    }
    return true;
}

// Standard output and error of the command-line program, the export time fixed.
QByteArray cli(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SOURCE_DATE_EPOCH"), QStringLiteral("1000000000"));
    p.setProcessEnvironment(env);
    p.start(TREELAN_CLI, args);
    if (!p.waitForFinished(20000)) return p.kill(), p.waitForFinished(), "did not end in 20 s";
    return p.readAllStandardOutput() + "\nstandard error:\n" + p.readAllStandardError() +
           "\nexit " + QByteArray::number(p.exitCode());
}

// An MPEG-1 Layer III frame header, 128 kbps at 44.1 kHz, at the start of `seconds` of zeroed
// audio.
QByteArray mp3Content(int seconds) {
    QByteArray b(16000 * seconds, '\0');
    b[0] = char(0xFF);
    b[1] = char(0xFB);
    b[2] = char(0x90);
    return b;
}

// Paths of a JSON export's entries below the root, without a folder's trailing "/".
void jsonPaths(const QJsonObject& e, QStringList& out) {
    QString path = e.value(QLatin1String("path")).toString();
    if (path.endsWith(QLatin1Char('/'))) path.chop(1);
    if (!path.isEmpty()) out << path;
    for (const QJsonValue& child : e.value(QLatin1String("children")).toArray())
        jsonPaths(child.toObject(), out);
}

} // namespace

class WalkAheadTest : public QObject {
    Q_OBJECT
private slots:
    void sameCallsAsOneThread_data() {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QString>("order");
        QTest::addColumn<QStringList>("options");
        const QStringList none;
        QTest::newRow("links, by name") << "links"
                                        << "by name" << none;
        QTest::newRow("links, backwards") << "links"
                                          << "backwards" << none;
        QTest::newRow("links, every other") << "links"
                                            << "every other" << none;
        QTest::newRow("links, not followed") << "links"
                                             << "by name" << QStringList{"no-follow"};
        QTest::newRow("links, depth 1") << "links"
                                        << "backwards" << QStringList{"depth 1"};
        QTest::newRow("odd entries") << "odd entries"
                                     << "by name" << none;
        QTest::newRow("odd entries, filtered")
            << "odd entries"
            << "backwards" << QStringList{"no-hidden", "exclude *3", "include *.txt"};
        QTest::newRow("one large folder") << "one large folder"
                                          << "backwards" << none;
        QTest::newRow("one large folder, filtered") << "one large folder"
                                                    << "by name" << QStringList{"exclude f1*"};
        QTest::newRow("deep") << "deep"
                              << "backwards" << none;
        QTest::newRow("wide and shallow") << "wide and shallow"
                                          << "every other" << none;
        QTest::newRow("second file system") << "second file system"
                                            << "by name" << none;
        QTest::newRow("second file system, stay") << "second file system"
                                                  << "backwards" << QStringList{"one file system"};
    }
    void sameCallsAsOneThread() {
        QFETCH(QString, shape);
        QFETCH(QString, order);
        QFETCH(QStringList, options);
        TempTree t, other;
        std::unique_ptr<Tmpfs> fs;
        if (!build(shape, t, other, fs)) QSKIP("cannot mount a tmpfs here (needs root)");
        WalkOptions o;
        for (const QString& option : options) {
            o.noFollow = o.noFollow || option == QLatin1String("no-follow");
            o.noHidden = o.noHidden || option == QLatin1String("no-hidden");
            o.oneFileSystem = o.oneFileSystem || option == QLatin1String("one file system");
            if (option == QLatin1String("depth 1")) o.maxDepth = 1;
            if (option.startsWith(QLatin1String("exclude ")))
                o.excludePatterns.emplace_back(option.mid(8).toUtf8());
            if (option.startsWith(QLatin1String("include ")))
                o.includePatterns.emplace_back(option.mid(8).toUtf8());
        }
        const QByteArray alone = traced(t.root(), order, o, 1);
        QVERIFY(alone.count("open ") >= 2);
        for (const int jobs : {2, 7, 0}) {
            const QByteArray ahead = traced(t.root(), order, o, jobs);
            if (ahead == alone) continue;
            // The first line that differs, for the message.
            const QByteArrayList a = alone.split('\n'), b = ahead.split('\n');
            qsizetype i = 0;
            while (i < a.size() && i < b.size() && a[i] == b[i])
                ++i;
            QFAIL(
                qPrintable(QStringLiteral("jobs %1, line %2: '%3' instead of '%4'")
                               .arg(jobs)
                               .arg(i + 1)
                               .arg(QString::fromUtf8(b.value(i)), QString::fromUtf8(a.value(i)))));
        }
        if (shape == QLatin1String("odd entries")) { // names Qt cannot remove
            t.setMode(QStringLiteral("locked"), 0755);
            QProcess::execute(QStringLiteral("rm"), {"-rf", t.path(QStringLiteral("raw"))});
        }
    }

    // Each format and the listing, with their warnings, as the walk alone writes them, over one
    // tree with every hostile shape and MP3 files (good, empty, a FIFO so named).
    void everyFormatAsOneThread_data() {
        QTest::addColumn<QStringList>("args"); // ROOT: the tree
        for (const char* format : {"xml", "xslt", "json", "ncdu", "csv", "tsv", "html", "mht"})
            QTest::newRow(format) << QStringList{"export", "-r", "-m", "-f", format, "ROOT", "-"};
        QTest::newRow("xml, totals, not followed")
            << QStringList{"export", "-r", "-f", "xml", "--totals", "--no-follow", "ROOT", "-"};
        QTest::newRow("json, filtered") << QStringList{"export",
                                                       "-r",
                                                       "-m",
                                                       "-f",
                                                       "json",
                                                       "--max-depth",
                                                       "3",
                                                       "--no-hidden",
                                                       "--exclude-pattern",
                                                       "f1*",
                                                       "--include-pattern",
                                                       "*.mp3",
                                                       "ROOT",
                                                       "-"};
        QTest::newRow("json, media")
            << QStringList{"export", "-r", "-M", "-f", "json", "ROOT", "-"};
        QTest::newRow("list") << QStringList{"list", "-r", "-m", "--full-path", "ROOT"};
        QTest::newRow("list, media") << QStringList{"list", "-r", "-M", "ROOT"};
    }
    void everyFormatAsOneThread() {
        QFETCH(QStringList, args);
        TempTree t, other;
        std::unique_ptr<Tmpfs> fs;
        for (const char* shape : {"links", "odd entries"})
            build(QLatin1String(shape), t, other, fs);
        for (int i = 0; i < 40; ++i)
            t.createFile(QStringLiteral("music/a%1/t%2.mp3").arg(i % 6).arg(i), mp3Content(1 + i));
        t.createFile(QStringLiteral("music/empty.mp3"), {});
        t.createFile(QStringLiteral("music/a2/cover.jpg"),
                     QByteArray("\xff\xd8\xff\xe0 not a picture"));
        t.createFile(QStringLiteral("music/a3/clip.flac"), QByteArray("fLaC and no more"));
        t.createFifo(QStringLiteral("music/pipe.mp3"));
        args.replaceInStrings(QStringLiteral("ROOT"), t.root());
        const QStringList command = args.mid(0, 1), rest = args.mid(1);
        const QByteArray alone = cli(command + QStringList{"--jobs", "1"} + rest);
        QVERIFY2(alone.endsWith("exit 0"), alone.right(300).constData());
        for (const QStringList& jobs : {QStringList{"--jobs", "5"}, QStringList{}}) {
            const QByteArray ahead = cli(command + jobs + rest);
            QVERIFY2(ahead == alone, qPrintable(jobs.join(QLatin1Char(' '))));
        }
        t.setMode(QStringLiteral("locked"), 0755);
        QProcess::execute(QStringLiteral("rm"), {"-rf", t.path(QStringLiteral("raw"))});
    }

    // A thread makes and removes files and folders while the tree is walked, by the walk itself
    // and by exports: each entry is handed over once and existed, each document is well-formed,
    // nothing hangs.
    void changingTree_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("walk") << "walk";
        QTest::newRow("json export") << "json";
        QTest::newRow("xml export") << "xml";
        QTest::newRow("ncdu export") << "ncdu";
    }
    void changingTree() {
        QFETCH(QString, how);
        TempTree t;
        QSet<QByteArray> existed; // every path below the root that was ever there
        std::mutex lock;
        for (int i = 0; i < 60; ++i)
            for (int j = 0; j < 5; ++j) {
                const QString path = QStringLiteral("s%1/t%2/f.txt").arg(i).arg(j);
                t.createFile(path, "x");
                existed << QStringLiteral("s%1").arg(i).toUtf8()
                        << QStringLiteral("s%1/t%2").arg(i).arg(j).toUtf8() << path.toUtf8();
            }
        std::atomic<bool> stop{false};
        std::thread changer([&] {
            std::mt19937 random(7);
            for (int n = 0; !stop; ++n) {
                const QString folder = QStringLiteral("s%1/").arg(random() % 60);
                const QString made = folder + QStringLiteral("n%1").arg(n);
                {
                    std::lock_guard guard(lock);
                    existed << made.toUtf8() << (made + QStringLiteral("/g.txt")).toUtf8();
                }
                t.createFile(made + QStringLiteral("/g.txt"), "g");
                if (n % 3 == 0) QDir(t.path(made)).removeRecursively();
                if (n % 7 == 0)
                    QDir(t.path(QStringLiteral("s%1/t%2").arg(random() % 60).arg(random() % 5)))
                        .removeRecursively();
            }
        });
        QStringList listed;
        QByteArray document;
        bool inTime = true;
        for (int round = 0; round < 4 && inTime; ++round) {
            if (how == QLatin1String("walk")) {
                auto walk = std::async(std::launch::async, [&] {
                    TraceVisitor visitor(QStringLiteral("by name"));
                    WalkOptions o;
                    o.jobs = 6;
                    WalkTree(t.root(), visitor, o);
                    return visitor.paths;
                });
                // A walk that hangs cannot be abandoned: the test ends here.
                if (walk.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
                    qFatal("the walk did not end within 20 s");
                const QByteArrayList paths = walk.get();
                std::lock_guard guard(lock);
                for (const QByteArray& p : paths) {
                    QVERIFY2(existed.contains(p), p.constData());
                    listed << QString::fromUtf8(p);
                }
            } else {
                QProcess p;
                p.start(TREELAN_CLI,
                        {"export", "-r", "-q", "--jobs", "6", "-f", how, t.root(), "-"});
                inTime = p.waitForFinished(20000);
                if (!inTime) {
                    p.kill();
                    p.waitForFinished();
                    break;
                }
                document = p.readAllStandardOutput();
                QCOMPARE(p.exitCode(), 0);
                if (how == QLatin1String("xml")) {
                    QXmlStreamReader xml(document);
                    while (!xml.atEnd())
                        xml.readNext();
                    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
                    continue;
                }
                QJsonParseError error;
                const QJsonDocument json = QJsonDocument::fromJson(document, &error);
                QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
                if (how == QLatin1String("json"))
                    jsonPaths(json.object().value(QLatin1String("root")).toObject(), listed);
                std::lock_guard guard(lock);
                for (const QString& path : listed)
                    QVERIFY2(existed.contains(path.toUtf8()), qPrintable(path));
            }
            const qsizetype all = listed.size();
            listed.removeDuplicates();
            QCOMPARE(listed.size(), all);
            listed.clear();
        }
        stop = true;
        changer.join();
        QVERIFY2(inTime, "the walk did not end within 20 s");
    }
};

QTEST_GUILESS_MAIN(WalkAheadTest)
#include "tst_walkahead.moc"
