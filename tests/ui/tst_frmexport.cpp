#include "ScanWait.h"
#include "TempTree.h"
#include "TreelanConfig.h"
#include "listing/ListingModel.h"
#include "settings/SettingsStore.h"
#include "settings/StringTable.h"
#include "ui/Dialogs.h"
#include "ui/FolderDialog.h"
#include "ui/Startup.h"
#include "ui/frmExport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace treelan;

namespace {

// Answers the folder dialog without a person and remembers what it was asked.
struct DialogScript {
    bool confirm = true;
    QString chosen;
    QString seenPrompt;
    QString seenStart;
    int calls = 0;
};

class ScriptedDialog : public FolderDialog {
public:
    explicit ScriptedDialog(DialogScript& script) : m_script(script) {}
    bool Browse() override {
        ++m_script.calls;
        m_script.seenPrompt = prompt;
        m_script.seenStart = startFolder;
        if (!m_script.confirm) return false;
        m_chosen = m_script.chosen;
        return true;
    }

private:
    DialogScript& m_script;
};

// The folder dialog and the browser, answered by the script while it is installed.
class ScriptedDialogs : public Dialogs {
public:
    DialogScript* folder = nullptr;
    QList<QUrl> opened;

    ScriptedDialogs() : m_previous(SetDialogs(this)) {}
    ~ScriptedDialogs() override { SetDialogs(m_previous); }
    std::unique_ptr<FolderDialog> folderDialog(QWidget* owner) override {
        if (!folder) return Dialogs::folderDialog(owner);
        return std::make_unique<ScriptedDialog>(*folder);
    }
    bool openUrl(const QUrl& url) override {
        opened << url;
        return false;
    }

private:
    Dialogs* m_previous;
};

QString rowNames(const ListingModel& m) {
    QStringList names;
    for (int r = 0; r < m.rowCount(); ++r)
        names << m.text(r, ColName);
    return names.join(QLatin1Char(','));
}

// The model columns the header shows, in visual order.
QList<int> shownColumns(QTableView* lv) {
    QList<int> out;
    QHeaderView* h = lv->horizontalHeader();
    for (int v = 0; v < h->count(); ++v) {
        const int c = h->logicalIndex(v);
        if (!h->isSectionHidden(c)) out << c;
    }
    return out;
}

QList<int> selectedRows(const frmExport& w) {
    QList<int> rows;
    for (const QModelIndex& i : w.listView()->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void selectRows(frmExport& w, const QList<int>& rows) {
    QItemSelection selection;
    for (int r : rows)
        selection.select(w.model()->index(r, 0), w.model()->index(r, kListingColumns - 1));
    w.listView()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

} // namespace

class TestFrmExport : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_settings;

    std::unique_ptr<frmExport> window(const QString& path) {
        auto w = std::make_unique<frmExport>(path);
        WaitForScan(*w);
        return w;
    }
    static QString storedRows() {
        return GetSetting(QStringLiteral("Treelan"), QStringLiteral("Startup"),
                          QStringLiteral("Rows"));
    }
    static QString storedPath() {
        return GetSetting(QStringLiteral("Treelan"), QStringLiteral("StartUp"),
                          QStringLiteral("Path"));
    }
    static void storeRows(const QString& rows) {
        SaveSetting(QStringLiteral("Treelan"), QStringLiteral("Startup"), QStringLiteral("Rows"),
                    rows);
    }
    template <typename T> static T* child(const frmExport& w, const char* name) {
        T* c = w.findChild<T*>(QString::fromLatin1(name));
        if (!c) qFatal("no control %s", name);
        return c;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_settings.isValid());
        SetSettingsDirectory(m_settings.path());
        SetIniPath(QString());
        LoadDefaultStrings();
    }
    void init() {
        QDir(m_settings.path()).removeRecursively();
        QDir().mkpath(m_settings.path());
    }

    // --- start-up ---

    void startPath_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("programDir");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no argument lists the program folder") << QStringList() << "/opt/treelan"
                                                              << "/opt/treelan/";
        QTest::newRow("folder without trailing slash") << QStringList{"/music"} << "/x"
                                                       << "/music/";
        QTest::newRow("folder with trailing slash") << QStringList{"/music/"} << "/x"
                                                    << "/music/";
        QTest::newRow("name with a blank split in two") << QStringList{"/my", "music"} << "/x"
                                                        << "/my music/";
        QTest::newRow("program in the root") << QStringList() << "/"
                                             << "/";
    }
    void startPath() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, programDir);
        QFETCH(QString, expected);
        QCOMPARE(StartPath(arguments, programDir), expected);
    }

    void iniPathFor_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("used");
        QTest::newRow("regular file") << "file" << true;
        QTest::newRow("no file") << "none" << false;
        QTest::newRow("folder of that name") << "folder" << false;
        QTest::newRow("dangling link") << "dangling" << false;
        QTest::newRow("link to a file") << "link" << true;
    }
    void iniPathFor() {
        QFETCH(QString, what);
        QFETCH(bool, used);
        TempTree tree;
        const QString name = QStringLiteral("treelan.ini");
        if (what == QLatin1String("file")) tree.createFile(name, "[GUI_Strings]\n");
        if (what == QLatin1String("folder")) tree.createDir(name);
        if (what == QLatin1String("dangling")) tree.createSymlink(name, tree.path("missing"));
        if (what == QLatin1String("link")) {
            tree.createFile(QStringLiteral("real.ini"), "[GUI_Strings]\n");
            tree.createSymlink(name, tree.path(QStringLiteral("real.ini")));
        }
        const QString dir = tree.root().chopped(1);
        QCOMPARE(IniPathFor(dir), used ? tree.path(name) : QString());
    }

    void loadSequence() {
        TempTree tree;
        tree.createFile(QStringLiteral("b.txt"), "b");
        tree.createFile(QStringLiteral("a.txt"), "a");
        auto w = window(tree.root().chopped(1));
        QCOMPARE(w->path(), tree.root());
        QCOMPARE(child<QLineEdit>(*w, "Text1")->text(), tree.root());
        QVERIFY(!child<QLineEdit>(*w, "Text1")->isEnabled());
        QCOMPARE(w->windowTitle(), QStringLiteral("Treelan"));
        QCOMPARE(child<QPushButton>(*w, "cmdCopy")->text(), QStringLiteral("Copy"));
        QCOMPARE(child<QPushButton>(*w, "cmdExport")->text(), QStringLiteral("Export..."));
        QCOMPARE(child<QPushButton>(*w, "cmdBrowse")->text(), QStringLiteral("..."));
        QCOMPARE(child<QLabel>(*w, "Label1")->text(), QStringLiteral("Path:"));
        QCOMPARE(child<QCheckBox>(*w, "chkmp3")->text(),
                 QStringLiteral("Get basic info about .mp3"));
        QCOMPARE(w->mnuSort(2)->text(), QStringLiteral("Type"));
        QCOMPARE(w->model()->headerData(ColDuration, Qt::Horizontal).toString(),
                 QStringLiteral("Duration"));
        QCOMPARE(w->font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(w->font().pointSizeF(), 8.25);
        // Rows found: buttons enabled, the first row selected.
        QCOMPARE(rowNames(*w->model()), QStringLiteral("a.txt,b.txt"));
        QVERIFY(child<QPushButton>(*w, "cmdCopy")->isEnabled());
        QVERIFY(child<QPushButton>(*w, "cmdExport")->isEnabled());
        QCOMPARE(selectedRows(*w), QList<int>{0});
        QVERIFY(w->isRowSelected(0));
    }

    void emptyFolderKeepsButtonsDisabled() {
        TempTree tree;
        auto w = window(tree.root());
        QCOMPARE(w->model()->rowCount(), 0);
        QVERIFY(!child<QPushButton>(*w, "cmdCopy")->isEnabled());
        QVERIFY(!child<QPushButton>(*w, "cmdExport")->isEnabled());
        // A folder that cannot be listed is no error either.
        auto missing = window(tree.path(QStringLiteral("missing")));
        QCOMPARE(missing->model()->rowCount(), 0);
    }

    void tabOrder() {
        TempTree tree;
        auto w = window(tree.root());
        const QStringList expected = {"cmdCopy", "cmdExport", "Text1",       "cmdBrowse", "Label1",
                                      "lv",      "chkPath",   "chkSelected", "chkTree",   "chkmp3"};
        QStringList seen;
        QWidget* at = child<QWidget>(*w, "cmdCopy");
        for (int step = 0; step < 200 && seen.size() < expected.size(); ++step) {
            if (expected.contains(at->objectName()) && !seen.contains(at->objectName()))
                seen << at->objectName();
            at = at->nextInFocusChain();
        }
        QCOMPARE(seen, expected);
    }

    // --- layout ---

    void layoutAtFloor() {
        TempTree tree;
        auto w = window(tree.root());
        w->setOuterSizeTwips(6000, 3500);
        QCOMPARE(w->outerSizeTwips(), QSizeF(6000, 3500));
        auto twips = [&](const char* name) { return w->controlTwips(child<QWidget>(*w, name)); };
        QCOMPARE(twips("lv"), QRectF(180, 840, 5620, 910));
        QCOMPARE(twips("cmdExport"), QRectF(4585, 1850, 1215, 315));
        QCOMPARE(twips("cmdCopy"), QRectF(3270, 1850, 1215, 315));
        QCOMPARE(twips("imgLogo"), QRectF(3955, 60, 1845, 720));
        QCOMPARE(twips("cmdBrowse"), QRectF(3355, 420, 375, 315));
        QCOMPARE(twips("Text1"), QRectF(180, 420, 3075, 315));
        QCOMPARE(twips("chkPath").top(), 1850.0);
        QCOMPARE(twips("chkSelected").top(), 2105.0);
        QCOMPARE(twips("chkTree").top(), 2360.0);
        QCOMPARE(twips("chkmp3").top(), 2615.0);
        QCOMPARE(twips("chkmp3").width(), 3315.0);
        // 15 twips a pixel offscreen (96 DPI); edges are rounded, not sizes.
        QCOMPARE(w->size(), QSize(400, 233));
        QCOMPARE(child<QWidget>(*w, "lv")->geometry(), QRect(12, 56, 375, 61));
    }

    void sizeFloor_data() {
        QTest::addColumn<QSizeF>("requested");
        QTest::addColumn<QSizeF>("expected");
        QTest::newRow("both too small") << QSizeF(3000, 2000) << QSizeF(6000, 3500);
        QTest::newRow("too narrow") << QSizeF(5999, 8000) << QSizeF(6000, 8000);
        QTest::newRow("too low") << QSizeF(9000, 100) << QSizeF(9000, 3500);
        QTest::newRow("large enough") << QSizeF(9000, 7000) << QSizeF(9000, 7000);
    }
    void sizeFloor() {
        QFETCH(QSizeF, requested);
        QFETCH(QSizeF, expected);
        TempTree tree;
        auto w = window(tree.root());
        w->setOuterSizeTwips(requested.width(), requested.height());
        QCOMPARE(w->outerSizeTwips(), expected);
        QVERIFY(w->width() >= 400 && w->height() >= 233);
        const QRectF lv = w->controlTwips(w->listView());
        QCOMPARE(lv.width(), expected.width() - 380);
        QCOMPARE(lv.height(), expected.height() - 2590);
    }

    void pixelResizeSnapsToFloor() {
        TempTree tree;
        auto w = window(tree.root());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->resize(100, 80);
        QTRY_VERIFY(w->width() >= 400 && w->height() >= 233);
        QVERIFY(w->outerSizeTwips().width() >= 6000);
        QVERIFY(w->outerSizeTwips().height() >= 3500);
    }

    void minimisedKeepsLayout() {
        TempTree tree;
        auto w = window(tree.root());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->setOuterSizeTwips(9000, 6000);
        const QRect before = w->listView()->geometry();
        w->setWindowState(Qt::WindowMinimized);
        QResizeEvent shrink(QSize(10, 10), w->size());
        QApplication::sendEvent(w.get(), &shrink);
        QCOMPARE(w->listView()->geometry(), before);
        w->setWindowState(Qt::WindowNoState);
        QCOMPARE(w->listView()->geometry(), before);
    }

    // --- columns ---

    void rowsSetting_data() {
        QTest::addColumn<QString>("rows"); // "-": never stored
        QTest::addColumn<QList<int>>("shown");
        QTest::addColumn<QString>("ticks");
        QTest::newRow("default 1100") << "1100" << QList<int>{0, 1, 2, 3} << "1100";
        QTest::newRow("missing behaves as 1100") << "-" << QList<int>{0, 1, 2, 3} << "1100";
        QTest::newRow("0000 only name and folder") << "0000" << QList<int>{0, 1} << "0000";
        QTest::newRow("11 hides duration and bitrate") << "11" << QList<int>{0, 1, 2, 3} << "1100";
        QTest::newRow("0101 date and bitrate") << "0101" << QList<int>{0, 1, 3, 5} << "0101";
        QTest::newRow("single 1 shows only size") << "1" << QList<int>{0, 1, 2} << "1000";
        QTest::newRow("all four") << "1111" << QList<int>{0, 1, 2, 3, 4, 5} << "1111";
    }
    void rowsSetting() {
        QFETCH(QString, rows);
        QFETCH(QList<int>, shown);
        QFETCH(QString, ticks);
        if (rows != QLatin1String("-")) storeRows(rows);
        TempTree tree;
        tree.createFile(QStringLiteral("a.txt"), "a");
        auto w = window(tree.root());
        QCOMPARE(shownColumns(w->listView()), shown);
        QString got;
        for (int i = 0; i < kViewItems; ++i)
            got += w->mnuView(i)->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
        QCOMPARE(got, ticks);
        // The key columns never show, and the header follows the model's display positions.
        for (int c = ColTypeName; c < kListingColumns; ++c)
            QVERIFY(w->listView()->horizontalHeader()->isSectionHidden(c));
        for (int c = 0; c < kListingColumns; ++c)
            QCOMPARE(w->listView()->horizontalHeader()->visualIndex(c),
                     w->model()->columns().visualIndex(c));
        QCOMPARE(w->listView()->horizontalHeader()->sectionSize(ColName), 96); // one inch
    }

    // A width the user drags is the layout's width (the clipboard reads it) and survives a
    // refresh, as does a column dragged to another place.
    void userColumnWidth() {
        TempTree tree;
        tree.createFile(QStringLiteral("a.txt"), "a");
        auto w = window(tree.root());
        QHeaderView* header = w->listView()->horizontalHeader();
        header->resizeSection(ColFolder, 40);
        header->moveSection(header->visualIndex(ColDate), header->visualIndex(ColName));
        QCOMPARE(w->columnLayout().columnWidth(ColFolder), 600.0);
        const QList<int> shown = shownColumns(w->listView());
        QCOMPARE(shown, (QList<int>{ColDate, ColName, ColFolder, ColSize}));
        w->RefreshListing();
        QVERIFY(WaitForScan(*w));
        QCOMPARE(header->sectionSize(ColFolder), 40);
        QCOMPARE(shownColumns(w->listView()), shown);
        QCOMPARE(w->columnLayout().columnWidth(ColFolder), 600.0);
        QCOMPARE(w->columnLayout().columnWidth(ColName), 1440.0);
        QCOMPARE(w->columnLayout().displayPosition(ColDate), header->visualIndex(ColDate) + 1);
    }

    // Qt's header stops at its minimum section size unless told otherwise; a shown column must
    // reach no width at all, so that the copy leaves it out, and keep its heading to be dragged
    // open again.
    void columnDraggedToNothing_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QList<int>>("drags"); // section sizes in pixels, in this order
        QTest::addColumn<double>("twips");
        QTest::addColumn<QList<int>>("copied"); // the optional columns the copy still holds
        QTest::newRow("size to nothing")
            << int(ColSize) << QList<int>{0} << 0.0 << QList<int>{ColDate};
        QTest::newRow("size to nothing and open again")
            << int(ColSize) << QList<int>{0, 20} << 300.0 << QList<int>{ColSize, ColDate};
        QTest::newRow("date to nothing")
            << int(ColDate) << QList<int>{30, 0} << 0.0 << QList<int>{ColSize};
        QTest::newRow("folder to nothing still copies the path")
            << int(ColFolder) << QList<int>{0} << 0.0 << QList<int>{ColSize, ColDate};
    }
    void columnDraggedToNothing() {
        QFETCH(int, column);
        QFETCH(QList<int>, drags);
        QFETCH(double, twips);
        QFETCH(QList<int>, copied);
        TempTree tree;
        tree.createDir(QStringLiteral("sub"));
        tree.createFile(QStringLiteral("sub/a.txt"), "a");
        auto w = window(tree.path(QStringLiteral("sub")));
        QHeaderView* header = w->listView()->horizontalHeader();
        for (int size : drags)
            header->resizeSection(column, size);
        QCOMPARE(header->sectionSize(column), drags.last());
        QCOMPARE(w->columnLayout().columnWidth(column), twips);
        QVERIFY(!header->isSectionHidden(column));
        QString expected = QStringLiteral("a.txt");
        for (int c : copied)
            expected += QLatin1Char('\t') + w->model()->text(0, c).trimmed();
        w->cmdCopy_Click();
        QCOMPARE(QGuiApplication::clipboard()->text(), expected + QStringLiteral("\r\n"));
    }

    // The list's menu opens from the keyboard as well as with the right mouse button.
    void popupFromKeyboard_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("opens");
        QTest::newRow("Menu") << int(Qt::Key_Menu) << int(Qt::NoModifier) << true;
        QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier) << true;
        QTest::newRow("F10 alone") << int(Qt::Key_F10) << int(Qt::NoModifier) << false;
        QTest::newRow("Ctrl+Shift+F10")
            << int(Qt::Key_F10) << int(Qt::ShiftModifier | Qt::ControlModifier) << false;
    }
    void popupFromKeyboard() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, opens);
        TempTree tree;
        tree.createFile(QStringLiteral("a.txt"), "a");
        auto w = window(tree.root());
        QTest::keyClick(w->listView(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(w->popupMenu()->isVisible(), opens);
        w->popupMenu()->hide();
    }

    void viewToggling_data() {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QList<int>>("shown");
        QTest::newRow("untick duration stores 1100")
            << "1110" << QList<int>{2} << "1100" << QList<int>{0, 1, 2, 3};
        QTest::newRow("tick bitrate")
            << "1100" << QList<int>{3} << "1101" << QList<int>{0, 1, 2, 3, 5};
        QTest::newRow("size off and on again keeps the order")
            << "1100" << QList<int>{0, 0} << "1100" << QList<int>{0, 1, 2, 3};
        QTest::newRow("shown in reverse order still in menu order")
            << "0000" << QList<int>{3, 2, 1, 0} << "1111" << QList<int>{0, 1, 2, 3, 4, 5};
    }
    void viewToggling() {
        QFETCH(QString, rows);
        QFETCH(QList<int>, clicks);
        QFETCH(QString, stored);
        QFETCH(QList<int>, shown);
        storeRows(rows);
        TempTree tree;
        auto w = window(tree.root());
        for (int i : clicks)
            w->mnuView(i)->trigger();
        QCOMPARE(storedRows(), stored);
        QCOMPARE(shownColumns(w->listView()), shown);
        QCOMPARE(w->model()->columns().rowsSetting(), stored);
        for (int i = 0; i < kViewItems; ++i)
            QCOMPARE(w->mnuView(i)->isChecked(), stored[i] == QLatin1Char('1'));
        w->RefreshListing(); // the list's header keeps what it shows
        QVERIFY(WaitForScan(*w));
        QCOMPARE(shownColumns(w->listView()), shown);
    }

    // --- sorting ---

    void sorting_data() {
        QTest::addColumn<QStringList>("commands"); // "h<column>" header click, "m<item>" menu
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("names");
        // big.bin 3000 B, mid.txt 2000 B, Small.mp3 10 B.
        QTest::newRow("size header once: descending")
            << QStringList{"h2"} << int(ColSizeKey) << "big.bin,mid.txt,Small.mp3";
        QTest::newRow("size header twice: ascending")
            << QStringList{"h2", "h2"} << int(ColSizeKey) << "Small.mp3,mid.txt,big.bin";
        QTest::newRow("name right after size flips again")
            << QStringList{"h2", "h0"} << int(ColName) << "big.bin,mid.txt,Small.mp3";
        QTest::newRow("name after two size clicks: descending")
            << QStringList{"h2", "h2", "h0"} << int(ColName) << "Small.mp3,mid.txt,big.bin";
        QTest::newRow("sort by type sorts the hidden type column")
            << QStringList{"m2"} << int(ColTypeName) << "";
        QTest::newRow("sort by size from the menu")
            << QStringList{"m1"} << int(ColSizeKey) << "big.bin,mid.txt,Small.mp3";
        QTest::newRow("date header uses the date key")
            << QStringList{"h3"} << int(ColDateKey) << "mid.txt,big.bin,Small.mp3";
        QTest::newRow("bitrate header") << QStringList{"h5"} << int(ColBitrateKey) << "";
    }
    void sorting() {
        QFETCH(QStringList, commands);
        QFETCH(int, key);
        QFETCH(QString, names);
        TempTree tree;
        tree.createSparseFile(QStringLiteral("big.bin"), 3000, TempTree::utc(2001, 1, 1));
        tree.createSparseFile(QStringLiteral("mid.txt"), 2000, TempTree::utc(2010, 1, 1));
        tree.createSparseFile(QStringLiteral("Small.mp3"), 10, TempTree::utc(1999, 1, 1));
        auto w = window(tree.root());
        for (const QString& c : commands) {
            const int n = c.mid(1).toInt();
            if (c.startsWith(QLatin1Char('h')))
                emit w->listView()->horizontalHeader()->sectionClicked(n);
            else
                w->mnuSort(n)->trigger();
        }
        QCOMPARE(w->model()->sortKey(), key);
        QCOMPARE(w->model()->sortOrder(),
                 commands.size() % 2 ? Qt::DescendingOrder : Qt::AscendingOrder);
        if (!names.isEmpty()) QCOMPARE(rowNames(*w->model()), names);
    }

    // --- delete ---

    void deleteRows_data() {
        QTest::addColumn<int>("files");
        QTest::addColumn<QList<int>>("selected"); // 0-based
        QTest::addColumn<int>("current");         // row selected afterwards; -1 none
        QTest::addColumn<int>("left");
        QTest::newRow("positions 2, 5, 6 of ten select the new position 2")
            << 10 << QList<int>{1, 4, 5} << 1 << 7;
        QTest::newRow("last two of five select the new last row")
            << 5 << QList<int>{3, 4} << 2 << 3;
        QTest::newRow("first row") << 3 << QList<int>{0} << 0 << 2;
        QTest::newRow("every row") << 4 << QList<int>{0, 1, 2, 3} << -1 << 0;
        QList<int> scattered;
        for (int r = 1; r < 60; r += 2)
            scattered << r;
        QTest::newRow("thirty scattered rows") << 60 << scattered << 1 << 30;
    }
    void deleteRows() {
        QFETCH(int, files);
        QFETCH(QList<int>, selected);
        QFETCH(int, current);
        QFETCH(int, left);
        TempTree tree;
        for (int i = 0; i < files; ++i)
            tree.createFile(QStringLiteral("f%1.txt").arg(i, 2, 10, QLatin1Char('0')), "x");
        auto w = window(tree.root());
        QStringList expectedNames;
        for (int r = 0; r < files; ++r)
            if (!selected.contains(r)) expectedNames << w->model()->text(r, ColName);
        selectRows(*w, selected);
        QCOMPARE(int(w->selectedRows().size()), selected.size());

        QTest::keyClick(w->listView(), Qt::Key_Delete, Qt::ShiftModifier | Qt::ControlModifier);
        QCOMPARE(w->model()->rowCount(), left);
        QCOMPARE(rowNames(*w->model()), expectedNames.join(QLatin1Char(',')));
        QCOMPARE(w->removedFiles().files().size(), selected.size());
        QVERIFY(w->removedFolders().isEmpty());
        QVERIFY(w->removedFiles().containsFile(
            QStringLiteral("f%1.txt").arg(selected.first(), 2, 10, QLatin1Char('0')).toUtf8()));
        if (current < 0) {
            QVERIFY(!child<QPushButton>(*w, "cmdCopy")->isEnabled());
            QVERIFY(!child<QPushButton>(*w, "cmdExport")->isEnabled());
        } else {
            QCOMPARE(selectedRows(*w), QList<int>{current});
            QCOMPARE(w->listView()->currentIndex().row(), current);
            QCOMPARE(int(w->selectedRows().size()), 1);
            QVERIFY(w->isRowSelected(current));
            QVERIFY(child<QPushButton>(*w, "cmdCopy")->isEnabled());
        }
    }

    void deleteWithNothingSelected() {
        TempTree tree;
        tree.createFile(QStringLiteral("a.txt"), "a");
        tree.createFile(QStringLiteral("b.txt"), "b");
        auto w = window(tree.root());
        w->listView()->selectionModel()->clearSelection();
        QCOMPARE(int(w->selectedRows().size()), 0);
        QTest::keyClick(w->listView(), Qt::Key_Delete);
        QCOMPARE(w->model()->rowCount(), 2);
        QVERIFY(w->removedFiles().isEmpty());
        QVERIFY(child<QPushButton>(*w, "cmdExport")->isEnabled());
    }

    void deleteRecordsRelativePaths_data() {
        QTest::addColumn<bool>("tree");
        QTest::addColumn<QString>("row"); // "name|folder" of the row deleted
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("folders");
        QTest::newRow("flat listing folder row")
            << false << "|Sub/" << QStringList() << QStringList{"Sub/"};
        QTest::newRow("flat listing file")
            << false << "top.txt|" << QStringList{"top.txt"} << QStringList();
        QTest::newRow("tree mode file")
            << true << "a.mp3|Sub/" << QStringList{"Sub/a.mp3"} << QStringList();
    }
    void deleteRecordsRelativePaths() {
        QFETCH(bool, tree);
        QFETCH(QString, row);
        QFETCH(QStringList, files);
        QFETCH(QStringList, folders);
        TempTree t;
        t.createFile(QStringLiteral("top.txt"), "t");
        t.createFile(QStringLiteral("Sub/a.mp3"), "a");
        auto w = window(t.root());
        if (tree) child<QCheckBox>(*w, "chkTree")->setChecked(true);
        QVERIFY(WaitForScan(*w));
        int target = -1;
        for (int r = 0; r < w->model()->rowCount(); ++r)
            if (w->model()->text(r, ColName) + QLatin1Char('|') + w->model()->text(r, ColFolder) ==
                row)
                target = r;
        QVERIFY(target >= 0);
        selectRows(*w, {target});
        w->DeleteSelectedRows();
        QStringList gotFiles, gotFolders;
        for (const QByteArray& f : w->removedFiles().files())
            gotFiles << QString::fromUtf8(f);
        for (const QByteArray& f : w->removedFolders().folders())
            gotFolders << QString::fromUtf8(f);
        QCOMPARE(gotFiles, files);
        QCOMPARE(gotFolders, folders);
        const ExportOptions options = w->exportOptions();
        for (const QString& f : files)
            QVERIFY(options.removed.containsFile(f.toUtf8()));
        for (const QString& f : folders)
            QVERIFY(options.removed.containsFolder(f.toUtf8()));

        // A refresh brings the rows back and empties the removal lists.
        child<QCheckBox>(*w, "chkmp3")->setChecked(true);
        QVERIFY(WaitForScan(*w));
        QVERIFY(w->removedFiles().isEmpty());
        QVERIFY(w->removedFolders().isEmpty());
    }

    void checkBoxesRefresh() {
        TempTree tree;
        tree.createFile(QStringLiteral("top.txt"), "t");
        tree.createFile(QStringLiteral("a/b/x.txt"), "x");
        auto w = window(tree.root());
        QCOMPARE(w->model()->rowCount(), 2); // top.txt and the row of a/
        child<QCheckBox>(*w, "chkTree")->setChecked(true);
        QVERIFY(WaitForScan(*w));
        QCOMPARE(w->model()->rowCount(), 2); // top.txt and a/b/x.txt
        QStringList folders;
        for (int r = 0; r < w->model()->rowCount(); ++r)
            folders << w->model()->text(r, ColFolder) + w->model()->text(r, ColName);
        folders.sort();
        QCOMPARE(folders, (QStringList{"a/b/x.txt", "top.txt"}));
        QCOMPARE(selectedRows(*w), QList<int>{0});
    }

    void selectionFollowsSort() {
        TempTree tree;
        for (int i = 0; i < 5; ++i)
            tree.createFile(QStringLiteral("f%1").arg(i), "x");
        auto w = window(tree.root());
        selectRows(*w, {1, 3});
        QVERIFY(!w->isRowSelected(0));
        QVERIFY(w->isRowSelected(1));
        QVERIFY(w->isRowSelected(3));
        // A sort carries the selection with the rows, and Copy and Export read the same rows.
        w->lv_ColumnClick(ColName); // descending: f4 f3 f2 f1 f0
        QCOMPARE(rowNames(*w->model()), QStringLiteral("f4,f3,f2,f1,f0"));
        QCOMPARE(selectedRows(*w), (QList<int>{1, 3}));
        QVERIFY(w->isRowSelected(1) && w->isRowSelected(3));
        QCOMPARE(int(w->selectedRows().size()), 2);
        w->listView()->selectionModel()->select(
            w->model()->index(1, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        QCOMPARE(int(w->selectedRows().size()), 1);
    }

    void activation() {
        TempTree tree;
        tree.createFile(QStringLiteral("a"), "a");
        tree.createFile(QStringLiteral("b"), "b");
        tree.createFile(QStringLiteral("c"), "c");
        auto w = window(tree.root());
        w->listView()->selectionModel()->clearSelection();
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(w.get(), &activate);
        QCOMPARE(selectedRows(*w), QList<int>{0});
        // A selection the user made is not disturbed.
        selectRows(*w, {2});
        QApplication::sendEvent(w.get(), &activate);
        QCOMPARE(selectedRows(*w), QList<int>{2});
    }

    // --- copy, browse, logo ---

    void copy_data() {
        QTest::addColumn<bool>("fullPath");
        QTest::addColumn<bool>("selectedOnly");
        QTest::addColumn<QString>("expected"); // @ stands for the root
        QTest::newRow("full path")
            << true << false << "@a/x.mp3\t12 kB\t5.3.2004\r\n@b.txt\t1 kB\t5.3.2004\r\n";
        QTest::newRow("relative") << false << false
                                  << "a/x.mp3\t12 kB\t5.3.2004\r\nb.txt\t1 kB\t5.3.2004\r\n";
        QTest::newRow("selected only, first row")
            << false << true << "a/x.mp3\t12 kB\t5.3.2004\r\n";
    }
    void copy() {
        QFETCH(bool, fullPath);
        QFETCH(bool, selectedOnly);
        QFETCH(QString, expected);
        TempTree tree;
        tree.createSparseFile(QStringLiteral("a/x.mp3"), 12345);
        tree.createSparseFile(QStringLiteral("b.txt"), 512);
        auto w = window(tree.root());
        child<QCheckBox>(*w, "chkTree")->setChecked(true);
        QVERIFY(WaitForScan(*w));
        w->lv_ColumnClick(ColName); // the first click sorts descending: x.mp3, b.txt
        selectRows(*w, {0});
        child<QCheckBox>(*w, "chkPath")->setChecked(fullPath);
        child<QCheckBox>(*w, "chkSelected")->setChecked(selectedOnly);
        QApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::mouseClick(child<QPushButton>(*w, "cmdCopy"), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(),
                 expected.replace(QLatin1Char('@'), tree.root()));
    }

    void browse_data() {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("chosen");       // relative to the tree, "/" alone: the root
        QTest::addColumn<QString>("expectedPath"); // relative; "-": unchanged
        QTest::newRow("chosen folder gets a slash") << true << "Sub"
                                                    << "Sub/";
        QTest::newRow("chosen folder with a slash keeps one") << true << "Sub/"
                                                              << "Sub/";
        QTest::newRow("cancel changes nothing") << false << "Sub"
                                                << "-";
    }
    void browse() {
        QFETCH(bool, confirm);
        QFETCH(QString, chosen);
        QFETCH(QString, expectedPath);
        TempTree tree;
        tree.createFile(QStringLiteral("top.txt"), "t");
        tree.createFile(QStringLiteral("Sub/a.txt"), "a");
        tree.createFile(QStringLiteral("Sub/b.txt"), "b");
        DialogScript script;
        script.confirm = confirm;
        script.chosen = tree.root() + chosen;
        ScriptedDialogs dialogs;
        dialogs.folder = &script;
        auto w = window(tree.root());
        const int rowsBefore = w->model()->rowCount();
        QTest::mouseClick(child<QPushButton>(*w, "cmdBrowse"), Qt::LeftButton);
        QVERIFY(WaitForScan(*w));
        QCOMPARE(script.calls, 1);
        QCOMPARE(script.seenPrompt, QStringLiteral("Choose folder:"));
        QCOMPARE(script.seenStart, tree.root().chopped(1));
        if (expectedPath == QLatin1String("-")) {
            QCOMPARE(w->path(), tree.root());
            QCOMPARE(storedPath(), QString());
            QCOMPARE(w->model()->rowCount(), rowsBefore);
        } else {
            QCOMPARE(w->path(), tree.root() + expectedPath);
            QCOMPARE(storedPath(), tree.root() + expectedPath);
            QCOMPARE(rowNames(*w->model()), QStringLiteral("a.txt,b.txt"));
        }
    }

    void browseFromTheRoot() {
        DialogScript script;
        script.confirm = false;
        ScriptedDialogs dialogs;
        dialogs.folder = &script;
        auto w = window(QStringLiteral("/"));
        QCOMPARE(w->path(), QStringLiteral("/"));
        w->cmdBrowse_Click();
        QVERIFY(WaitForScan(*w));
        QCOMPARE(script.seenStart, QStringLiteral("/"));
        // Choosing the root puts no second slash into the path box.
        script.confirm = true;
        script.chosen = QStringLiteral("/");
        w->cmdBrowse_Click();
        QVERIFY(WaitForScan(*w));
        QCOMPARE(w->path(), QStringLiteral("/"));
        QCOMPARE(storedPath(), QStringLiteral("/"));
    }

    void logoOpensHomePage() {
        TempTree tree;
        ScriptedDialogs dialogs; // its openUrl fails, which is ignored
        const QList<QUrl>& opened = dialogs.opened;
        auto w = window(tree.root());
        auto* logo = child<QLabel>(*w, "imgLogo");
        QCOMPARE(logo->toolTip(), QStringLiteral(TREELAN_HOME_PAGE));
        QVERIFY(!logo->pixmap().isNull());
        QCOMPARE(logo->pixmap().size(), QSize(123, 48));
        QCOMPARE(logo->cursor().shape(), Qt::BitmapCursor);
        QTest::mouseClick(logo, Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral(TREELAN_HOME_PAGE))});
        QTest::mouseClick(logo, Qt::RightButton);
        QCOMPARE(opened.size(), 1);
    }
};

QTEST_MAIN(TestFrmExport)
#include "tst_frmexport.moc"
