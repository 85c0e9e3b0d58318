#include "RowTexts.h"
#include "listing/ListingModel.h"
#include "settings/StringTable.h"

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QTest>

using namespace treelan;

namespace {

RowTexts file(const QString& name, quint64 bytes = 0, const QString& duration = {}) {
    RowTexts e;
    e.name = name;
    e.folder = QStringLiteral("Sub/");
    e.sizeText = QStringLiteral(" 1 kB");
    e.durationText = duration;
    e.sizeKey = QStringLiteral("%1").arg(bytes, 15, 10, QLatin1Char('0'));
    e.dateKey = QStringLiteral("29000000");
    return e;
}

RowTexts folder(const QString& path) {
    RowTexts e;
    e.folder = path;
    return e;
}

QStringList shownNames(const ListingModel& m) {
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << (m.isSubfolderRow(r) ? m.text(r, ColFolder) : m.text(r, ColName));
    return out;
}

// Sets the filter and waits for its rows: the matching runs on a thread of its own.
bool filter(ListingModel& m, const QString& pattern) {
    QSignalSpy applied(&m, &ListingModel::filterApplied);
    m.setFilter(pattern);
    return !applied.isEmpty() || applied.wait(10000);
}

} // namespace

class TestListingFilter : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { LoadDefaultStrings(); }

    // The shown rows follow sorting, adding, removing and the filter's own changes; a view's
    // persistent indexes stay on their rows.
    void filterFollowsChanges() {
        ListingModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (const char* name : {"b.mp3", "a.txt", "c.mp3", "d.MP3"})
            m.addRow(file(QString::fromLatin1(name)));
        m.addRow(folder(QStringLiteral("Music.mp3/")), true);
        // The folder row (no name) sorts first.
        QCOMPARE(shownNames(m), QStringList({"Music.mp3/", "a.txt", "b.mp3", "c.mp3", "d.MP3"}));
        QPersistentModelIndex kept = m.index(2, 0);   // b.mp3
        QPersistentModelIndex hidden = m.index(1, 0); // a.txt
        QVERIFY(filter(m, QStringLiteral("f:*.mp3")));
        QVERIFY(m.isFiltered());
        QCOMPARE(shownNames(m), QStringList({"b.mp3", "c.mp3", "d.MP3"}));
        QCOMPARE(m.storedRowCount(), 5);
        QVERIFY(kept.isValid());
        QCOMPARE(kept.row(), 0);
        QVERIFY(!hidden.isValid());

        m.sort(ColName, Qt::DescendingOrder);
        QCOMPARE(shownNames(m), QStringList({"d.MP3", "c.mp3", "b.mp3"}));
        QCOMPARE(kept.row(), 2);

        QCOMPARE(m.addRow(file(QStringLiteral("e.txt"))), -1); // hidden as it comes
        QCOMPARE(m.addRow(file(QStringLiteral("bb.mp3"))), 2);
        ListingModel staging;
        staging.addRow(file(QStringLiteral("z.mp3")));
        staging.addRow(file(QStringLiteral("z.txt")));
        m.appendRows(staging.takeRows());
        QVERIFY(QTest::qWaitFor([&] { return !m.isFilterPending(); }, 10000));
        QCOMPARE(shownNames(m), QStringList({"d.MP3", "c.mp3", "bb.mp3", "b.mp3", "z.mp3"}));

        QVERIFY(m.removeRows(1, 2)); // c.mp3, bb.mp3
        QCOMPARE(shownNames(m), QStringList({"d.MP3", "b.mp3", "z.mp3"}));
        QCOMPARE(m.rawPath(1), QByteArray("Sub/b.mp3"));
        QStringList hiddenPaths;
        m.forEachHiddenRow([&](const QByteArray& path, bool sub) {
            hiddenPaths << QString::fromUtf8(path) +
                               (sub ? QStringLiteral(" (folder)") : QString());
        });
        hiddenPaths.sort();
        QCOMPARE(hiddenPaths,
                 QStringList({"Music.mp3/ (folder)", "Sub/a.txt", "Sub/e.txt", "Sub/z.txt"}));

        QVERIFY(filter(m, QStringLiteral("  ")));
        QVERIFY(!m.isFiltered());
        QCOMPARE(m.rowCount(), 7);
        QCOMPARE(kept.data().toString(), QStringLiteral("b.mp3"));
        QVERIFY(filter(m, QStringLiteral("d:mp3")));
        QCOMPARE(shownNames(m), QStringList({"Music.mp3/"}));
        m.removeRowsAt({0});
        QCOMPARE(m.rowCount(), 0);
        QVERIFY(filter(m, QString()));
        QCOMPARE(m.rowCount(), 6);
    }

    // A large batch of rows that arrives under a filter is matched a slice at a time on later
    // turns of the event loop, not at once; moving the rows first matches what waits.
    void arrivingRowsMatchedInSlices_data() {
        QTest::addColumn<bool>("sortAtOnce");
        QTest::newRow("slices") << false;
        QTest::newRow("sorted before the slices") << true;
    }
    void arrivingRowsMatchedInSlices() {
        QFETCH(bool, sortAtOnce);
        ListingModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.addRow(file(QStringLiteral("seven 7")));
        QVERIFY(filter(m, QStringLiteral("7")));
        ListingModel staging;
        QStringList want{QStringLiteral("seven 7")};
        staging.beginBatch();
        for (int i = 0; i < 50000; ++i) {
            const QString name = QStringLiteral("r%1").arg(i);
            staging.addRow(file(name));
            if (name.contains(QLatin1Char('7'))) want << name;
        }
        staging.endBatch();
        m.appendRows(staging.takeRows());
        QCOMPARE(m.rowCount(), 1); // nothing matched on the spot
        if (sortAtOnce) {
            m.sort(ColName, Qt::DescendingOrder);
            std::sort(want.begin(), want.end(), std::greater<>());
        } else {
            QVERIFY(m.isFilterPending());
            QVERIFY(QTest::qWaitFor([&] { return !m.isFilterPending(); }, 10000));
            want.sort(); // the batch came in name order, after the row before it
            want.move(want.indexOf(QStringLiteral("seven 7")), 0);
        }
        QCOMPARE(shownNames(m), want);
        QCOMPARE(m.shownTotals().files, qint64(want.size()));
    }

    void totals_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<qint64>("files");
        QTest::addColumn<qint64>("folders");
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<quint64>("seconds");
        // The rows of totals(): 1000 B 00:03:25, 12 582 912 B 100:00:00, 5 B without a time, a
        // folder, 1 TiB + 1 with a broken time.
        QTest::newRow("all") << "" << qint64(4) << qint64(1)
                             << quint64(1000 + 12582912 + 5 + 1099511627777ULL)
                             << quint64(205 + 360000);
        QTest::newRow("mp3") << "*.mp3" << qint64(2) << qint64(0) << quint64(1000 + 12582912)
                             << quint64(205 + 360000);
        QTest::newRow("folders") << "d:" << qint64(0) << qint64(1) << quint64(0) << quint64(0);
        QTest::newRow("none") << "zzz" << qint64(0) << qint64(0) << quint64(0) << quint64(0);
    }
    void totals() {
        QFETCH(QString, pattern);
        ListingModel m;
        m.addRow(file(QStringLiteral("a.mp3"), 1000, QStringLiteral("00:03:25")));
        m.addRow(file(QStringLiteral("b.mp3"), 12582912, QStringLiteral("100:00:00")));
        m.addRow(file(QStringLiteral("c.txt"), 5));
        m.addRow(folder(QStringLiteral("Sub/")), true);
        m.addRow(file(QStringLiteral("d.iso"), 1099511627777ULL, QStringLiteral("x:1")));
        QVERIFY(filter(m, pattern));
        const ListingModel::Totals t = m.shownTotals();
        QTEST(t.files, "files");
        QTEST(t.folders, "folders");
        QTEST(t.bytes, "bytes");
        QTEST(t.seconds, "seconds");
        const ListingModel::Totals sum = m.totals(0, m.rowCount() - 1);
        QVERIFY(sum == t);
        // Removing a shown row takes it out of the totals.
        if (m.rowCount() > 0) {
            const ListingModel::Totals first = m.totals(0, 0);
            m.removeRows(0, 1);
            ListingModel::Totals left = t;
            left -= first;
            QVERIFY(m.shownTotals() == left);
        }
    }

    void mediaColumnsSortAsNumbers_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QStringList>("ascending");
        QTest::newRow("track") << int(MediaField::Track)
                               << QStringList{"10", "9", "2/12", "", "x", "100"}
                               << QStringList{"", "2/12", "9", "10", "100", "x"};
        QTest::newRow("year") << int(MediaField::Year) << QStringList{"2001", "1999", "0", "20000"}
                              << QStringList{"0", "1999", "2001", "20000"};
        QTest::newRow("dimensions: area, then width")
            << int(MediaField::Dimensions)
            << QStringList{"1920x1080", "800x600", "1080x1920", "640x480", "90x10000"}
            << QStringList{"640x480", "800x600", "90x10000", "1080x1920", "1920x1080"};
        QTest::newRow("title stays text")
            << int(MediaField::Title) << QStringList{"b", "10", "9", "A"}
            << QStringList{"10", "9", "A", "b"};
    }
    void mediaColumnsSortAsNumbers() {
        QFETCH(int, field);
        QFETCH(QStringList, values);
        QFETCH(QStringList, ascending);
        const int column = ColMedia + field;
        for (const bool oneByOne : {false, true}) {
            ListingModel m;
            if (oneByOne) m.sort(column, Qt::AscendingOrder); // each row goes to its place
            for (const QString& value : values) {
                FileEntryView row{};
                const QString name = QStringLiteral("f") + value;
                row[ColName] = name;
                row[std::size_t(column)] = value;
                m.addRow(row);
            }
            if (!oneByOne) m.sort(column, Qt::AscendingOrder);
            QStringList got;
            for (int r = 0; r < m.rowCount(); ++r)
                got << m.text(r, column);
            QCOMPARE(got, ascending);
        }
    }
};

QTEST_MAIN(TestListingFilter)
#include "tst_listingfilter.moc"
