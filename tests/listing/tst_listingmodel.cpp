#include "listing/ListingModel.h"
#include "settings/GuiStrings.h"

#include <QAbstractItemModelTester>
#include <QTest>

using namespace treelan;

namespace {

FileEntry file(const QString& name, const QString& sizeKey = {}) {
    FileEntry e;
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
    for (int c : m.visibleColumns())
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
        m.arrangeColumns(rows);
        QCOMPARE(visible(m), columns);
        QCOMPARE(m.rowsSetting(), setting);
        for (int c = ColTypeName; c < kListingColumns; ++c)
            QCOMPARE(m.columnWidth(c), 0.0);
        // Every display position is taken exactly once, and maps onto a header's visual index.
        QList<int> seen;
        for (int c = 0; c < kListingColumns; ++c)
            seen << m.displayPosition(c);
        std::sort(seen.begin(), seen.end());
        for (int i = 0; i < kListingColumns; ++i)
            QCOMPARE(seen[i], i + 1);
        QCOMPARE(m.visualIndex(ColName), m.displayPosition(ColName) - 1);
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
        m.arrangeColumns(rows);
        for (int i : toggles) {
            m.setViewItemTicked(i, !m.viewItemTicked(i));
            m.ShowColumn(i);
        }
        QCOMPARE(visible(m), columns);
    }

    void displayPositionShiftsOthers() {
        ListingModel m;
        m.setDisplayPosition(ColDate, 1); // a drag of Date to the front
        QCOMPARE(m.displayPosition(ColDate), 1);
        QCOMPARE(m.displayPosition(ColName), 2);
        QCOMPARE(m.displayPosition(ColSize), 4);
        QCOMPARE(m.displayPosition(ColDuration), 5);
    }

    void headings() {
        ListingModel m;
        QCOMPARE(m.headerData(ColName, Qt::Horizontal).toString(), GetGuiString(120));
        QCOMPARE(m.headerData(ColBitrate, Qt::Horizontal).toString(), GetGuiString(126));
        QCOMPARE(m.columnTag(ColDuration), QStringLiteral("125"));
        QVERIFY(m.headerData(ColTypeName, Qt::Horizontal).toString().isEmpty());
        QCOMPARE(m.columnAlignment(ColSize), Qt::AlignRight);
    }

    void subfolderRowHasNoKeys() {
        ListingModel m;
        FileEntry e = file(QString(), QStringLiteral("000000000001"));
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
        std::vector<FileEntry> entries;
        for (const QString& n : added)
            entries.push_back(file(n));
        batch.appendRows(entries);
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

    void selectionAndRemoval() {
        ListingModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (const char* n : {"a", "b", "c"})
            m.addRow(file(QString::fromLatin1(n)));
        m.setSelected(2, true);
        QVERIFY(m.removeRows(0, 1));
        QCOMPARE(names(m), (QStringList{"b", "c"}));
        QVERIFY(m.isSelected(1)); // the flag goes with its row
        QVERIFY(!m.removeRows(1, 5));
        m.clear();
        QCOMPARE(m.rowCount(), 0);
        QCOMPARE(m.selectedCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestListingModel)
#include "tst_listingmodel.moc"
