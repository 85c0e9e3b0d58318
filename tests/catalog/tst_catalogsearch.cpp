// catalog search: the web page's syntax, its filters, and the sqlite3 program as a second client
// that must find what Treelan finds.
#include "CatalogTest.h"
#include "TempTree.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace catalogtest;

namespace {

void makeTree(TempTree& t) {
    const QDateTime old = TempTree::utc(2001, 6, 1), recent = TempTree::utc(2021, 6, 1);
    t.createFile(QStringLiteral("Report 2023.PDF"), QByteArray(2048, 'r'), recent);
    t.createFile(QStringLiteral("report-final.pdf"), QByteArray(1024, 'r'), old);
    t.createFile(QStringLiteral("Reports/q1.txt"), "q1", old);
    t.createFile(QStringLiteral("été.txt"), "summer", recent);
    t.createFile(QStringLiteral("ÉTÉ-2.txt"), "SUMMER", old);
    t.createFile(QStringLiteral("[draft].doc"), "d", old);
    t.createFile(QStringLiteral("notes.md"), "n", old);
    t.createFile(QStringLiteral("ab.c"), "int", old);
    t.createFile(QStringLiteral("photos/Holiday/IMG_0001.JPG"), QByteArray(5000, 'j'), recent);
    t.createFile(QStringLiteral("photos/Holiday/img_0002.jpg"), QByteArray(9, 'j'), recent);
}

// The relative paths of the results, sorted.
QStringList results(const Run& r, const QString& root) {
    QStringList out;
    for (const QByteArray& line : r.out.split('\n')) {
        if (line.isEmpty()) continue;
        const QString path = QJsonDocument::fromJson(line).object()[u"path"].toString();
        out << path.mid(root.size());
    }
    out.sort();
    return out;
}

} // namespace

class CatalogSearchTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        makeTree(m_tree);
        m_db = m_home.path() + QStringLiteral("/c.db");
        QCOMPARE(catalog(m_db, {QStringLiteral("add"), QStringLiteral("-q"), m_tree.root()}).status,
                 0);
    }

    void syntax_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char* name, QStringList args, QStringList expected) {
            expected.sort();
            QTest::newRow(name) << args << expected;
        };
        row("part of a name, any case", {"REPORT"},
            {"Report 2023.PDF", "Reports/", "report-final.pdf"});
        row("files only", {"f:report"}, {"Report 2023.PDF", "report-final.pdf"});
        row("folders only", {"D: report"}, {"Reports/"});
        row("whole name with a star", {"*.pdf"}, {"Report 2023.PDF", "report-final.pdf"});
        row("star at the end", {"report*"}, {"Report 2023.PDF", "Reports/", "report-final.pdf"});
        row("question mark", {"?otes.md"}, {"notes.md"});
        row("a glob is the whole name", {"otes.m?"}, {});
        row("bracket is a character", {"[draft]"}, {"[draft].doc"});
        row("folded beyond ASCII", {"ÉtÉ"}, {"ÉTÉ-2.txt", "été.txt"});
        row("shorter than a trigram", {"ab"}, {"ab.c"});
        row("larger than", {"f:*", "--size", "+1k"}, {"IMG_0001.JPG", "Report 2023.PDF"});
        row("smaller than", {"img", "--size", "-10"}, {"img_0002.jpg"});
        row("exactly", {"*", "--size", "1K"}, {"report-final.pdf"});
        row("newer", {"f:t", "--newer", "2010-01-01"}, {"Report 2023.PDF", "été.txt"});
        row("older, with a zone", {"f:.pdf", "--older", "2010-01-01T00:00+02:00"},
            {"report-final.pdf"});
        row("type", {"*", "--type", "JPG"}, {"IMG_0001.JPG", "img_0002.jpg"});
    }
    void syntax() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expected);
        const Run r =
            catalog(m_db, QStringList{QStringLiteral("search"), QStringLiteral("--json")} + args);
        QVERIFY2(r.status == 0, r.all().constData());
        QStringList got;
        for (const QString& p : results(r, m_tree.root())) {
            // The name, or the folder's name: the rows name what matched.
            const QString trimmed = p.endsWith(QLatin1Char('/')) ? p.chopped(1) : p;
            got << trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1) +
                       (p.endsWith(QLatin1Char('/')) ? "/" : "");
        }
        got.sort();
        QCOMPARE(got, expected);
    }

    // sqlite3 finds by plain SQL what Treelan finds: every file of each volume's latest
    // snapshot whose name holds the text (ASCII, where SQL's LIKE ignores case as Treelan does).
    void sqlClientAgrees_data() {
        QTest::addColumn<QString>("pattern");
        QTest::newRow("three letters") << "img";
        QTest::newRow("more") << "report";
        QTest::newRow("two letters") << "do";
        QTest::newRow("none") << "zzz";
    }
    void sqlClientAgrees() {
        QFETCH(QString, pattern);
        const QString sql =
            QStringLiteral(
                "WITH RECURSIVE latest(volume, snapshot, root) AS ("
                "  SELECT volume, max(id), root_path FROM snapshots WHERE state = 'complete' GROUP "
                "BY volume),"
                " tree(node, path, snapshot) AS ("
                "  SELECT v.root_node, l.root, l.snapshot FROM volumes v JOIN latest l ON l.volume "
                "= v.id"
                "  UNION ALL"
                "  SELECT n.id, tree.path || coalesce(m.raw, m.text) || '/', tree.snapshot FROM "
                "nodes n"
                "  JOIN names m ON m.id = n.name JOIN tree ON n.parent = tree.node"
                "  JOIN versions v ON v.node = n.id AND v.first <= tree.snapshot"
                "   AND (v.last IS NULL OR v.last >= tree.snapshot) AND v.kind = 1)"
                " SELECT tree.path || m.text FROM tree JOIN nodes n ON n.parent = tree.node"
                " JOIN names m ON m.id = n.name JOIN versions v ON v.node = n.id AND v.kind <> 1"
                "  AND v.first <= tree.snapshot AND (v.last IS NULL OR v.last >= tree.snapshot)"
                " WHERE m.text LIKE '%%1%' ORDER BY 1;")
                .arg(pattern);
        const Run plain = sqlite(m_db, sql);
        QCOMPARE(plain.status, 0);
        QList<QByteArray> fromSql = plain.out.split('\n');
        fromSql.removeAll(QByteArray());
        QList<QByteArray> fromTreelan =
            catalog(m_db, {QStringLiteral("search"), QStringLiteral("-0"),
                           QStringLiteral("f:") + pattern})
                .out.split('\0');
        fromTreelan.removeAll(QByteArray());
        std::sort(fromTreelan.begin(), fromTreelan.end());
        std::sort(fromSql.begin(), fromSql.end());
        QCOMPARE(fromTreelan, fromSql);
        QCOMPARE(sqlite(m_db, QStringLiteral("PRAGMA integrity_check")).out.trimmed(),
                 QByteArray("ok"));
    }

    // treelan-cli answers a search before it loads the full command line; the full one (which a
    // "--" before the pattern asks for) must answer every form alike, errors included.
    void plainAndFullAgree_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<int>("status");
        QTest::newRow("text") << QStringList() << "report" << 0;
        QTest::newRow("json, folded") << QStringList{"--json"} << "ÉtÉ" << 0;
        QTest::newRow("tsv, glob") << QStringList{"--tsv"} << "*.pdf" << 0;
        QTest::newRow("nul, files") << QStringList{"-0", "-q"} << "f:o" << 0;
        QTest::newRow("size joined") << QStringList{"--size=+1k"} << "f:*" << 0;
        QTest::newRow("size below") << QStringList{"--size", "-10"} << "img" << 0;
        QTest::newRow("types, dots and commas")
            << QStringList{"--type", ".JPG,,pdf", "--type=md"} << "*" << 0;
        QTest::newRow("dates") << QStringList{"--newer", "2010-01-01",
                                              "--older=2030-01-01T00:00+02:00"}
                               << "t" << 0;
        QTest::newRow("snapshot, volume")
            << QStringList{"--snapshot", "1", "--volume", "none", "--all-snapshots"} << "r" << 0;
        QTest::newRow("no such volume") << QStringList{"--volume", "none"} << "r" << 2;
        QTest::newRow("no such snapshot") << QStringList{"--snapshot=9"} << "r" << 2;
        QTest::newRow("two formats") << QStringList{"--json", "-0"} << "r" << 2;
        QTest::newRow("bad size") << QStringList{"--size", "1Q"} << "r" << 2;
        QTest::newRow("not a catalogue")
            << QStringList{"--db", TREELAN_TEST_DATA "/mp3/not-mpeg"} << "r" << 2;
    }
    void plainAndFullAgree() {
        QFETCH(QStringList, args);
        QFETCH(QString, pattern);
        QFETCH(int, status);
        const QStringList head{QStringLiteral("catalog"), QStringLiteral("search"),
                               QStringLiteral("--db"), m_db};
        const Run plain = run(QStringLiteral(TREELAN_CLI), head + args + QStringList{pattern});
        const Run full = run(QStringLiteral(TREELAN_CLI),
                             head + args + QStringList{QStringLiteral("--"), pattern});
        QCOMPARE(plain.status, status);
        QCOMPARE(full.status, status);
        QCOMPARE(plain.out, full.out);
        QCOMPARE(plain.err, full.err);
        if (status == 0 && !args.contains(QLatin1String("--snapshot")))
            QVERIFY(!plain.out.isEmpty());
    }

    // A file in two snapshots with a change between them: one result per version.
    void allSnapshots() {
        TempTree t;
        t.createFile(QStringLiteral("keep.txt"), "1");
        t.createFile(QStringLiteral("grow.txt"), "1");
        QTemporaryDir home;
        const QString db = home.path() + QStringLiteral("/c.db");
        const QStringList add{QStringLiteral("add"), QStringLiteral("-q"), t.root()};
        QCOMPARE(catalog(db, add).status, 0);
        t.createFile(QStringLiteral("grow.txt"), "22");
        QCOMPARE(catalog(db, add).status, 0);
        QCOMPARE(catalog(db, add).status, 0);
        const Run r = catalog(db, {QStringLiteral("search"), QStringLiteral("--all-snapshots"),
                                   QStringLiteral(".txt")});
        QStringList lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (QString& l : lines)
            l = l.section(QLatin1String("  "), 0, 1) + QLatin1String("  ") + l.section(u'/', -1);
        QCOMPARE(lines, (QStringList{"root@1  1  grow.txt", "root@2..3  2  grow.txt",
                                     "root@1..3  1  keep.txt"}
                             .replaceInStrings(QStringLiteral("root"), QDir(t.root()).dirName())));
    }

    // A volume that is not mounted any more is found, marked offline.
    void offline() {
        QTemporaryDir home;
        const QString mount = home.path() + QStringLiteral("/vol");
        QDir().mkpath(mount);
        if (!mountAt(QStringLiteral("tmpfs"), QStringLiteral("tmpfs"), mount,
                     QStringLiteral("size=1m")))
            QSKIP("mounting a tmpfs is refused here");
        QFile f(mount + QStringLiteral("/drawer.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QString db = home.path() + QStringLiteral("/c.db");
        QCOMPARE(catalog(db, {QStringLiteral("add"), QStringLiteral("-q"),
                              QStringLiteral("--label"), QStringLiteral("usb"), mount})
                     .status,
                 0);
        const QStringList search{QStringLiteral("search"), QStringLiteral("drawer")};
        QVERIFY(catalog(db, search).out.startsWith("usb@1  0  "));
        unmount(mount);
        const Run r = catalog(db, search);
        QVERIFY2(r.out.startsWith("usb@1 (offline)  0  "), r.out.constData());
    }

private:
    TempTree m_tree;
    QTemporaryDir m_home;
    QString m_db;
};

QTEST_GUILESS_MAIN(CatalogSearchTest)
#include "tst_catalogsearch.moc"
