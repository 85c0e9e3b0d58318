#include "ScanWait.h"
#include "SearchCases.h"
#include "TempTree.h"
#include "listing/ListingModel.h"
#include "settings/SettingsStore.h"
#include "settings/StringTable.h"
#include "ui/FilterStrip.h"
#include "ui/FootStrip.h"
#include "ui/Startup.h"
#include "ui/Twips.h"
#include "ui/frmExport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace treelan;

namespace {

// The name a row shows as: a file's own, a subfolder row's folder without its "/".
QString rowName(const ListingModel& m, int row) {
    return m.isSubfolderRow(row) ? m.text(row, ColFolder).chopped(1) : m.text(row, ColName);
}

QSet<QString> shownNames(const ListingModel& m) {
    QSet<QString> names;
    for (int r = 0; r < m.rowCount(); ++r)
        names << rowName(m, r);
    return names;
}

int rowNamed(const ListingModel& m, const QString& name) {
    for (int r = 0; r < m.rowCount(); ++r)
        if (rowName(m, r) == name) return r;
    return -1;
}

QSet<QString> selectedNames(const frmExport& w) {
    QSet<QString> names;
    for (const int r : w.selectedRows())
        names << rowName(*w.model(), r);
    return names;
}

// Types a pattern into the filter box, key by key as a person does, and waits for its rows.
bool typeFilter(frmExport& w, const QString& pattern) {
    QLineEdit* box = w.filterStrip()->box();
    box->clear();
    for (const QChar c : pattern) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(box, char(c.unicode()));
        } else { // what a keyboard layout or an input method types
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(box, &press);
        }
    }
    return QTest::qWaitFor([&] { return !w.model()->isFilterPending(); }, 10000) &&
           w.model()->filter() == pattern;
}

// The folder's entries that a shell-style name filter takes, counted apart from the program.
struct DirCount {
    qint64 files = 0, folders = 0, bytes = 0;
    QStringList fileNames;
};
DirCount countEntries(const QString& root, const QString& nameFilter) {
    DirCount c;
    const auto entries = QDir(root).entryInfoList(
        {nameFilter}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& e : entries) {
        if (e.isDir()) {
            ++c.folders;
        } else {
            ++c.files;
            c.bytes += e.size();
            c.fileNames << e.fileName();
        }
    }
    c.fileNames.sort();
    return c;
}

} // namespace

class TestFilter : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_settings;
    TempTree m_tree;
    QList<SearchCase> m_cases;
    std::unique_ptr<frmExport> m_w;
    qsizetype m_entries = 0;

private slots:
    void initTestCase() {
        QVERIFY(m_settings.isValid());
        SetSettingsDirectory(m_settings.path());
        SetIniPath(QString());
        LoadDefaultStrings();
        // One entry per name of the shared table, files of differing sizes.
        m_cases = ReadSearchCases(QStringLiteral(TREELAN_TEST_DATA "/search-cases.tsv"));
        QSet<QString> made;
        for (const SearchCase& c : m_cases) {
            if (made.contains(c.name)) continue;
            made << c.name;
            if (c.folder)
                m_tree.createDir(c.name);
            else
                m_tree.createFile(c.name, QByteArray(100 * c.line, 'x'));
        }
        m_w = std::make_unique<frmExport>(m_tree.root());
        m_w->setOuterSizeTwips(12000, 9000);
        m_w->show();
        QVERIFY(WaitForScan(*m_w));
        m_entries = made.size();
        QCOMPARE(m_w->model()->rowCount(), int(m_entries));
    }
    void cleanup() {
        // Each test starts from the whole list.
        typeFilter(*m_w, QString());
        m_w->listView()->clearSelection();
        m_w->findChild<QCheckBox*>(QStringLiteral("chkSelected"))->setChecked(false);
    }
    void cleanupTestCase() { m_w.reset(); }

    // Each name of the table shows or hides as the table says, typed into the box.
    void sharedCases_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("expected");
        for (const SearchCase& c :
             ReadSearchCases(QStringLiteral(TREELAN_TEST_DATA "/search-cases.tsv")))
            QTest::addRow("line %d: %s ~ %s", c.line, qPrintable(c.pattern), qPrintable(c.name))
                << c.pattern << c.name << c.expected;
    }
    void sharedCases() {
        QFETCH(QString, pattern);
        QFETCH(QString, name);
        QFETCH(bool, expected);
        QVERIFY(typeFilter(*m_w, pattern));
        QCOMPARE(shownNames(*m_w->model()).contains(name), expected);
    }

    // The selection of rows that stay shown is kept, through the filter and its clearing by Esc.
    void selectionKept() {
        ListingModel& m = *m_w->model();
        QItemSelection selection;
        for (const char* name : {"rock.txt", "track 2.mp3", "Rock & Roll"}) {
            const int row = rowNamed(m, QString::fromUtf8(name));
            QVERIFY(row >= 0);
            selection.select(m.index(row, 0), m.index(row, kListingColumns - 1));
        }
        m_w->listView()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        QVERIFY(typeFilter(*m_w, QStringLiteral("f:rock")));
        QCOMPARE(selectedNames(*m_w), QSet<QString>({"rock.txt"}));
        QTest::keyClick(m_w->filterStrip()->box(), Qt::Key_Escape);
        QVERIFY(QTest::qWaitFor([&] { return !m.isFiltered(); }, 10000));
        QCOMPARE(selectedNames(*m_w), QSet<QString>({"rock.txt"}));
        QVERIFY(m_w->filterStrip()->text().isEmpty());
    }

    // Copy, "Selected items only" and the export leave out the rows the filter hides.
    void hiddenRowsLeftOut_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("nameFilter"); // the same, as QDir reads it
        QTest::newRow("mp3") << "*.mp3"
                             << "*.mp3";
        QTest::newRow("txt files") << "f:*.TXT"
                                   << "*.txt";
        QTest::newRow("prefix") << "track*"
                                << "track*";
    }
    void hiddenRowsLeftOut() {
        QFETCH(QString, pattern);
        QFETCH(QString, nameFilter);
        const DirCount want = countEntries(m_tree.root(), nameFilter);
        QVERIFY(typeFilter(*m_w, pattern));
        auto* copy = m_w->findChild<QPushButton*>(QStringLiteral("cmdCopy"));
        QVERIFY(copy->isEnabled());
        QVERIFY(copy->toolTip().contains(QStringLiteral("filter")));
        const auto copiedNames = [&] {
            copy->click();
            QStringList names;
            for (const QString& line : QApplication::clipboard()->text().split(
                     QStringLiteral("\r\n"), Qt::SkipEmptyParts))
                names << line.section(QLatin1Char('\t'), 0, 0);
            names.sort();
            return names;
        };
        QCOMPARE(copiedNames(), want.fileNames);
        m_w->findChild<QCheckBox*>(QStringLiteral("chkSelected"))->setChecked(true);
        m_w->listView()->selectAll();
        QCOMPARE(copiedNames(), want.fileNames);
        // The export: every entry the filter hides is removed, none it shows.
        const ExportOptions options = m_w->exportOptions();
        const QSet<QString> shown = shownNames(*m_w->model());
        const auto all = QDir(m_tree.root())
                             .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        QCOMPARE(all.size(), m_entries);
        for (const QFileInfo& e : all) {
            const QByteArray raw = e.fileName().toUtf8();
            const bool removed = e.isDir() ? options.removed.containsFolder(raw + '/')
                                           : options.removed.containsFile(raw);
            QVERIFY2(removed != shown.contains(e.fileName()), qPrintable(e.fileName()));
        }
    }

    // The foot strip's totals against sums made here, for the shown rows and the selection.
    void totals_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("nameFilter");
        QTest::newRow("all") << ""
                             << "*";
        QTest::newRow("mp3") << "*.mp3"
                             << "*.mp3";
        QTest::newRow("txt") << "*.txt"
                             << "*.txt";
        QTest::newRow("nothing") << "no such name"
                                 << "no such name";
    }
    void totals() {
        QFETCH(QString, pattern);
        QFETCH(QString, nameFilter);
        const DirCount want = countEntries(m_tree.root(), nameFilter);
        m_w->listView()->clearSelection(); // a refresh selects the first row
        QVERIFY(typeFilter(*m_w, pattern));
        // Sizes in kB rounded half up; all of them below 1 000 kB, so without a group space.
        const QString kB = QStringLiteral("%1 kB").arg((want.bytes + 512) / 1024);
        const QString shown = QStringLiteral("%1 %2, %3 %4: %5, 00:00:00")
                                  .arg(want.files)
                                  .arg(want.files == 1 ? "file" : "files")
                                  .arg(want.folders)
                                  .arg(want.folders == 1 ? "folder" : "folders")
                                  .arg(kB);
        QTRY_COMPARE(m_w->footStrip()->totalsLabel()->text(), shown);
        QVERIFY(m_w->footStrip()->isVisible());
        m_w->listView()->selectAll();
        const QString selected = want.files + want.folders == 0
                                     ? shown
                                     : shown + QStringLiteral("; %1 selected: %2, 00:00:00")
                                                   .arg(want.files + want.folders)
                                                   .arg(kB);
        QTRY_COMPARE(m_w->footStrip()->totalsLabel()->text(), selected);
        m_w->listView()->clearSelection();
    }

    // Ctrl+F opens the box over the rows, inside the list's place; Esc on an empty box goes back
    // to the list, and the strip goes with the focus.
    void stripsInsideTheListsPlace() {
        QApplication::setActiveWindow(m_w.get());
        QVERIFY(QTest::qWaitForWindowActive(m_w.get()));
        m_w->listView()->setFocus();
        const QRect place = TwipsScale::of(m_w.get()).toPixels(m_w->controlTwips(m_w->listView()));
        QVERIFY(!m_w->filterStrip()->isVisible());
        QTest::keyClick(m_w->listView(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(m_w->filterStrip()->box()->hasFocus());
        QVERIFY(m_w->filterStrip()->isVisible());
        const QRect filter = m_w->filterStrip()->geometry();
        const QRect list = m_w->listView()->geometry();
        const QRect foot = m_w->footStrip()->geometry();
        QCOMPARE(filter.top(), place.top());
        QCOMPARE(list.top(), filter.bottom() + 1);
        QCOMPARE(foot.top(), list.bottom() + 1);
        QCOMPARE(foot.bottom(), place.bottom());
        QTest::keyClick(m_w->filterStrip()->box(), Qt::Key_Escape);
        QTRY_VERIFY(m_w->listView()->hasFocus());
        QVERIFY(!m_w->filterStrip()->isVisible());
        QCOMPARE(m_w->listView()->geometry().top(), place.top());
    }

    // The View items save their own settings; the Rows setting keeps its four characters.
    void viewItemsSaved() {
        QAction* box = m_w->mnuFilterBox();
        QAction* totals = m_w->mnuTotals();
        QVERIFY(!box->isChecked());
        QVERIFY(totals->isChecked());
        box->trigger();
        QVERIFY(m_w->filterStrip()->isVisible());
        totals->trigger();
        QTRY_VERIFY(m_w->footStrip()->totalsLabel()->text().isEmpty());
        QCOMPARE(GetSetting("Treelan", "Startup", "FilterBox", "?"), QStringLiteral("1"));
        QCOMPARE(GetSetting("Treelan", "Startup", "Totals", "?"), QStringLiteral("0"));
        m_w->mnuView(3)->trigger();
        QCOMPARE(GetSetting("Treelan", "Startup", "Rows", "?"), QStringLiteral("1101"));
        frmExport again(m_tree.root());
        QVERIFY(again.mnuFilterBox()->isChecked());
        QVERIFY(!again.mnuTotals()->isChecked());
        WaitForScan(again);
        box->trigger();
        totals->trigger();
        m_w->mnuView(3)->trigger();
    }

    // A media column shows after Bitrate, sorts by number from its header and is copied after
    // the other columns.
    void mediaColumns() {
        ListingModel& m = *m_w->model();
        for (const char* track : {"9", "10", "2/12"}) {
            FileEntryView row{};
            const QString name = QStringLiteral("t%1.mp3").arg(QString::fromLatin1(track).at(0));
            const QString value = QString::fromLatin1(track);
            row[ColName] = name;
            row[std::size_t(ColMedia) + std::size_t(MediaField::Track)] = value;
            m.addRow(row);
        }
        const int track = ColMedia + int(MediaField::Track);
        m_w->mnuView(3)->trigger(); // Bitrate
        m_w->mnuMediaColumn(int(MediaField::Track))->trigger();
        QHeaderView* header = m_w->listView()->horizontalHeader();
        QVERIFY(!header->isSectionHidden(track));
        QCOMPARE(header->visualIndex(track), header->visualIndex(ColBitrate) + 1);
        m_w->lv_ColumnClick(track); // the list was ascending by name: now descending by track
        QCOMPARE(m.text(0, track), QStringLiteral("10"));
        QCOMPARE(m.text(1, track), QStringLiteral("9"));
        QCOMPARE(m.text(2, track), QStringLiteral("2/12"));
        m_w->lv_ColumnClick(track);
        QCOMPARE(m.text(m.rowCount() - 1, track), QStringLiteral("10"));
        m_w->findChild<QPushButton*>(QStringLiteral("cmdCopy"))->click();
        QVERIFY2(QApplication::clipboard()->text().contains(QStringLiteral("t1.mp3\t\t\t\t10\r\n")),
                 qPrintable(QApplication::clipboard()->text()));
        m_w->mnuMediaColumn(int(MediaField::Track))->trigger();
        m_w->mnuView(3)->trigger();
        m_w->RefreshListing();
        QVERIFY(WaitForScan(*m_w));
    }

    // A refresh under a filter shows only the matching rows as they come.
    void filterHoldsAcrossRefresh() {
        QVERIFY(typeFilter(*m_w, QStringLiteral("*.mp3")));
        m_w->RefreshListing();
        QVERIFY(WaitForScan(*m_w));
        QCOMPARE(shownNames(*m_w->model()), QSet<QString>({"track 10.mp3", "track 2.mp3"}));
        QCOMPARE(m_w->model()->storedRowCount(), int(m_entries));
        // A refresh that shows no row under the filter, then deleting every shown row: Copy
        // stays for the rows the filter hides.
        auto* copy = m_w->findChild<QPushButton*>(QStringLiteral("cmdCopy"));
        QVERIFY(typeFilter(*m_w, QStringLiteral("no such name")));
        m_w->RefreshListing();
        QVERIFY(WaitForScan(*m_w));
        QVERIFY(copy->isEnabled());
        QVERIFY(typeFilter(*m_w, QStringLiteral("rock.txt")));
        m_w->listView()->selectAll();
        m_w->DeleteSelectedRows();
        QCOMPARE(m_w->model()->rowCount(), 0);
        QVERIFY(copy->isEnabled());
        QVERIFY(typeFilter(*m_w, QString()));
        QCOMPARE(m_w->model()->rowCount(), int(m_entries) - 1);
    }
};

QTEST_MAIN(TestFilter)
#include "tst_filter.moc"
