// The catalogue under trouble: killed writers, two writers, files that are not catalogues or are
// newer, read-only catalogues, a full disk, odd names, coarse file times, a volume that goes away.
#include "CatalogTest.h"

#include "TempTree.h"
#include <QFileInfo>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

using namespace catalogtest;

namespace {

enum class Fault {
    Killed,
    TwoWriters,
    NewerSchema,
    OtherDatabase,
    TextFile,
    Truncated,
    Corrupt,
    ReadOnlyFiles,
    ReadOnlyMount,
    DiskFull,
    OddNames,
    CoarseTimes,
    FatImage,
    VolumeUnmounted,
    RootRemoved,
};

// `files` small files in folders of 50.
void makeFiles(TempTree& t, int files, const QString& prefix = QStringLiteral("f")) {
    for (int i = 0; i < files; ++i)
        t.createFile(QStringLiteral("d%1/%2%3").arg(i / 50).arg(prefix).arg(i),
                     QByteArray::number(i));
}

// Every complete snapshot, by number.
QJsonArray snapshots(const QString& db) {
    QJsonArray out;
    for (const QByteArray& line :
         catalog(db, {QStringLiteral("list"), QStringLiteral("--json")}).out.split('\n'))
        if (!line.isEmpty()) out.append(QJsonDocument::fromJson(line).object());
    return out;
}

// Whether process `pid` holds `path` open (its descriptors, as /proc shows them).
bool holdsOpen(qint64 pid, const QString& path) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System))
        if (fd.symLinkTarget() == path) return true;
    return false;
}

void integrityOk(const QString& db) {
    const Run r = sqlite(db, QStringLiteral("PRAGMA integrity_check"));
    QCOMPARE(r.out.trimmed(), QByteArray("ok"));
    const Run check = catalog(db, {QStringLiteral("check")});
    QVERIFY2(check.status == 0, check.all().constData());
}

QByteArray percentDecoded(const QJsonObject& o, const char* raw, const char* text) {
    return o.contains(QLatin1String(raw))
               ? QByteArray::fromPercentEncoding(o[QLatin1String(raw)].toString().toLatin1())
               : o[QLatin1String(text)].toString().toUtf8();
}

// Sets the modification time in nanoseconds.
void setTimeNs(const QString& path, qint64 seconds, long nanoseconds) {
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = seconds;
    times[0].tv_nsec = times[1].tv_nsec = nanoseconds;
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
}

} // namespace

class CatalogFaultsTest : public QObject {
    Q_OBJECT
private slots:
    void faults_data() {
        QTest::addColumn<int>("fault");
        QTest::newRow("kill -9 during add") << int(Fault::Killed);
        QTest::newRow("two adds at once") << int(Fault::TwoWriters);
        QTest::newRow("newer schema") << int(Fault::NewerSchema);
        QTest::newRow("another program's database") << int(Fault::OtherDatabase);
        QTest::newRow("a text file") << int(Fault::TextFile);
        QTest::newRow("a truncated catalogue") << int(Fault::Truncated);
        QTest::newRow("a corrupt catalogue") << int(Fault::Corrupt);
        QTest::newRow("read-only file and folder") << int(Fault::ReadOnlyFiles);
        QTest::newRow("read-only mount") << int(Fault::ReadOnlyMount);
        QTest::newRow("disk full") << int(Fault::DiskFull);
        QTest::newRow("odd names") << int(Fault::OddNames);
        QTest::newRow("coarse times") << int(Fault::CoarseTimes);
        QTest::newRow("FAT image") << int(Fault::FatImage);
        QTest::newRow("volume unmounted during add") << int(Fault::VolumeUnmounted);
        QTest::newRow("root removed during add") << int(Fault::RootRemoved);
    }

    void faults() {
        QFETCH(int, fault);
        TempTree t;
        const RemoveAfter cleanup{t.root()};
        QTemporaryDir home;
        const QString db = home.path() + QStringLiteral("/c.db");
        const QStringList add{QStringLiteral("add"), QStringLiteral("-q"), t.root()};
        switch (Fault(fault)) {
        case Fault::Killed: {
            makeFiles(t, 4000);
            QCOMPARE(catalog(db, add).status, 0);
            const QByteArray before =
                catalog(db, {QStringLiteral("search"), QStringLiteral("f1")}).out;
            QVERIFY(before.count('\n') > 100);
            makeFiles(t, 4000, QStringLiteral("g"));
            // How long an add takes, then kills at points spread over it.
            QElapsedTimer timer;
            timer.start();
            QTemporaryDir spare;
            QVERIFY(QFile::copy(db, spare.path() + QStringLiteral("/c.db")));
            QCOMPARE(catalog(spare.path() + QStringLiteral("/c.db"), add).status, 0);
            const qint64 full = std::max<qint64>(timer.elapsed(), 20);
            for (int point = 0; point < 10; ++point) {
                QProcess p;
                p.start(QStringLiteral(TREELAN_CLI), QStringList{QStringLiteral("catalog")} + add +
                                                         QStringList{QStringLiteral("--db"), db});
                QVERIFY(p.waitForStarted());
                QThread::msleep(quint64(full * point / 10));
                ::kill(pid_t(p.processId()), SIGKILL);
                p.waitForFinished();
                integrityOk(db);
                // The earlier snapshot is as it was; a snapshot marked complete is complete.
                QCOMPARE(catalog(db, {QStringLiteral("search"), QStringLiteral("--snapshot"),
                                      QStringLiteral("1"), QStringLiteral("f1")})
                             .out,
                         before);
                for (const QJsonValue& s : snapshots(db))
                    if (s[u"state"] == QLatin1String("complete"))
                        QCOMPARE(s[u"files"].toInt(), s[u"snapshot"].toInt() == 1 ? 4000 : 8000);
            }
            break;
        }
        case Fault::TwoWriters: {
            makeFiles(t, 200);
            QCOMPARE(catalog(db, add).status, 0);
            // sqlite3 holds the write lock as a long add would.
            QProcess holder;
            holder.start(QStringLiteral("sqlite3"), {db});
            QVERIFY(holder.waitForStarted());
            holder.write("BEGIN IMMEDIATE;\nSELECT 'locked';\n");
            QVERIFY(holder.waitForReadyRead(10000));
            QElapsedTimer timer;
            timer.start();
            const Run second = catalog(db, add);
            QCOMPARE(second.status, 2);
            QVERIFY2(second.err.contains("catalogue busy"), second.err.constData());
            QVERIFY(timer.elapsed() >= 4500 && timer.elapsed() < 15000);
            const Run search = catalog(db, {QStringLiteral("search"), QStringLiteral("f12")});
            QCOMPARE(search.status, 0);
            QVERIFY(search.out.contains("/d0/f12\n"));
            holder.write("COMMIT;\n.quit\n");
            holder.closeWriteChannel();
            QVERIFY(holder.waitForFinished());
            // Two real adds at once: each ends complete or busy, never half.
            QProcess a, b;
            for (QProcess* p : {&a, &b})
                p->start(QStringLiteral(TREELAN_CLI), QStringList{QStringLiteral("catalog")} + add +
                                                          QStringList{QStringLiteral("--db"), db});
            for (QProcess* p : {&a, &b}) {
                QVERIFY(p->waitForFinished(60000));
                QVERIFY(p->exitCode() == 0 || p->readAllStandardError().contains("catalogue busy"));
            }
            integrityOk(db);
            break;
        }
        case Fault::NewerSchema: {
            makeFiles(t, 10);
            QCOMPARE(catalog(db, add).status, 0);
            QCOMPARE(sqlite(db, QStringLiteral("PRAGMA user_version = 99")).status, 0);
            const Run r = catalog(db, add);
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains("newer Treelan (schema 99"), r.err.constData());
            QCOMPARE(snapshots(db).size(), 1);
            QCOMPARE(catalog(db, {QStringLiteral("list")}).status, 0);
            break;
        }
        case Fault::OtherDatabase:
        case Fault::TextFile:
        case Fault::Truncated:
        case Fault::Corrupt: {
            makeFiles(t, 300);
            QByteArray bytes;
            if (Fault(fault) == Fault::OtherDatabase) {
                QCOMPARE(sqlite(db, QStringLiteral("CREATE TABLE t(a); INSERT INTO t VALUES(1);"))
                             .status,
                         0);
            } else if (Fault(fault) == Fault::TextFile) {
                QFile f(db);
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write("a shopping list, not a catalogue\n");
            } else {
                QCOMPARE(catalog(db, add).status, 0);
                // The third page on, in the file's own page size.
                const qint64 page =
                    sqlite(db, QStringLiteral("PRAGMA page_size")).out.trimmed().toLongLong();
                QVERIFY(page >= 512);
                QFile f(db);
                QVERIFY(f.open(QIODevice::ReadWrite));
                if (Fault(fault) == Fault::Truncated) {
                    QVERIFY(f.resize(3 * 4096));
                } else {
                    f.seek(2 * page);
                    f.write(QByteArray(4 * page, '\x5a'));
                }
            }
            const QByteArray kept = readAll(db);
            for (const QStringList& args :
                 {QStringList{QStringLiteral("list")},
                  QStringList{QStringLiteral("search"), QStringLiteral("f1")},
                  QStringList{QStringLiteral("diff"), QStringLiteral("1"), t.root()}, add}) {
                const Run r = catalog(db, args);
                QVERIFY2(r.status == 2, qPrintable(args.join(u' ') + QLatin1String(": ") +
                                                   QString::fromUtf8(r.all())));
                QVERIFY2(r.err.contains(db.toUtf8()) &&
                             (r.err.contains("not a catalogue") || r.err.contains("damaged") ||
                              r.err.contains("no snapshot")),
                         r.err.constData());
            }
            if (Fault(fault) != Fault::Corrupt && Fault(fault) != Fault::Truncated)
                QCOMPARE(readAll(db), kept);
            break;
        }
        case Fault::ReadOnlyFiles:
        case Fault::ReadOnlyMount: {
            makeFiles(t, 300);
            QString where = db;
            if (Fault(fault) == Fault::ReadOnlyFiles) {
                if (const QString why = nobodyUnavailable(); !why.isEmpty()) QSKIP(qPrintable(why));
                QCOMPARE(catalog(db, add).status, 0);
                giveToNobody(t.root());
                giveToNobody(home.path());
                QVERIFY(QFile::setPermissions(db, QFile::ReadOwner | QFile::ReadGroup |
                                                      QFile::ReadOther));
                QVERIFY(QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::ExeOwner |
                                                               QFile::ReadOther | QFile::ExeOther));
            } else {
                const QString mount = home.path() + QStringLiteral("/ro");
                QDir().mkpath(mount);
                if (!mountAt(QStringLiteral("tmpfs"), QStringLiteral("tmpfs"), mount,
                             QStringLiteral("size=8m")))
                    QSKIP("mounting a tmpfs is refused here");
                where = mount + QStringLiteral("/c.db");
                QCOMPARE(catalog(where, add).status, 0);
                QVERIFY(run(QStringLiteral("mount"),
                            {QStringLiteral("-o"), QStringLiteral("remount,ro"), mount})
                            .status == 0);
            }
            const auto cat = [&](const QStringList& args) {
                return Fault(fault) == Fault::ReadOnlyFiles ? catalogAsNobody(where, args)
                                                            : catalog(where, args);
            };
            const QString out = (Fault(fault) == Fault::ReadOnlyFiles ? t.root() : home.path()) +
                                QStringLiteral("/export.xml");
            for (const QStringList& args :
                 {QStringList{QStringLiteral("list")},
                  QStringList{QStringLiteral("search"), QStringLiteral("f12")},
                  QStringList{QStringLiteral("diff"), QStringLiteral("1"), t.root()},
                  QStringList{QStringLiteral("export"), QStringLiteral("1"), out,
                              QStringLiteral("-r")}}) {
                const Run r = cat(args);
                QVERIFY2(r.status == 0, qPrintable(args.join(u' ') + QLatin1String(": ") +
                                                   QString::fromUtf8(r.all())));
            }
            QVERIFY(readAll(out).contains("f12"));
            const Run write = cat(add);
            QCOMPARE(write.status, 2);
            QVERIFY2(write.err.contains("read-only") || write.err.contains("cannot"),
                     write.err.constData());
            if (Fault(fault) == Fault::ReadOnlyMount) unmount(home.path() + QStringLiteral("/ro"));
            break;
        }
        case Fault::DiskFull: {
            const QString mount = home.path() + QStringLiteral("/small");
            QDir().mkpath(mount);
            if (!mountAt(QStringLiteral("tmpfs"), QStringLiteral("tmpfs"), mount,
                         QStringLiteral("size=8m")))
                QSKIP("mounting a tmpfs is refused here");
            const QString small = mount + QStringLiteral("/c.db");
            makeFiles(t, 2);
            QCOMPARE(catalog(small, add).status, 0);
            // Then just room for the catalogue and a few pages more.
            const qint64 page =
                sqlite(small, QStringLiteral("PRAGMA page_size")).out.trimmed().toLongLong();
            const qint64 room = (QFileInfo(small).size() + 3 * page) / 1024 + 1;
            QCOMPARE(
                run(QStringLiteral("mount"),
                    {QStringLiteral("-o"), QStringLiteral("remount,size=%1k").arg(room), mount})
                    .status,
                0);
            const QByteArray before = sqlite(small, QStringLiteral(".dump")).out;
            for (int i = 0; i < 3000; ++i)
                t.createFile(QStringLiteral("long/%1").arg(i, 200, 10, QLatin1Char('n')), "");
            const Run r = catalog(small, add);
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains("No space left on device"), r.err.constData());
            QCOMPARE(sqlite(small, QStringLiteral(".dump")).out, before);
            integrityOk(small);
            unmount(mount);
            break;
        }
        case Fault::OddNames: {
            const QList<QByteArray> names{"bad-\xff\xfe",       "line\nbreak", "tab\there",
                                          QByteArray(255, 'L'), "twin-\xe9",   "twin-\xc3\xa9"};
            for (const QByteArray& n : names)
                t.createRawFile(QStringLiteral("odd"), n, n.left(3));
            QCOMPARE(catalog(db, add).status, 0);
            // Search: each comes back whole, in JSON and NUL-separated.
            QSet<QByteArray> found;
            for (const QByteArray& line :
                 catalog(db, {QStringLiteral("search"), QStringLiteral("f:*"),
                              QStringLiteral("--json")})
                     .out.split('\n'))
                if (!line.isEmpty())
                    found << percentDecoded(QJsonDocument::fromJson(line).object(), "rawPath",
                                            "path");
            const QList<QByteArray> nul =
                catalog(db, {QStringLiteral("search"), QStringLiteral("f:*"), QStringLiteral("-0")})
                    .out.split('\0');
            for (const QByteArray& n : names) {
                const QByteArray full = QFile::encodeName(t.root()) + "odd/" + n;
                QVERIFY2(found.contains(full), n.constData());
                QVERIFY(nul.contains(full));
            }
            // Both twins match the text they both read as.
            QCOMPARE(
                catalog(db, {QStringLiteral("search"), QStringLiteral("twin-É")}).out.count('\n'),
                2);
            // Diff: the removed twin by its exact bytes.
            QVERIFY(run(QStringLiteral("sh"),
                        {QStringLiteral("-c"),
                         QStringLiteral("rm \"$0\"/odd/twin-$(printf '\\351')"), t.root()})
                        .status == 0);
            QCOMPARE(catalog(db, add).status, 0);
            const QList<QByteArray> lines =
                changeLines(catalog(db, {QStringLiteral("diff"), QStringLiteral("--json"),
                                         QStringLiteral("1"), QStringLiteral("2")})
                                .out);
            QCOMPARE(lines.size(), 2);
            QCOMPARE(percentDecoded(QJsonDocument::fromJson(lines[0]).object(), "rawPath", "path"),
                     QByteArray("odd/twin-\xe9"));
            break;
        }
        case Fault::CoarseTimes: {
            // A snapshot of a file system that keeps 2 s: its resolution set as FAT's would be.
            t.createFile(QStringLiteral("f.txt"), "x");
            setTimeNs(t.path(QStringLiteral("f.txt")), 1'100'000'000, 300'000'000);
            QCOMPARE(catalog(db, add).status, 0);
            QCOMPARE(sqlite(db, QStringLiteral("UPDATE snapshots SET time_resolution = 2000000000"))
                         .status,
                     0);
            setTimeNs(t.path(QStringLiteral("f.txt")), 1'100'000'001, 900'000'000);
            Run r = catalog(db, {QStringLiteral("diff"), QStringLiteral("1"), t.root()});
            QVERIFY2(r.status == 0, r.all().constData());
            setTimeNs(t.path(QStringLiteral("f.txt")), 1'100'000'002, 100'000'000);
            r = catalog(db, {QStringLiteral("diff"), QStringLiteral("1"), t.root()});
            QCOMPARE(r.status, 1);
            QCOMPARE(changeLines(r.out),
                     QList<QByteArray>{"U f.txt  2004-11-09T11:33:20Z -> 2004-11-09T11:33:22Z"});
            break;
        }
        case Fault::FatImage: {
            const QString image = home.path() + QStringLiteral("/fat.img");
            const QString mount = home.path() + QStringLiteral("/fat");
            QDir().mkpath(mount);
            if (run(QStringLiteral("truncate"), {QStringLiteral("-s"), QStringLiteral("8M"), image})
                        .status != 0 ||
                run(QStringLiteral("mkfs.vfat"), {image}).status != 0)
                QSKIP("mkfs.vfat is missing (dosfstools)");
            if (!mountAt(QStringLiteral("vfat"), image, mount, QStringLiteral("loop")))
                QSKIP("mounting a vfat image is refused here");
            QFile f(mount + QStringLiteral("/odd-second.txt"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x");
            f.close();
            setTimeNs(f.fileName(), 1'100'000'001, 700'000'000);
            const QStringList addFat{QStringLiteral("add"), QStringLiteral("-q"), mount};
            QCOMPARE(catalog(db, addFat).status, 0);
            unmount(mount);
            QVERIFY(mountAt(QStringLiteral("vfat"), image, mount, QStringLiteral("loop")));
            const Run r = catalog(db, {QStringLiteral("diff"), QStringLiteral("1"), mount});
            unmount(mount);
            QVERIFY2(r.status == 0, r.all().constData());
            break;
        }
        case Fault::VolumeUnmounted:
        case Fault::RootRemoved: {
            // A file large enough that hashing it gives time to take the volume away.
            const QString mount = home.path() + QStringLiteral("/vol");
            QString root = t.root();
            if (Fault(fault) == Fault::VolumeUnmounted) {
                QDir().mkpath(mount);
                if (!mountAt(QStringLiteral("tmpfs"), QStringLiteral("tmpfs"), mount,
                             QStringLiteral("size=4m")))
                    QSKIP("mounting a tmpfs is refused here");
                root = mount + QStringLiteral("/root/");
            }
            QDir().mkpath(root + QStringLiteral("sub"));
            QFile big(root + QStringLiteral("big.bin"));
            QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(3LL << 30));
            big.close();
            QStringList hashed{QStringLiteral("add"), QStringLiteral("-q"), root};
            QCOMPARE(catalog(db, hashed).status, 0);
            hashed << QStringLiteral("--hash") << QStringLiteral("sha256");
            QProcess p;
            p.start(QStringLiteral(TREELAN_CLI), QStringList{QStringLiteral("catalog")} + hashed +
                                                     QStringList{QStringLiteral("--db"), db});
            QVERIFY(p.waitForStarted());
            // Taken away while the add hashes the large file: a fixed wait lost the race on a
            // loaded machine, where the root went before the add had started.
            const QString bigFile = QFileInfo(big).canonicalFilePath();
            QTRY_VERIFY_WITH_TIMEOUT(holdsOpen(p.processId(), bigFile), 60000);
            if (Fault(fault) == Fault::VolumeUnmounted)
                unmount(mount, true);
            else
                QVERIFY(QDir(root).removeRecursively());
            QVERIFY(p.waitForFinished(120000));
            QCOMPARE(p.exitCode(), 2);
            QVERIFY(p.readAllStandardError().contains("rolled back"));
            const QJsonArray all = snapshots(db);
            QCOMPARE(all.size(), 2);
            QCOMPARE(all[1][u"state"].toString(), QStringLiteral("aborted"));
            integrityOk(db);
            break;
        }
        }
    }
};

QTEST_GUILESS_MAIN(CatalogFaultsTest)
#include "tst_catalogfaults.moc"
