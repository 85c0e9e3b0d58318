#include "ExportScript.h"
#include "ScanWait.h"
#include "TempTree.h"
#include "listing/ListingModel.h"
#include "listing/ListingScan.h"
#include "settings/SettingsStore.h"
#include "settings/StringTable.h"
#include "ui/WarningsDialog.h"
#include "ui/frmExport.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <set>
#include <unistd.h>

using namespace treelan;

namespace {

// Files each listed once, in name order: what any finished scan must leave.
void verifySortedAndUnique(const ListingModel& m) {
    std::set<QString> seen;
    for (int r = 0; r < m.rowCount(); ++r) {
        const QString path = m.text(r, ColFolder) + m.text(r, ColName);
        QVERIFY2(seen.insert(path).second, qPrintable(path));
        if (r > 0)
            QVERIFY(ListingModel::compareTexts(m.cell(r - 1, ColName), m.cell(r, ColName)) <= 0);
    }
}

// Runs the event loop until the window's refresh has ended.
void runUntilFinished(frmExport& w) {
    if (!w.isScanning()) return;
    QEventLoop loop;
    QObject::connect(&w, &frmExport::scanFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
}

// As root every permission check passes; file access runs as "nobody" meanwhile, so that a
// folder or file without read permission is unreadable to the scan as to a user.
class WithoutPrivileges {
public:
    WithoutPrivileges() : m_dropped(::geteuid() == 0 && ::seteuid(65534) == 0) {}
    ~WithoutPrivileges() {
        if (m_dropped && ::seteuid(0) != 0) qFatal("cannot restore the effective user");
    }
    WithoutPrivileges(const WithoutPrivileges&) = delete;
    WithoutPrivileges& operator=(const WithoutPrivileges&) = delete;

private:
    bool m_dropped;
};

// The window with its walk held: `hold` runs on the worker after each folder's hand-over. Set it
// before the refresh it is for.
class HeldWindow : public frmExport {
public:
    using frmExport::frmExport;
    std::function<void()> hold;

protected:
    ScanOptions scanOptions() const override {
        ScanOptions options = frmExport::scanOptions();
        if (hold)
            options.walk.progress = [hold = hold](const WalkProgress&) {
                hold();
                return true;
            };
        return options;
    }
};

} // namespace

class TestBackgroundScan : public QObject {
    Q_OBJECT

    QTemporaryDir m_settings;
    std::unique_ptr<TempTree> m_big; // many folders: a scan long enough to be interrupted
    int m_bigFiles = 0;

private slots:
    void initTestCase() {
        QVERIFY(m_settings.isValid());
        SetSettingsDirectory(m_settings.path());
        SetIniPath(QString());
        LoadDefaultStrings();
        m_big = std::make_unique<TempTree>();
        for (int d = 0; d < 2000; ++d)
            for (int f = 0; f < 6; ++f) {
                m_big->createFile(
                    QStringLiteral("d%1/f%2.txt").arg(d, 4, 10, QLatin1Char('0')).arg(f),
                    QByteArray());
                ++m_bigFiles;
            }
    }

    // Cancel as soon as the first rows show: the rows found so far stay, sorted, marked
    // incomplete, and the model's signals stay consistent throughout.
    void cancelMidScan() {
        HeldWindow w(m_big->root());
        QAbstractItemModelTester tester(w.model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(WaitForScan(w));
        auto* scan = w.findChild<ListingScan*>();
        QVERIFY(scan);
        // The walk waits after its first folders until the cancel, however fast the machine.
        std::atomic<bool> cancelled = false;
        w.hold = [&cancelled] {
            for (int i = 0; i < 2000 && !cancelled; ++i)
                QThread::msleep(5);
        };
        connect(scan, &ListingScan::rowsFound, &w, [&] {
            if (!cancelled) w.findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
            cancelled = true;
        });
        w.findChild<QCheckBox*>(QStringLiteral("chkTree"))->setChecked(true);
        QVERIFY(w.isScanning());
        QVERIFY(!w.findChild<QPushButton*>(QStringLiteral("cmdCopy"))->isEnabled());
        runUntilFinished(w);
        QVERIFY(cancelled);
        QVERIFY(!w.isScanning());
        QVERIFY(!w.isListingComplete());
        QVERIFY(w.model()->rowCount() > 0);
        QVERIFY2(w.model()->rowCount() < m_bigFiles, "the scan ended before the cancel");
        verifySortedAndUnique(*w.model());
        QVERIFY(w.scanStatusText().contains(QStringLiteral("incomplete")));
        QVERIFY(w.findChild<QPushButton*>(QStringLiteral("cmdCopy"))->isEnabled());
        QVERIFY(w.findChild<QPushButton*>(QStringLiteral("cmdExport"))->isEnabled());
    }

    // A second refresh while the first runs: only the second one's rows arrive, complete. The
    // walk is held from its worker: its folders take longer than a batch's period until the
    // restart, so batches keep coming and the restart always lands mid-walk however fast the
    // machine.
    void refreshWhileRunning_data() {
        QTest::addColumn<int>("restartAfterBatches"); // row batches seen before the restart
        QTest::newRow("before any rows") << 0;
        QTest::newRow("after the first rows") << 1;
        QTest::newRow("after two batches") << 2;
    }
    void refreshWhileRunning() {
        QFETCH(int, restartAfterBatches);
        // Before the window: the worker's hold reads it until its thread is joined.
        int seen = 0;
        std::atomic<bool> restarted{false};
        HeldWindow w(m_big->root());
        QAbstractItemModelTester tester(w.model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(WaitForScan(w));
        auto* scan = w.findChild<ListingScan*>();
        auto* tree = w.findChild<QCheckBox*>(QStringLiteral("chkTree"));
        auto* mp3 = w.findChild<QCheckBox*>(QStringLiteral("chkmp3"));
        w.hold = [&] {
            // Folders slower than a batch's period: the next batch is due before the walk ends.
            if (!restarted) QThread::msleep(ListingScan::kBatchMs / 4);
        };
        auto restart = [&] {
            if (restarted) return;
            restarted = true;
            mp3->setChecked(true); // a check box refreshes: the running scan is cancelled
        };
        connect(scan, &ListingScan::rowsFound, &w, [&] {
            if (++seen >= restartAfterBatches) restart();
        });
        tree->setChecked(true);
        if (restartAfterBatches == 0) restart();
        QVERIFY(w.isScanning());
        runUntilFinished(w);
        QVERIFY2(restarted, "the walk ended before the restart point");
        runUntilFinished(w);
        QVERIFY(!w.isScanning());
        QVERIFY(w.isListingComplete());
        QCOMPARE(w.model()->rowCount(), m_bigFiles);
        verifySortedAndUnique(*w.model());
    }

    // What the user does to the list while the scan runs stays done when it ends: a deleted row
    // does not come back, a header sort is the order the finished list has. The walk is slowed
    // until the change is made on the first batch.
    void changeWhileScanning_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("delete the first row") << "delete";
        QTest::newRow("sort by name, descending") << "sort";
    }
    void changeWhileScanning() {
        QFETCH(QString, change);
        std::atomic<bool> changed{false};
        HeldWindow w(m_big->root());
        QAbstractItemModelTester tester(w.model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(WaitForScan(w));
        auto* scan = w.findChild<ListingScan*>();
        w.hold = [&] {
            if (!changed) QThread::msleep(ListingScan::kBatchMs / 4);
        };
        QString deleted;
        connect(scan, &ListingScan::rowsFound, &w, [&] {
            if (changed) return;
            if (change == "delete") {
                deleted = w.model()->text(0, ColFolder) + w.model()->text(0, ColName);
                w.listView()->selectRow(0);
                w.DeleteSelectedRows();
            } else {
                w.lv_ColumnClick(ColName); // from ascending, the default, to descending
            }
            changed = true;
        });
        w.findChild<QCheckBox*>(QStringLiteral("chkTree"))->setChecked(true);
        runUntilFinished(w);
        QVERIFY(changed);
        QVERIFY(w.isListingComplete());
        const ListingModel& m = *w.model();
        QCOMPARE(m.rowCount(), change == "delete" ? m_bigFiles - 1 : m_bigFiles);
        std::set<QString> paths;
        for (int r = 0; r < m.rowCount(); ++r)
            QVERIFY(paths.insert(m.text(r, ColFolder) + m.text(r, ColName)).second);
        if (change == "delete") {
            QVERIFY2(!paths.count(deleted), qPrintable(deleted));
            verifySortedAndUnique(m);
        } else {
            QCOMPARE(m.sortKey(), int(ColName));
            QCOMPARE(m.sortOrder(), Qt::DescendingOrder);
            for (int r = 1; r < m.rowCount(); ++r)
                QVERIFY(ListingModel::compareTexts(m.cell(r - 1, ColName), m.cell(r, ColName)) >=
                        0);
        }
    }

    // What could not be read is counted in the window and listed with path and reason.
    void warningsListed_data() {
        QTest::addColumn<QString>("entry");      // made by the row's setup
        QTest::addColumn<QString>("reasonPart"); // in the reason
        QTest::newRow("MP3 behind a dangling link") << "gone.mp3"
                                                    << "MP3";
        QTest::newRow("MP3 without read permission") << "locked.mp3"
                                                     << "MP3";
        QTest::newRow("folder without read permission") << "closed/"
                                                        << "ermission";
        QTest::newRow("link back to a folder above") << "sub/up/"
                                                     << "leads back";
    }
    void warningsListed() {
        QFETCH(QString, entry);
        QFETCH(QString, reasonPart);
        TempTree t;
        t.setMode(QString(), 0755);
        t.createFile(QStringLiteral("ok.txt"), "fine");
        if (entry == QLatin1String("gone.mp3"))
            t.createSymlink(entry, QStringLiteral("nowhere.mp3"));
        if (entry == QLatin1String("locked.mp3")) {
            t.createFile(entry, "ID3");
            t.setMode(entry, 0);
        }
        if (entry == QLatin1String("closed/")) {
            t.createFile(QStringLiteral("closed/inside.txt"), "x");
            t.setMode(QStringLiteral("closed"), 0);
        }
        if (entry == QLatin1String("sub/up/")) {
            t.createDir(QStringLiteral("sub"));
            t.createSymlink(QStringLiteral("sub/up"), QStringLiteral(".."));
        }
        WithoutPrivileges user;
        frmExport w(t.root());
        QVERIFY(WaitForScan(w));
        w.findChild<QCheckBox*>(QStringLiteral("chkTree"))->setChecked(true);
        w.findChild<QCheckBox*>(QStringLiteral("chkmp3"))->setChecked(true);
        QVERIFY(WaitForScan(w));
        QCOMPARE(int(w.warnings().size()), 1);
        QCOMPARE(w.warnings().front().path, t.root() + entry);
        QVERIFY2(w.warnings().front().reason.contains(reasonPart),
                 qPrintable(w.warnings().front().reason));
        QVERIFY(w.scanStatusText().contains(QStringLiteral("1 entries could not be read")) ||
                w.scanStatusText().contains(QStringLiteral("1 entry could not be read")));
        QVERIFY(w.findChild<QPushButton*>(QStringLiteral("cmdWarnings"))->isVisibleTo(&w));
        // The dialog shows the same lines, selectable and copyable.
        WarningsDialog dialog(w.warnings());
        const QString text = dialog.findChild<QPlainTextEdit*>()->toPlainText();
        QCOMPARE(text, t.root() + entry + QLatin1Char('\t') + w.warnings().front().reason +
                           QLatin1Char('\n'));
        // A refresh starts the count afresh.
        w.RefreshListing();
        QCOMPARE(int(w.warnings().size()), 0);
        QVERIFY(WaitForScan(w));
    }

    // Cancel in the export's progress dialog: no file is left, a file already there keeps its
    // bytes, and no failure is reported.
    void cancelledExportLeavesNothing_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("before"); // the target's bytes before; null: no file
        QTest::newRow("web archive, new file") << 1 << QByteArray();
        QTest::newRow("generic XML over an existing file") << 3 << QByteArray("<old/>");
        QTest::newRow("web archive over an existing file") << 1 << QByteArray("old bytes");
    }
    void cancelledExportLeavesNothing() {
        QFETCH(int, format);
        QFETCH(QByteArray, before);
        QTemporaryDir out;
        const QString target = out.filePath(QStringLiteral("listing.out"));
        if (!before.isNull()) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(before);
        }
        HeldWindow w(m_big->root(), QStringLiteral(TREELAN_RESOURCE_DIR));
        QVERIFY(WaitForScan(w));
        w.findChild<QCheckBox*>(QStringLiteral("chkTree"))->setChecked(true);
        QVERIFY(WaitForScan(w));
        ScriptedExport script;
        // The export's walk waits at its first folder until the dialog has been cancelled, so
        // the cancel always comes before the document is in place, however fast the machine.
        std::atomic<bool> cancelled = false;
        w.hold = [&cancelled] {
            for (int i = 0; i < 2000 && !cancelled; ++i)
                QThread::msleep(5);
        };
        QTimer poll;
        connect(&poll, &QTimer::timeout, &w, [&] {
            auto* progress = w.findChild<QProgressDialog*>(QStringLiteral("exportProgress"));
            if (!progress || cancelled) return;
            // The user's way: the dialog's button, which stops the worker before it returns.
            auto* button = progress->findChild<QPushButton*>();
            QVERIFY(button);
            button->click();
            cancelled = true;
        });
        poll.start(0);
        script.run(w, target, format);
        QVERIFY(cancelled);
        QCOMPARE(script.reporter.messages, QStringList());
        if (before.isNull())
            QVERIFY(!QFile::exists(target));
        else
            QCOMPARE(ReadFileBytes(target), before);
        const QStringList left = QDir(out.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left,
                 before.isNull() ? QStringList() : QStringList{QStringLiteral("listing.out")});
    }
};

QTEST_MAIN(TestBackgroundScan)
#include "tst_backgroundscan.moc"
