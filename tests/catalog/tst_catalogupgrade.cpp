// A catalogue of the first schema keeps working: every verb reads it as it reads the same data
// in today's schema, and the first write upgrades it in place without changing what it held.
#include "CatalogTest.h"
#include "TempTree.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace catalogtest;

namespace {

// Folders, an MP3 file and a name that is not ASCII (its search index entry is sqlite3's lower()
// of the name, which folds ASCII only: the name is found by its ASCII part).
void makeTree(TempTree& t) {
    t.createFile(QStringLiteral("a.txt"), "alpha");
    t.createFile(QStringLiteral("sub/deep/z.dat"), QByteArray(5000, 'z'));
    t.createFile(QStringLiteral("sub/Caf\u00e9 menu.txt"), "menu");
    QVERIFY(QFile::copy(QStringLiteral(TREELAN_TEST_DATA "/mp3/vbr-id3v2-cover.mp3"),
                        t.path(QStringLiteral("tone.mp3"))));
    t.setTime(QStringLiteral("tone.mp3"), TempTree::defaultTime());
    // A folder whose name is not UTF-8, with a file in it: its path is kept as bytes.
    const QByteArray odd = QFile::encodeName(t.root()) + "odd-\xff\xfe";
    QVERIFY(::mkdir(odd.constData(), 0755) == 0);
    QVERIFY(::close(::open((odd + "/inner.txt").constData(), O_CREAT | O_WRONLY, 0644)) == 0);
}

// The first schema's columns of the tables that grew since.
const char kSnapshotColumns[] = "id, volume, state, started, finished, root_path, options, "
                                "time_resolution, hashed, mp3, files, folders, bytes, written, "
                                "reason";
const char kVersionColumns[] = "node, first, last, kind, size, mtime, ctime, inode, mode, error, "
                               "mp3, hash, digest, children, flags, born";

// `older`: a file of the first schema holding what `today` holds.
void makeOlder(const QString& today, const QString& older) {
    const Run made =
        sqlite(older, QStringLiteral(".read " TREELAN_TEST_DATA "/catalog/schema-1.sql"));
    QVERIFY2(made.status == 0, made.all().constData());
    const QString copy =
        QStringLiteral("PRAGMA journal_mode = WAL; ATTACH '%1' AS t; BEGIN;"
                       "INSERT INTO volumes SELECT * FROM t.volumes;"
                       "INSERT INTO snapshots SELECT %2 FROM t.snapshots;"
                       "INSERT INTO names SELECT * FROM t.names;"
                       "INSERT INTO names_fts(rowid, folded) SELECT id, lower(text) FROM t.names;"
                       "INSERT INTO nodes SELECT * FROM t.nodes;"
                       "INSERT INTO versions SELECT %3 FROM t.versions; COMMIT;")
            .arg(today, QLatin1String(kSnapshotColumns), QLatin1String(kVersionColumns));
    const Run copied = sqlite(older, copy);
    QVERIFY2(copied.status == 0, copied.all().constData());
    QCOMPARE(sqlite(older, QStringLiteral("PRAGMA user_version")).out.trimmed(), QByteArray("1"));
}

QByteArray exported(const QString& db, const QString& dir, const QStringList& args) {
    const QString out = dir + QStringLiteral("/export.out");
    QFile::remove(out);
    const Run r = catalog(
        db, QStringList{QStringLiteral("export"), QStringLiteral("1"), out, QStringLiteral("-q")} +
                args);
    return r.status == 0 ? readAll(out) : "status " + QByteArray::number(r.status) + r.err;
}

} // namespace

class CatalogUpgradeTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_tree = std::make_unique<TempTree>();
        makeTree(*m_tree);
        m_home = std::make_unique<QTemporaryDir>();
        m_today = m_home->path() + QStringLiteral("/today.db");
        m_older = m_home->path() + QStringLiteral("/older.db");
        const Run added = catalog(m_today, {QStringLiteral("add"), QStringLiteral("-q"),
                                            QStringLiteral("-m"), m_tree->root()});
        QVERIFY2(added.status == 0, added.all().constData());
        makeOlder(m_today, m_older);
    }

    // Reading does not upgrade (it writes nothing) and answers as today's schema does.
    void reads_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("asNobody"); // a file nobody can write: read as unchanging
        QTest::newRow("list") << QStringList{"list"} << false;
        QTest::newRow("list, json") << QStringList{"list", "--json"} << false;
        QTest::newRow("search, json") << QStringList{"search", "--json", "t"} << false;
        QTest::newRow("search, glob, tsv") << QStringList{"search", "--tsv", "*.txt"} << false;
        QTest::newRow("search, folders") << QStringList{"search", "d:su"} << false;
        QTest::newRow("search, below a name not UTF-8")
            << QStringList{"search", "--json", "inner"} << false;
        QTest::newRow("diff with the folder") << QStringList{"diff", "1"} << false;
        QTest::newRow("check") << QStringList{"check"} << false;
        QTest::newRow("search, read-only file") << QStringList{"search", "--json", "a"} << true;
        QTest::newRow("list, read-only file") << QStringList{"list", "--json"} << true;
    }
    void reads() {
        QFETCH(QStringList, args);
        QFETCH(bool, asNobody);
        if (asNobody) {
            if (const QString why = nobodyUnavailable(); !why.isEmpty()) QSKIP(qPrintable(why));
            giveToNobody(m_home->path());
            giveToNobody(m_tree->root());
            for (const QString& f : {m_older, m_today})
                QFile::setPermissions(f, QFile::ReadOwner | QFile::ReadOther);
            QFile::setPermissions(m_home->path(), QFile::ReadOwner | QFile::ExeOwner |
                                                      QFile::ReadOther | QFile::ExeOther);
        }
        const auto read = [&](const QString& db) {
            return asNobody ? catalogAsNobody(db, args) : catalog(db, args);
        };
        const Run today = read(m_today);
        const Run older = read(m_older);
        QVERIFY2(today.status == 0, today.all().constData());
        QVERIFY(!today.out.isEmpty());
        QCOMPARE(older.status, today.status);
        QCOMPARE(QByteArray(older.out).replace(m_older.toUtf8(), m_today.toUtf8()), today.out);
        QCOMPARE(sqlite(m_older, QStringLiteral("PRAGMA user_version")).out.trimmed(),
                 QByteArray("1"));
        if (asNobody)
            QFile::setPermissions(m_home->path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The first write upgrades in one step; what the catalogue held reads as before.
    void writes_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("change"); // a file changes before the add (and so its folder)
        QTest::addColumn<int>("written"); // versions the new snapshot writes; -1: any number
        QTest::newRow("add, unchanged") << QStringList{"add", "-q", "-m"} << false << 0;
        QTest::newRow("add, a file changed") << QStringList{"add", "-q", "-m"} << true << 2;
        QTest::newRow("add, media") << QStringList{"add", "-q", "-M"} << false << -1;
        QTest::newRow("add, no mp3") << QStringList{"add", "-q"} << false << 0;
    }
    void writes() {
        QFETCH(QStringList, args);
        QFETCH(bool, change);
        QFETCH(int, written);
        const QStringList form{QStringLiteral("-f"), QStringLiteral("json"), QStringLiteral("-r"),
                               QStringLiteral("-m")};
        const QByteArray before = exported(m_older, m_home->path(), form);
        QCOMPARE(before, exported(m_today, m_home->path(), form));
        if (change) m_tree->createFile(QStringLiteral("a.txt"), "alpha, longer");
        const Run r = catalog(m_older, args << m_tree->root());
        QVERIFY2(r.status == 0, r.all().constData());
        QCOMPARE(sqlite(m_older, QStringLiteral("PRAGMA user_version")).out.trimmed(),
                 QByteArray("2"));
        QCOMPARE(sqlite(m_older, QStringLiteral("PRAGMA integrity_check")).out.trimmed(),
                 QByteArray("ok"));
        QCOMPARE(exported(m_older, m_home->path(), form), before);
        // The paths the upgrade worked out are those an add writes.
        for (const char* pattern : {"inner", "z.dat", "a"}) {
            const QStringList search{QStringLiteral("search"), QStringLiteral("--json"),
                                     QStringLiteral("--snapshot"), QStringLiteral("1"),
                                     QLatin1String(pattern)};
            const Run older = catalog(m_older, search);
            QVERIFY(!older.out.isEmpty());
            QCOMPARE(older.out, catalog(m_today, search).out);
        }
        QCOMPARE(sqlite(m_older, QStringLiteral("SELECT count(*), sum(length(path)) FROM folders "
                                                "WHERE node IN (SELECT parent FROM nodes)"))
                     .out,
                 sqlite(m_today, QStringLiteral("SELECT count(*), sum(length(path)) FROM folders "
                                                "WHERE node IN (SELECT parent FROM nodes)"))
                     .out);
        const QList<QByteArray> lines =
            catalog(m_older, {QStringLiteral("list"), QStringLiteral("--json")}).out.split('\n');
        const QJsonObject added = QJsonDocument::fromJson(lines.value(1)).object();
        QCOMPARE(added[u"state"].toString(), QStringLiteral("complete"));
        if (written >= 0) QCOMPARE(added[u"written"].toInt(), written);
        QCOMPARE(added[u"media"].toBool(), args.contains(QLatin1String("-M")));
    }

private:
    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<QTemporaryDir> m_home;
    QString m_today, m_older;
};

QTEST_GUILESS_MAIN(CatalogUpgradeTest)
#include "tst_catalogupgrade.moc"
