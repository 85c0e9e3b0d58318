#include "RowTexts.h"
#include "listing/Clipboard.h"
#include "listing/ListingModel.h"

#include <QTest>

using namespace treelan;

namespace {

const QString kRoot = QStringLiteral("/m/");

// Root /m/: a/x.mp3 of 12,345 bytes of 5 March 2004, and a subfolder row for sub/.
void fill(ListingModel& m) {
    m.setSorted(false);
    RowTexts f;
    f.name = QStringLiteral("x.mp3");
    f.folder = QStringLiteral("a/");
    f.sizeText = QStringLiteral(" 12 kB");
    f.dateText = QStringLiteral("5.3.2004");
    f.durationText = QStringLiteral("00:04:10");
    f.bitrateText = QStringLiteral("128 kbps");
    f.typeName = QStringLiteral("MP3 audio");
    f.sizeKey = QStringLiteral("000000012345");
    m.addRow(f);
    RowTexts s;
    s.folder = QStringLiteral("sub/");
    s.sizeText = QStringLiteral("<Folder>");
    m.addRow(s, true);
}

} // namespace

class TestClipboard : public QObject {
    Q_OBJECT
private slots:
    void text_data() {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<bool>("fullPath");
        QTest::addColumn<int>("narrowColumn"); // set to 10 twips; -1 for none
        QTest::addColumn<QString>("expected");
        QTest::newRow("full path")
            << "1100" << true << -1 << "/m/a/x.mp3\t12 kB\t5.3.2004\r\n/m/sub/\t<Folder>\t\r\n";
        QTest::newRow("full path off")
            << "1100" << false << -1 << "a/x.mp3\t12 kB\t5.3.2004\r\nsub/\t<Folder>\t\r\n";
        QTest::newRow("all optional hidden") << "0000" << true << -1 << "/m/a/x.mp3\r\n/m/sub/\r\n";
        QTest::newRow("all shown")
            << "1111" << false << -1
            << "a/x.mp3\t12 kB\t5.3.2004\t00:04:10\t128 kbps\r\nsub/\t<Folder>\t\t\t\r\n";
        QTest::newRow("10 twips left out")
            << "1100" << false << int(ColSize) << "a/x.mp3\t5.3.2004\r\nsub/\t\r\n";
    }
    void text() {
        QFETCH(QString, rows);
        QFETCH(bool, fullPath);
        QFETCH(int, narrowColumn);
        QFETCH(QString, expected);
        ListingModel m;
        fill(m);
        m.columns().arrangeColumns(rows);
        if (narrowColumn >= 0) m.columns().setColumnWidth(narrowColumn, 10.0);
        QCOMPARE(ClipboardText(m, kRoot, fullPath), expected);
    }

    void selectedOnly() {
        ListingModel m;
        fill(m);
        m.columns().arrangeColumns(QStringLiteral("0000"));
        QCOMPARE(ClipboardText(m, kRoot, false, std::vector<int>{}), QString());
        QCOMPARE(ClipboardText(m, kRoot, false, std::vector<int>{1}), QStringLiteral("sub/\r\n"));
        QCOMPARE(ClipboardText(ListingModel(), kRoot, true), QString());
    }
};

QTEST_GUILESS_MAIN(TestClipboard)
#include "tst_clipboard.moc"
