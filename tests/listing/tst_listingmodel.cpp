#include "RowTexts.h"
#include "listing/ListingModel.h"
#include "listing/SegmentedVector.h"
#include "settings/StringTable.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

#include <numeric>

using namespace treelan;

namespace {

RowTexts file(const QString& name, const QString& sizeKey = {}) {
    RowTexts e;
    e.name = name;
    e.sizeText = QStringLiteral(" 1 kB");
    e.typeName = QStringLiteral("Text");
    e.sizeKey = sizeKey;
    e.dateKey = QStringLiteral("29000000");
    return e;
}

QStringList names(const ListingModel& m) {
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << m.text(r, ColName);
    return out;
}

// Visible columns in display order, as 1-based column numbers.
QList<int> visible(const ListingModel& m) {
    QList<int> out;
    for (int c : m.columns().visibleColumns())
        out << c + 1;
    return out;
}

} // namespace

class TestListingModel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { LoadDefaultStrings(); }

    void arrangement_data() {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QList<int>>("columns");
        QTest::addColumn<QString>("setting");
        QTest::newRow("default 1100") << "1100" << QList<int>{1, 2, 3, 4} << "1100";
        QTest::newRow("0000") << "0000" << QList<int>{1, 2} << "0000";
        QTest::newRow("only 11") << "11" << QList<int>{1, 2, 3, 4} << "1100";
        QTest::newRow("0101") << "0101" << QList<int>{1, 2, 4, 6} << "0101";
        QTest::newRow("only 1") << "1" << QList<int>{1, 2, 3} << "1000";
        QTest::newRow("empty") << "" << QList<int>{1, 2} << "0000";
        QTest::newRow("all") << "1111" << QList<int>{1, 2, 3, 4, 5, 6} << "1111";
        QTest::newRow("not 1 is hidden") << "x1y1" << QList<int>{1, 2, 4, 6} << "0101";
    }
    void arrangement() {
        QFETCH(QString, rows);
        QFETCH(QList<int>, columns);
        QFETCH(QString, setting);
        ListingModel m;
        m.columns().arrangeColumns(rows);
        QCOMPARE(visible(m), columns);
        QCOMPARE(m.columns().rowsSetting(), setting);
        for (int c = ColTypeName; c < kListingColumns; ++c)
            QCOMPARE(m.columns().columnWidth(c), 0.0);
        // Every display position is taken exactly once, and maps onto a header's visual index.
        QList<int> seen;
        for (int c = 0; c < kListingColumns; ++c)
            seen << m.columns().displayPosition(c);
        std::sort(seen.begin(), seen.end());
        for (int i = 0; i < kListingColumns; ++i)
            QCOMPARE(seen[i], i + 1);
        QCOMPARE(m.columns().visualIndex(ColName), m.columns().displayPosition(ColName) - 1);
    }

    void toggleOrder_data() {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QList<int>>("toggles"); // View item indexes, toggled in this order
        QTest::addColumn<QList<int>>("columns");
        QTest::newRow("hide Size, show again")
            << "1100" << QList<int>{0, 0} << QList<int>{1, 2, 3, 4};
        QTest::newRow("Bitrate then Size") << "0000" << QList<int>{3, 0} << QList<int>{1, 2, 3, 6};
        QTest::newRow("Duration, Date, Size")
            << "0000" << QList<int>{2, 1, 0} << QList<int>{1, 2, 3, 4, 5};
        QTest::newRow("hide Date") << "1111" << QList<int>{1} << QList<int>{1, 2, 3, 5, 6};
    }
    void toggleOrder() {
        QFETCH(QString, rows);
        QFETCH(QList<int>, toggles);
        QFETCH(QList<int>, columns);
        ListingModel m;
        m.columns().arrangeColumns(rows);
        for (int i : toggles) {
            m.columns().setViewItemTicked(i, !m.columns().viewItemTicked(i));
            m.columns().applyViewItem(i);
        }
        QCOMPARE(visible(m), columns);
    }

    void displayPositionShiftsOthers() {
        ListingModel m;
        m.columns().setDisplayPosition(ColDate, 1); // a drag of Date to the front
        QCOMPARE(m.columns().displayPosition(ColDate), 1);
        QCOMPARE(m.columns().displayPosition(ColName), 2);
        QCOMPARE(m.columns().displayPosition(ColSize), 4);
        QCOMPARE(m.columns().displayPosition(ColDuration), 5);
    }

    void headings() {
        ListingModel m;
        QCOMPARE(m.headerData(ColName, Qt::Horizontal).toString(), GetGuiString(Str::Name));
        QCOMPARE(m.headerData(ColBitrate, Qt::Horizontal).toString(), GetGuiString(Str::Bitrate));
        QCOMPARE(m.columns().columnTag(ColDuration), QStringLiteral("125"));
        QVERIFY(m.headerData(ColTypeName, Qt::Horizontal).toString().isEmpty());
        QCOMPARE(m.columns().columnAlignment(ColSize), Qt::AlignRight);
    }

    void subfolderRowHasNoKeys() {
        ListingModel m;
        RowTexts e = file(QString(), QStringLiteral("000000000001"));
        e.folder = QStringLiteral("sub/");
        m.addRow(e, true);
        QVERIFY(m.isSubfolderRow(0));
        QCOMPARE(m.text(0, ColFolder), QStringLiteral("sub/"));
        for (int c = ColTypeName; c < kListingColumns; ++c)
            QVERIFY(m.text(0, c).isEmpty());
        QVERIFY(m.text(0, 42).isEmpty());
    }

    void sortedOrder_data() {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<int>("order");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("case ignored") << QStringList{"b", "A", "a", ""} << int(Qt::AscendingOrder)
                                      << QStringList{"", "A", "a", "b"};
        QTest::newRow("text order") << QStringList{"file9", "File10"} << int(Qt::AscendingOrder)
                                    << QStringList{"File10", "file9"};
        QTest::newRow("descending, ties by adding order")
            << QStringList{"b", "A", "a", "c"} << int(Qt::DescendingOrder)
            << QStringList{"c", "b", "A", "a"};
        // The sort decides most comparisons by a prefix of the first 16 characters; these
        // differ only beyond it, or in characters outside ASCII.
        QTest::newRow("long shared prefix")
            << QStringList{"holiday photos 2019 b.jpg", "Holiday Photos 2019 A.jpg",
                           "holiday photos 2019.jpg", "holiday photos 2019 a.jpg"}
            << int(Qt::AscendingOrder)
            << QStringList{"Holiday Photos 2019 A.jpg", "holiday photos 2019 a.jpg",
                           "holiday photos 2019 b.jpg", "holiday photos 2019.jpg"};
        QTest::newRow("exactly 16 and 17 characters")
            << QStringList{"abcdefghijklmnopq", "ABCDEFGHIJKLMNOP", "abcdefghijklmnoo"}
            << int(Qt::AscendingOrder)
            << QStringList{"abcdefghijklmnoo", "ABCDEFGHIJKLMNOP", "abcdefghijklmnopq"};
        QTest::newRow("non-ASCII letters fold too")
            << QStringList{"Ölbild", "zebra", "öl", "apple", "Étude", "étude"}
            << int(Qt::AscendingOrder)
            << QStringList{"apple", "zebra", "Étude", "étude", "öl", "Ölbild"};
        QTest::newRow("Kelvin sign folds to k")
            << QStringList{"l", "\u212A", "j"} << int(Qt::AscendingOrder)
            << QStringList{"j", "\u212A", "l"};
    }
    void sortedOrder() {
        QFETCH(QStringList, added);
        QFETCH(int, order);
        QFETCH(QStringList, expected);
        // One by one, and as one batch: both keep the same order.
        ListingModel single;
        QAbstractItemModelTester tester(&single,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        single.setSortOrder(Qt::SortOrder(order));
        for (const QString& n : added)
            single.addRow(file(n));
        QCOMPARE(names(single), expected);

        ListingModel batch;
        batch.setSortOrder(Qt::SortOrder(order));
        batch.beginBatch();
        for (const QString& n : added)
            batch.addRow(file(n));
        batch.endBatch();
        QCOMPARE(names(batch), expected);
    }

    void keyChangeReorders() {
        ListingModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.beginBatch();
        m.addRow(file("big", "003221225472"));
        m.addRow(file("small", "000000000512"));
        m.addRow(file("mid", "000000001536"));
        QCOMPARE(names(m), (QStringList{"big", "small", "mid"})); // unsorted inside the batch
        m.endBatch();
        QCOMPARE(names(m), (QStringList{"big", "mid", "small"}));
        m.setSortKey(ColSizeKey);
        QCOMPARE(names(m), (QStringList{"small", "mid", "big"}));
        m.addRow(file("tiny", "000000000000"));
        QCOMPARE(names(m), (QStringList{"tiny", "small", "mid", "big"}));
        m.setSortOrder(Qt::DescendingOrder);
        QCOMPARE(names(m), (QStringList{"big", "mid", "small", "tiny"}));
    }

    void keyColumnsOrderNumerically_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("expected");
        // A size of 1 TB and more has 13 digits; as plain text it would sort before 999 GB.
        QTest::newRow("size beyond 12 digits")
            << int(ColSizeKey) << QStringList{"1000000000000", "999999999999", "000000000512"}
            << QStringList{"000000000512", "999999999999", "1000000000000"};
        QTest::newRow("empty bit rate first")
            << int(ColBitrateKey) << QStringList{"00320", "", "00128"}
            << QStringList{"", "00128", "00320"};
        QTest::newRow("dates of different lengths")
            << int(ColDateKey) << QStringList{"30000000", "9999999", "29000000"}
            << QStringList{"9999999", "29000000", "30000000"};
        QTest::newRow("not a number: as text")
            << int(ColSizeKey) << QStringList{"b", "12", "A"} << QStringList{"12", "A", "b"};
    }
    void keyColumnsOrderNumerically() {
        QFETCH(int, column);
        QFETCH(QStringList, keys);
        QFETCH(QStringList, expected);
        ListingModel m;
        m.setSortKey(column);
        for (const QString& k : keys) {
            RowTexts e = file(k);
            e.sizeKey = e.dateKey = e.bitrateKey = k;
            m.addRow(e);
        }
        QCOMPARE(names(m), expected); // placed one by one
        m.setSortOrder(Qt::DescendingOrder);
        m.setSortOrder(Qt::AscendingOrder);
        QCOMPARE(names(m), expected); // and sorted as a whole
    }

    void scatteredRemoval() {
        ListingModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.beginBatch();
        for (int i = 0; i < 1000; ++i)
            m.addRow(file(QStringLiteral("f%1").arg(i, 4, 10, QLatin1Char('0'))));
        m.endBatch();
        std::vector<int> gone;
        for (int i = 0; i < 1000; i += 3)
            gone.push_back(i);
        m.removeRowsAt(gone);
        QCOMPARE(m.rowCount(), 666);
        QCOMPARE(m.text(0, ColName), QStringLiteral("f0001"));
        QCOMPARE(m.text(665, ColName), QStringLiteral("f0998"));
        // Removing most rows repacks the texts; every row still reads its own.
        std::vector<int> most(600);
        std::iota(most.begin(), most.end(), 0);
        m.removeRowsAt(most);
        QCOMPARE(m.rowCount(), 66);
        QCOMPARE(m.text(0, ColName), QStringLiteral("f0901"));
        QCOMPARE(m.text(0, ColSize), QStringLiteral(" 1 kB"));
        QCOMPARE(m.text(65, ColName), QStringLiteral("f0998"));
    }

    void selectionAndRemoval() {
        ListingModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QItemSelectionModel selection(&m);
        for (const char* n : {"a", "b", "c"})
            m.addRow(file(QString::fromLatin1(n)));
        selection.select(m.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QVERIFY(m.removeRows(0, 1));
        QCOMPARE(names(m), (QStringList{"b", "c"}));
        QVERIFY(selection.isRowSelected(1, {})); // the selection goes with its row
        m.sort(ColName, Qt::DescendingOrder);
        QVERIFY(selection.isRowSelected(0, {}) && !selection.isRowSelected(1, {}));
        QVERIFY(!m.removeRows(1, 5));
        m.clear();
        QCOMPARE(m.rowCount(), 0);
        QVERIFY(!selection.hasSelection());
    }

    // Rows move between stores in batches, whatever their texts' lengths: empty ones, runs that
    // cross from one chunk of a store to the next, names longer than a chunk, raw bytes kept for
    // some names and folders. Each row must read its own texts and bytes wherever it went, and
    // keep them once sorted in the background; a selected row's index follows it.
    void handOver_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("longest");    // name lengths cycle from 0 up to this
        QTest::addColumn<int>("batch");      // rows per hand-over
        QTest::addColumn<bool>("selection"); // a selected row: its index must follow it
        QTest::newRow("one row") << 1 << 3 << 1 << false;
        QTest::newRow("short names across chunks") << 20000 << 12 << 2048 << false;
        QTest::newRow("names longer than a chunk") << 6 << 70000 << 4 << false;
        QTest::newRow("mixed, odd batches") << 300 << 40000 << 7 << false;
        QTest::newRow("mixed, selected") << 300 << 40000 << 7 << true;
    }
    void handOver() {
        QFETCH(int, rows);
        QFETCH(int, longest);
        QFETCH(int, batch);
        QFETCH(bool, selection);
        // The row's number is its size key; its name repeats a letter, with a non-ASCII mark.
        auto nameOf = [&](int i) {
            const qsizetype length = qsizetype((qint64(i) * 7919) % (longest + 1));
            QString name(length, QChar(u'a' + i % 26));
            if (length > 0) name[length / 2] = QChar(u'\u00e9');
            return name;
        };
        // Every third row's name and every fifth folder are kept as raw bytes of their own.
        auto rawNameOf = [](int i) { return QByteArray("raw\xff") + QByteArray::number(i); };
        auto rawFolderOf = [](int i) {
            return QByteArray("d\xfe") + QByteArray::number(i % 5) + '/';
        };
        auto folderOf = [](int i) { return QStringLiteral("d%1/").arg(i % 5); };
        auto expectedPath = [&](int i) {
            return (i % 5 == 0 ? rawFolderOf(i) : folderOf(i).toUtf8()) +
                   (i % 3 == 0 ? rawNameOf(i) : nameOf(i).toUtf8());
        };
        auto idOf = [](const ListingModel& m, int row) { return m.text(row, ColSizeKey).toInt(); };

        ListingModel shown;
        QAbstractItemModelTester tester(&shown,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int first = 0; first < rows; first += batch) {
            ListingModel staging; // as a scan's worker lists: unsorted, in a batch
            staging.setSorted(false);
            staging.beginBatch();
            for (int i = first; i < std::min(rows, first + batch); ++i) {
                RowTexts e = file(nameOf(i), QStringLiteral("%1").arg(i, 12, 10, QLatin1Char('0')));
                e.folder = folderOf(i);
                const QByteArray rawName = rawNameOf(i), rawFolder = rawFolderOf(i);
                staging.addRow(FileEntryView{e.name,
                                             e.folder,
                                             e.sizeText,
                                             e.dateText,
                                             {},
                                             {},
                                             e.typeName,
                                             e.sizeKey,
                                             e.dateKey,
                                             {}},
                               false,
                               {i % 5 == 0 ? QByteArrayView(rawFolder) : QByteArrayView(),
                                i % 3 == 0 ? QByteArrayView(rawName) : QByteArrayView()});
            }
            staging.endBatch();
            shown.appendRows(staging.takeRows());
        }
        QCOMPARE(shown.rowCount(), rows);
        for (int r = 0; r < rows; ++r) {
            QCOMPARE(idOf(shown, r), r); // in the order added
            QCOMPARE(shown.text(r, ColName), nameOf(r));
            QCOMPARE(shown.text(r, ColFolder), folderOf(r));
            QCOMPARE(shown.text(r, ColSize), QStringLiteral(" 1 kB"));
            QCOMPARE(shown.text(r, ColTypeName), QStringLiteral("Text"));
            QCOMPARE(shown.rawPath(r), expectedPath(r));
        }

        QItemSelectionModel selected(&shown);
        const int chosen = rows - 1;
        if (selection)
            selected.select(shown.index(chosen, 0),
                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QSignalSpy done(&shown, &ListingModel::backgroundSortDone);
        shown.sortInBackground();  // by name, ascending
        QCOMPARE(done.count(), 0); // the rows are put in order off this thread, and told later
        QVERIFY(done.wait(20000));
        QTest::qWait(50);
        QCOMPARE(done.count(), 1);
        QCOMPARE(shown.rowCount(), rows);
        std::vector<bool> seen(std::size_t(rows), false);
        for (int r = 0; r < rows; ++r) {
            const int id = idOf(shown, r);
            QVERIFY(id >= 0 && id < rows && !seen[std::size_t(id)]);
            seen[std::size_t(id)] = true;
            QCOMPARE(shown.text(r, ColName), nameOf(id));
            QCOMPARE(shown.rawPath(r), expectedPath(id));
            if (r > 0)
                QVERIFY(ListingModel::compareTexts(shown.cell(r - 1, ColName),
                                                   shown.cell(r, ColName)) <= 0);
            if (selection) QCOMPARE(selected.isRowSelected(r, {}), id == chosen);
        }

        // Taken rows leave an empty model that lists again from scratch.
        const ListingModel::Store taken = shown.takeRows();
        QCOMPARE(taken.rows.size(), std::size_t(rows));
        QCOMPARE(shown.rowCount(), 0);
        shown.addRow(file(QStringLiteral("again")));
        QCOMPARE(names(shown), QStringList{QStringLiteral("again")});
        QCOMPARE(shown.text(0, ColTypeName), QStringLiteral("Text"));
    }

    // The rows' store against std::vector, with segments of four so that every operation
    // crosses segment boundaries: p<n> appends n numbers, i<at> inserts one, e<a>-<b> erases a
    // range, r<n> resizes, s shrinks, w swaps with an empty store and back.
    void segmentedStore_data() {
        QTest::addColumn<QString>("script");
        QTest::newRow("grow across segments") << "p1 p3 p4 p9";
        QTest::newRow("insert at both ends and inside") << "p9 i0 i10 i4 i4 i11";
        QTest::newRow("erase within, across, all") << "p13 e1-3 e2-9 e0-4";
        QTest::newRow("shrink, free, grow again") << "p17 r5 s r12 p3 s e0-15";
        QTest::newRow("swap keeps contents") << "p6 w i3 w p5";
        QTest::newRow("empty edges") << "s r0 w p1 e0-1 i0 e0-0";
    }
    void segmentedStore() {
        QFETCH(QString, script);
        struct Item {
            int value;
            int pad;
        };
        SegmentedVector<Item, 4> store;
        std::vector<int> expected;
        int next = 0;
        for (const QString& op : script.split(QLatin1Char(' '))) {
            const QStringList n = op.mid(1).split(QLatin1Char('-'));
            const std::size_t a = n[0].toULong(), b = n.size() > 1 ? n[1].toULong() : 0;
            switch (op[0].toLatin1()) {
            case 'p':
                for (std::size_t k = 0; k < a; ++k, ++next) {
                    store.push_back({next, 0});
                    expected.push_back(next);
                }
                break;
            case 'i':
                store.insert(a, {next, 0});
                expected.insert(expected.begin() + std::ptrdiff_t(a), next++);
                break;
            case 'e':
                store.erase(a, b);
                expected.erase(expected.begin() + std::ptrdiff_t(a),
                               expected.begin() + std::ptrdiff_t(b));
                break;
            case 'r':
                store.resize(a);
                expected.resize(a);
                break;
            case 's':
                store.shrink_to_fit();
                break;
            case 'w': {
                SegmentedVector<Item, 4> other;
                store.swap(other);
                QVERIFY(store.empty());
                store.swap(other);
                break;
            }
            }
            QCOMPARE(store.size(), expected.size());
            QCOMPARE(std::size_t(store.end() - store.begin()), expected.size());
            std::vector<int> got;
            for (const Item& item : store)
                got.push_back(item.value);
            QVERIFY2(got == expected, qPrintable(op));
        }
    }

    // A change while a background sort runs stops it: the sort's result must never land on rows
    // it was not made for, and whoever waits for it hears once that the rows are in order.
    void backgroundSortMeetsAChange_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("rowsAfter");
        QTest::addColumn<int>("doneSignals"); // once in order; none when the rows left
        QTest::newRow("rows removed: sorted again") << "remove" << 29999 << 1;
        QTest::newRow("rows added: sorted again") << "add" << 30001 << 1;
        QTest::newRow("sorted here instead") << "sort" << 30000 << 1;
        QTest::newRow("rows taken away") << "take" << 0 << 0;
    }
    void backgroundSortMeetsAChange() {
        QFETCH(QString, change);
        QFETCH(int, rowsAfter);
        QFETCH(int, doneSignals);
        ListingModel m; // sorted by name, ascending
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        ListingModel found; // rows as a scan hands them over: in no order
        found.setSorted(false);
        for (int i = 0; i < 30000; ++i) // enough to be still sorting when the change comes
            found.addRow(
                file(QStringLiteral("n%1").arg((i * 7919) % 30000, 5, 10, QLatin1Char('0'))));
        m.appendRows(found.takeRows());
        QSignalSpy done(&m, &ListingModel::backgroundSortDone);
        m.sortInBackground();
        if (change == "remove") QVERIFY(m.removeRows(0, 1));
        if (change == "add") m.addRow(file(QStringLiteral("zzz")));
        if (change == "sort") m.sort(ColName, Qt::DescendingOrder);
        if (change == "take") m.takeRows();
        QTest::qWait(300); // a stopped sort's result would arrive meanwhile
        if (done.count() < doneSignals) QVERIFY(done.wait(20000));
        QTest::qWait(50);
        QCOMPARE(done.count(), doneSignals);
        QCOMPARE(m.rowCount(), rowsAfter);
        const bool ascending = change != "sort";
        for (int r = 1; r < m.rowCount(); ++r) {
            const int c = ListingModel::compareTexts(m.cell(r - 1, ColName), m.cell(r, ColName));
            QVERIFY2(ascending ? c <= 0 : c >= 0, qPrintable(m.text(r, ColName)));
        }
        QTest::qWait(300); // no sort left running tells of itself later
        QCOMPARE(done.count(), doneSignals);
    }
};

QTEST_GUILESS_MAIN(TestListingModel)
#include "tst_listingmodel.moc"
