// Each kind of change between two snapshots, and between a snapshot and the folder, told by
// catalog diff in text and JSON Lines, with its exit status.
#include "CatalogTest.h"
#include "TempTree.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace catalogtest;

namespace {

enum class Mutation { Add, Remove, Modify, Touch, Move, MoveFolder, Type, Unreadable, Nothing };

// keep.txt, mod.txt, gone.txt, move.bin (a size no other file has), type.x, dir/ with two
// files, sub/, locked/ with a file.
void makeTree(TempTree& t) {
    t.createFile(QStringLiteral("keep.txt"), "same");
    t.createFile(QStringLiteral("mod.txt"), "abc");
    t.createFile(QStringLiteral("gone.txt"), "bye");
    t.createFile(QStringLiteral("move.bin"), QByteArray(4321, 'm'));
    t.createFile(QStringLiteral("type.x"), "file for now");
    t.createFile(QStringLiteral("dir/one"), "1111111");
    t.createFile(QStringLiteral("dir/two"), "22222222222");
    t.createDir(QStringLiteral("sub"));
    t.createFile(QStringLiteral("locked/secret"), "s");
}

void mutate(TempTree& t, Mutation m) {
    const auto rename = [&t](const char* from, const char* to) {
        QVERIFY(QFile::rename(t.path(QLatin1String(from)), t.path(QLatin1String(to))));
    };
    switch (m) {
    case Mutation::Add:
        t.createFile(QStringLiteral("new.txt"), "new");
        break;
    case Mutation::Remove:
        QVERIFY(QFile::remove(t.path(QStringLiteral("gone.txt"))));
        break;
    case Mutation::Modify:
        t.createFile(QStringLiteral("mod.txt"), "abcd");
        break;
    case Mutation::Touch:
        t.setTime(QStringLiteral("keep.txt"), TempTree::defaultTime().addSecs(86400));
        break;
    case Mutation::Move:
        rename("move.bin", "sub/moved.bin");
        break;
    case Mutation::MoveFolder:
        rename("dir", "sub/dir-moved");
        break;
    case Mutation::Type:
        QVERIFY(QFile::remove(t.path(QStringLiteral("type.x"))));
        t.createDir(QStringLiteral("type.x"));
        break;
    case Mutation::Unreadable:
        t.setMode(QStringLiteral("locked"), 0);
        break;
    case Mutation::Nothing:
        break;
    }
}

} // namespace

class CatalogDiffTest : public QObject {
    Q_OBJECT
private slots:
    void changeKinds_data() {
        QTest::addColumn<int>("mutation");
        QTest::addColumn<bool>("hashed");       // both snapshots added with --hash
        QTest::addColumn<bool>("unprivileged"); // run as a user whom permissions stop
        QTest::addColumn<QString>("op");        // between the snapshots
        QTest::addColumn<QString>("folderOp");  // between snapshot and folder
        QTest::addColumn<QByteArray>("line");   // the text line between the snapshots
        QTest::addColumn<int>("status");

        const auto row = [](const char* name, Mutation m, bool hashed, bool unprivileged,
                            const char* op, const char* folderOp, const char* line, int status) {
            QTest::newRow(name) << int(m) << hashed << unprivileged << QString::fromLatin1(op)
                                << QString::fromLatin1(folderOp) << QByteArray(line) << status;
        };
        row("added", Mutation::Add, false, false, "+", "+", "+ new.txt  3 2004-03-05T12:00:00Z", 1);
        row("removed", Mutation::Remove, false, false, "-", "-",
            "- gone.txt  3 2004-03-05T12:00:00Z", 1);
        row("modified", Mutation::Modify, false, false, "M", "M",
            "M mod.txt  3 2004-03-05T12:00:00Z -> 4 2004-03-05T12:00:00Z", 1);
        row("metadata", Mutation::Touch, false, false, "U", "U",
            "U keep.txt  2004-03-05T12:00:00Z -> 2004-03-06T12:00:00Z", 1);
        // The folder has no hashes: the move is only likely there.
        row("moved", Mutation::Move, true, false, ">", ">?",
            "> sub/moved.bin <- move.bin  4321 2004-03-05T12:00:00Z", 1);
        row("moved without hash", Mutation::Move, false, false, ">?", ">?",
            ">? sub/moved.bin <- move.bin  4321 2004-03-05T12:00:00Z", 1);
        row("folder moved whole", Mutation::MoveFolder, true, false, ">", ">?",
            "> sub/dir-moved/ <- dir/", 1);
        row("type", Mutation::Type, false, false, "T", "T", "T type.x/  file -> folder", 1);
        row("unreadable", Mutation::Unreadable, false, true, "!", "!",
            "! locked/  Permission denied", 2);
        row("nothing", Mutation::Nothing, true, false, "", "", "", 0);
    }

    void changeKinds() {
        QFETCH(int, mutation);
        QFETCH(bool, hashed);
        QFETCH(bool, unprivileged);
        QFETCH(QString, op);
        QFETCH(QString, folderOp);
        QFETCH(QByteArray, line);
        QFETCH(int, status);
        if (unprivileged)
            if (const QString why = nobodyUnavailable(); !why.isEmpty()) QSKIP(qPrintable(why));
        TempTree t;
        makeTree(t);
        QTemporaryDir home;
        const QString db = home.path() + QStringLiteral("/c.db");
        if (unprivileged) {
            giveToNobody(t.root());
            giveToNobody(home.path());
        }
        const auto cat = [&](const QStringList& args) {
            return unprivileged ? catalogAsNobody(db, args) : catalog(db, args);
        };
        QStringList add{QStringLiteral("add"), QStringLiteral("-q"), t.root()};
        if (hashed) add << QStringLiteral("--hash") << QStringLiteral("sha256");
        QCOMPARE(cat(add).status, 0);
        mutate(t, Mutation(mutation));
        QCOMPARE(cat(add).status, 0);

        const QStringList modes[] = {{QStringLiteral("1"), QStringLiteral("2")},
                                     {QStringLiteral("1"), t.root()}};
        for (int mode = 0; mode < 2; ++mode) {
            const QString expected = mode == 0 ? op : folderOp;
            const Run text = cat(QStringList{QStringLiteral("diff")} + modes[mode]);
            QVERIFY2(text.status == status, text.all().constData());
            const QList<QByteArray> lines = changeLines(text.out);
            QCOMPARE(lines.size(), expected.isEmpty() ? 0 : 1);
            if (!expected.isEmpty()) {
                QCOMPARE(lines[0].left(lines[0].indexOf(' ')), expected.toLatin1());
                if (mode == 0) QCOMPARE(lines[0], line);
            }
            QVERIFY(text.out.contains("\n# ") || text.out.startsWith("# "));

            const Run json =
                cat(QStringList{QStringLiteral("diff"), QStringLiteral("--json")} + modes[mode]);
            QCOMPARE(json.status, status);
            const QList<QByteArray> objects = changeLines(json.out);
            QCOMPARE(objects.size(), expected.isEmpty() ? 1 : 2);
            const QJsonObject summary =
                QJsonDocument::fromJson(objects.last()).object()[u"summary"].toObject();
            QCOMPARE(summary[u"status"].toInt(), status);
            if (!expected.isEmpty()) {
                const QJsonObject change = QJsonDocument::fromJson(objects[0]).object();
                QCOMPARE(change[u"op"].toString(), expected);
                QVERIFY(!change[u"path"].toString().isEmpty());
                if (expected.startsWith(QLatin1Char('>'))) QVERIFY(change.contains(u"movedFrom"));
            }
        }
        // --only hides lines, never the status.
        const Run hidden = cat({QStringLiteral("diff"), QStringLiteral("--only"),
                                QStringLiteral("!"), QStringLiteral("1"), QStringLiteral("2")});
        QCOMPARE(hidden.status, status);
        QCOMPARE(changeLines(hidden.out).size(), op == QLatin1String("!") ? 1 : 0);
    }

    // verify reads the files again: content changed under the same size and date is found, as is
    // a file that cannot be read any more.
    void verify_data() {
        QTest::addColumn<QByteArray>("content"); // written over mod.txt, its date kept
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("status");
        QTest::newRow("same content") << QByteArray("abc") << QByteArray() << 0;
        QTest::newRow("same size, other bytes")
            << QByteArray("abd")
            << QByteArray("M mod.txt  3 2004-03-05T12:00:00Z -> 3 2004-03-05T12:00:00Z  sha256 "
                          "ba7816bf8f01cfea -> a52d159f262b2c6d (size and date unchanged)")
            << 1;
    }
    void verify() {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, line);
        QFETCH(int, status);
        TempTree t;
        makeTree(t);
        QTemporaryDir home;
        const QString db = home.path() + QStringLiteral("/c.db");
        QCOMPARE(catalog(db, {QStringLiteral("add"), QStringLiteral("-q"), QStringLiteral("--hash"),
                              QStringLiteral("sha256"), t.root()})
                     .status,
                 0);
        t.createFile(QStringLiteral("mod.txt"), content);
        const Run r = catalog(db, {QStringLiteral("verify"), QStringLiteral("1")});
        QVERIFY2(r.status == status, r.all().constData());
        const QList<QByteArray> lines = changeLines(r.out);
        QCOMPARE(lines.size(), line.isEmpty() ? 0 : 1);
        if (!line.isEmpty()) QCOMPARE(lines[0], line);
    }

    // add --hash takes a file's hash from the previous snapshot only while its size, times and
    // inode are unchanged: a hash spoilt in the catalogue (by sqlite3) survives such an add, and
    // verify then finds the file changed; --rehash, or a changed change time, reads it again.
    void hashReuse_data() {
        QTest::addColumn<QStringList>("second");
        QTest::addColumn<bool>("chmod"); // changes the change time alone
        QTest::addColumn<int>("verifyStatus");
        QTest::newRow("unchanged: taken over") << QStringList{"--hash", "sha256"} << false << 1;
        QTest::newRow("--rehash: read again") << QStringList{"--rehash"} << false << 0;
        QTest::newRow("change time: read again") << QStringList{"--hash", "sha256"} << true << 0;
    }
    void hashReuse() {
        QFETCH(QStringList, second);
        QFETCH(bool, chmod);
        QFETCH(int, verifyStatus);
        TempTree t;
        t.createFile(QStringLiteral("data.bin"), "payload");
        QTemporaryDir home;
        const QString db = home.path() + QStringLiteral("/c.db");
        const QStringList add{QStringLiteral("add"), QStringLiteral("-q"), t.root()};
        QCOMPARE(catalog(db, add + QStringList{QStringLiteral("--hash"), QStringLiteral("sha256")})
                     .status,
                 0);
        QCOMPARE(
            sqlite(db, QStringLiteral("UPDATE versions SET hash = zeroblob(32) WHERE kind = 0"))
                .status,
            0);
        if (chmod) t.setMode(QStringLiteral("data.bin"), 0600);
        QCOMPARE(catalog(db, add + second).status, 0);
        const Run r = catalog(db, {QStringLiteral("verify"), QStringLiteral("2")});
        QVERIFY2(r.status == verifyStatus, r.all().constData());
    }

    // A backup on another volume: the same tree compares equal, paths relative to each root.
    void acrossVolumes() {
        TempTree a, b;
        makeTree(a);
        makeTree(b);
        QTemporaryDir home;
        const QString db = home.path() + QStringLiteral("/c.db");
        QCOMPARE(catalog(db, {QStringLiteral("add"), QStringLiteral("-q"), a.root()}).status, 0);
        QCOMPARE(catalog(db, {QStringLiteral("add"), QStringLiteral("-q"), b.root()}).status, 0);
        Run r = catalog(db, {QStringLiteral("diff"), QStringLiteral("1"), QStringLiteral("2")});
        QVERIFY2(r.status == 0, r.all().constData());
        QVERIFY(QFile::remove(b.path(QStringLiteral("dir/two"))));
        QCOMPARE(catalog(db, {QStringLiteral("add"), QStringLiteral("-q"), b.root()}).status, 0);
        r = catalog(db, {QStringLiteral("diff"), QStringLiteral("1"), QStringLiteral("3")});
        QCOMPARE(r.status, 1);
        QCOMPARE(changeLines(r.out), QList<QByteArray>{"- dir/two  11 2004-03-05T12:00:00Z"});
    }
};

QTEST_GUILESS_MAIN(CatalogDiffTest)
#include "tst_catalogdiff.moc"
