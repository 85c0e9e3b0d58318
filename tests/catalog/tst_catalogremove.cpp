// catalog remove keeps every other snapshot as it was (its search, its export, its diffs), and
// catalog check finds what SQLite alone cannot.
#include "CatalogTest.h"
#include "TempTree.h"

#include <QTemporaryDir>

using namespace catalogtest;

namespace {

// What a snapshot answers: everything it holds, and its export.
QByteArray answers(const QString& db, const QString& snapshot, const QString& home) {
    const QString out = home + QStringLiteral("/export-") + snapshot + QStringLiteral(".json");
    const Run exported = catalog(
        db, {QStringLiteral("export"), snapshot, out, QStringLiteral("-r"), QStringLiteral("-q")});
    if (exported.status != 0) return "export failed: " + exported.err;
    return catalog(db, {QStringLiteral("search"), QStringLiteral("--snapshot"), snapshot,
                        QStringLiteral("*")})
               .out +
           readAll(out);
}

} // namespace

class CatalogRemoveTest : public QObject {
    Q_OBJECT
private slots:
    // Three snapshots with changes between each; one is removed.
    void remove_data() {
        QTest::addColumn<int>("removed");
        QTest::newRow("the first") << 1;
        QTest::newRow("the middle one") << 2;
        QTest::newRow("the latest") << 3;
    }
    void remove() {
        QFETCH(int, removed);
        TempTree t;
        QTemporaryDir home;
        const QString db = home.path() + QStringLiteral("/c.db");
        const QStringList add{QStringLiteral("add"), QStringLiteral("-q"), t.root()};
        t.createFile(QStringLiteral("stays.txt"), "s");
        t.createFile(QStringLiteral("goes.txt"), "g");
        t.createFile(QStringLiteral("grows.txt"), "1");
        t.createFile(QStringLiteral("dir/in.txt"), "i");
        QCOMPARE(catalog(db, add).status, 0);
        QVERIFY(QFile::remove(t.path(QStringLiteral("goes.txt"))));
        t.createFile(QStringLiteral("grows.txt"), "22");
        t.createFile(QStringLiteral("comes.txt"), "c");
        QCOMPARE(catalog(db, add).status, 0);
        t.createFile(QStringLiteral("goes.txt"), "back again");
        t.createFile(QStringLiteral("grows.txt"), "333");
        QVERIFY(QDir(t.path(QStringLiteral("dir"))).removeRecursively());
        QCOMPARE(catalog(db, add).status, 0);

        QMap<int, QByteArray> before;
        for (int s = 1; s <= 3; ++s)
            before[s] = answers(db, QString::number(s), home.path());
        const QByteArray diffAround =
            catalog(db, {QStringLiteral("diff"), QStringLiteral("1"), QStringLiteral("3")}).out;

        const Run r = catalog(db, {QStringLiteral("remove"), QString::number(removed)});
        QVERIFY2(r.status == 0, r.all().constData());
        for (int s = 1; s <= 3; ++s) {
            if (s == removed) {
                QCOMPARE(catalog(db, {QStringLiteral("search"), QStringLiteral("--snapshot"),
                                      QString::number(s), QStringLiteral("x")})
                             .status,
                         2);
                continue;
            }
            QCOMPARE(answers(db, QString::number(s), home.path()), before[s]);
        }
        if (removed == 2)
            QCOMPARE(
                catalog(db, {QStringLiteral("diff"), QStringLiteral("1"), QStringLiteral("3")}).out,
                diffAround);
        const Run check = catalog(db, {QStringLiteral("check")});
        QVERIFY2(check.status == 0, check.all().constData());
        // A new snapshot after the removal is built on what is left, under a number of its own.
        QCOMPARE(catalog(db, add).status, 0);
        const QByteArray found =
            catalog(db, {QStringLiteral("search"), QStringLiteral("--snapshot"),
                         QStringLiteral("4"), QStringLiteral("*")})
                .out;
        QVERIFY(!found.isEmpty());
        QVERIFY2(before[3].startsWith(QByteArray(found).replace("@4", "@3")), found.constData());
    }

    // Faults that SQLite's own check cannot see, made with sqlite3.
    void check_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("overlapping versions") << "INSERT INTO versions(node, first, kind) SELECT "
                                                 "node, first + 1, kind FROM versions LIMIT 1"
                                              << QByteArray("overlap");
        QTest::newRow("a snapshot left running")
            << "UPDATE snapshots SET state = 'running'" << QByteArray("running");
        QTest::newRow("an entry without its name")
            << "DELETE FROM names" << QByteArray("without a name");
    }
    void check() {
        QFETCH(QString, sql);
        QFETCH(QByteArray, said);
        TempTree t;
        t.createFile(QStringLiteral("a/b.txt"), "b");
        QTemporaryDir home;
        const QString db = home.path() + QStringLiteral("/c.db");
        QCOMPARE(catalog(db, {QStringLiteral("add"), QStringLiteral("-q"), t.root()}).status, 0);
        QCOMPARE(catalog(db, {QStringLiteral("check")}).status, 0);
        QCOMPARE(sqlite(db, sql).status, 0);
        const Run r = catalog(db, {QStringLiteral("check")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.out.contains(said), r.out.constData());
    }
};

QTEST_GUILESS_MAIN(CatalogRemoveTest)
#include "tst_catalogremove.moc"
