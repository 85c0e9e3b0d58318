#include "listing/ListingModel.h"
#include "settings/StringTable.h"
#include "ui/LocalizeForm.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <memory>

using namespace treelan;

class TestLocalizeForm : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // Points the string table at a string file with `body` after its section line; an empty
    // body means the built-in texts.
    void useStrings(const QByteArray& body) {
        if (body.isEmpty()) {
            SetIniPath(QString());
            return;
        }
        const QString path = m_dir.filePath(QStringLiteral("treelan.ini"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[GUI_Strings]\n" + body);
        file.close();
        SetIniPath(path);
    }

    static QWidget* makeControl(const QString& kind, QWidget* parent) {
        if (kind == QLatin1String("label")) return new QLabel(QStringLiteral("design"), parent);
        if (kind == QLatin1String("button"))
            return new QPushButton(QStringLiteral("design"), parent);
        if (kind == QLatin1String("checkbox"))
            return new QCheckBox(QStringLiteral("design"), parent);
        if (kind == QLatin1String("lineedit"))
            return new QLineEdit(QStringLiteral("design"), parent);
        if (kind == QLatin1String("plaintext"))
            return new QPlainTextEdit(QStringLiteral("design"), parent);
        return new QGroupBox(QStringLiteral("design"), parent);
    }

    static QString captionOf(QWidget* w) {
        if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
        if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
        if (auto* p = qobject_cast<QPlainTextEdit*>(w)) return p->toPlainText();
        return qobject_cast<QGroupBox*>(w)->title();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        LoadDefaultStrings();
    }
    void cleanup() { SetIniPath(QString()); }

    void control_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QByteArray>("strings");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QVariant>("charset"); // invalid: no charset recorded

        const QByteArray builtIn;
        const QVariant none;
        QTest::newRow("label gets its caption") << "label"
                                                << "105" << builtIn << "Path:" << QVariant(0);
        QTest::newRow("check box")
            << "checkbox"
            << "152" << builtIn << "Get basic info about .mp3" << QVariant(0);
        QTest::newRow("push button") << "button"
                                     << "160" << builtIn << "Copy" << QVariant(0);
        QTest::newRow("text box gets its text")
            << "lineedit"
            << "187" << builtIn
            << "For correct displaying of file you should copy to target path content of folder"
            << QVariant(0);
        QTest::newRow("multi-line text box") << "plaintext"
                                             << "186" << builtIn << "Caution" << QVariant(0);
        QTest::newRow("group box title") << "groupbox"
                                         << "130" << builtIn << "View" << QVariant(0);
        QTest::newRow("unfilled slot writes empty text") << "label"
                                                         << "102" << builtIn << "" << QVariant(0);
        QTest::newRow("empty tag keeps design") << "label"
                                                << "" << builtIn << "design" << none;
        QTest::newRow("alphabetic tag keeps design") << "button"
                                                     << "abc" << builtIn << "design" << none;
        QTest::newRow("digits then letters keep design") << "label"
                                                         << "12a" << builtIn << "design" << none;
        QTest::newRow("string file charset 238")
            << "checkbox"
            << "150" << QByteArray("100=238\n150=Podslo\xc5\xbeky\n")
            << QString::fromUtf8("Podsložky") << QVariant(238);
        QTest::newRow("string file without key 100 leaves the charset")
            << "label"
            << "105" << QByteArray("105=Cesta:\n") << "Cesta:" << none;
        QTest::newRow("non-numeric charset leaves it")
            << "lineedit"
            << "105" << QByteArray("100=EE\n105=Cesta:\n") << "Cesta:" << none;
        QTest::newRow("charset out of a byte's range leaves it")
            << "label"
            << "105" << QByteArray("100=700\n105=Cesta:\n") << "Cesta:" << none;
        QTest::newRow("key missing from string file gives empty text")
            << "label"
            << "105" << QByteArray("100=0\n101=Folder Listing\n") << "" << QVariant(0);
    }

    void control() {
        QFETCH(QString, kind);
        QFETCH(QString, tag);
        QFETCH(QByteArray, strings);
        QFETCH(QString, expected);
        QFETCH(QVariant, charset);
        useStrings(strings);

        QWidget window;
        QWidget* control = makeControl(kind, &window);
        control->setProperty("tag", tag);
        LocalizeForm(&window);

        QCOMPARE(captionOf(control), expected);
        const QVariant got = control->property("charset");
        QCOMPARE(got.isValid(), charset.isValid());
        if (charset.isValid()) QCOMPARE(got.toInt(), charset.toInt());
    }

    void windowTitleFromTag_data() {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("expected");
        QTest::newRow("numeric tag") << "180"
                                     << "Choose template";
        QTest::newRow("no tag keeps caption") << ""
                                              << "Treelan";
    }

    void windowTitleFromTag() {
        QFETCH(QString, tag);
        QFETCH(QString, expected);
        QWidget window;
        window.setWindowTitle(QStringLiteral("Treelan"));
        window.setProperty("tag", tag);
        LocalizeForm(&window);
        QCOMPARE(window.windowTitle(), expected);
        QVERIFY(!window.property("charset").isValid());
    }

    // Menu items carry their key as their caption, so only the first call translates them.
    void menusAndRepeatedCall() {
        QWidget window;
        auto* popup = new QMenu(QStringLiteral("130"), &window);
        QMenu* view = popup->addMenu(QStringLiteral("130"));
        QAction* size = view->addAction(QStringLiteral("122"));
        QAction* plain = view->addAction(QStringLiteral("Refresh"));
        auto* label = new QLabel(QStringLiteral("x"), &window);
        label->setProperty("tag", QStringLiteral("105"));

        LocalizeForm(&window);
        QCOMPARE(popup->title(), QStringLiteral("View"));
        QCOMPARE(view->title(), QStringLiteral("View"));
        QCOMPARE(size->text(), QStringLiteral("Size"));
        QCOMPARE(plain->text(), QStringLiteral("Refresh"));
        QVERIFY(!size->property("charset").isValid());

        useStrings("100=0\n105=Cesta:\n122=Velikost\n130=Zobrazit\n");
        LocalizeForm(&window);
        QCOMPARE(size->text(), QStringLiteral("Size"));
        QCOMPARE(view->title(), QStringLiteral("View"));
        QCOMPARE(label->text(), QStringLiteral("Cesta:"));
    }

    void tabStrip() {
        useStrings("100=238\n122=Velikost\n123=Datum\n");
        QWidget window;
        auto* tabs = new QTabWidget(&window);
        tabs->addTab(new QWidget, QStringLiteral("design 0"));
        tabs->addTab(new QWidget, QStringLiteral("design 1"));
        tabs->addTab(new QWidget, QStringLiteral("design 2"));
        tabs->tabBar()->setTabData(0, QStringLiteral("122"));
        tabs->setTabToolTip(0, QStringLiteral("123"));
        tabs->tabBar()->setTabData(1, QStringLiteral("none"));
        tabs->setTabToolTip(1, QStringLiteral("plain tip"));
        auto* bareBar = new QTabBar(&window);
        bareBar->addTab(QStringLiteral("design"));

        LocalizeForm(&window);
        QCOMPARE(tabs->tabText(0), QStringLiteral("Velikost"));
        QCOMPARE(tabs->tabToolTip(0), QStringLiteral("Datum"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("design 1"));
        QCOMPARE(tabs->tabToolTip(1), QStringLiteral("plain tip"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("design 2"));
        // A tab strip takes the character set whatever its tabs hold.
        QCOMPARE(tabs->property("charset").toInt(), 238);
        QCOMPARE(bareBar->property("charset").toInt(), 238);
        QCOMPARE(bareBar->tabText(0), QStringLiteral("design"));
    }

    void toolbarTooltipsOnly() {
        useStrings("100=238\n160=Kop\xc3\xadruj\n");
        QWidget window;
        auto* bar = new QToolBar(&window);
        QAction* copy = bar->addAction(QStringLiteral("Copy design"));
        copy->setProperty("tag", QStringLiteral("160"));
        QAction* other = bar->addAction(QStringLiteral("Other"));
        other->setToolTip(QStringLiteral("tip"));

        LocalizeForm(&window);
        QCOMPARE(copy->toolTip(), QString::fromUtf8("Kopíruj"));
        QCOMPARE(copy->text(), QStringLiteral("Copy design"));
        QCOMPARE(other->toolTip(), QStringLiteral("tip"));
        QVERIFY(!bar->property("charset").isValid());
        QVERIFY(!copy->property("charset").isValid());
    }

    void listViewHeadings() {
        useStrings("100=238\n120=N\xc3\xa1zev\n121=Slo\xc5\xbeka\n");
        QWidget window;
        auto* model = new ListingModel(&window);
        auto* lv = new QTableView(&window);
        lv->setModel(model);
        lv->setProperty("tag", QStringLiteral("101"));

        LocalizeForm(&window);
        QCOMPARE(model->headerData(ColName, Qt::Horizontal).toString(), QString::fromUtf8("Název"));
        QCOMPARE(model->headerData(ColFolder, Qt::Horizontal).toString(),
                 QString::fromUtf8("Složka"));
        // Keys the file lacks give empty headings; the key columns have none at all.
        QCOMPARE(model->headerData(ColSize, Qt::Horizontal).toString(), QString());
        QCOMPARE(model->headerData(ColBitrateKey, Qt::Horizontal).toString(), QString());
        QVERIFY(!lv->property("charset").isValid());

        // The stored headings stay when the string table changes afterwards.
        useStrings(QByteArray());
        QCOMPARE(model->headerData(ColName, Qt::Horizontal).toString(), QString::fromUtf8("Název"));
    }

    void numericKeyTest_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("numeric");
        QTest::newRow("key") << "122" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blank") << "  " << false;
        QTest::newRow("word") << "Name" << false;
        QTest::newRow("trailing letter") << "122x" << false;
        QTest::newRow("not a number") << "nan" << false;
        QTest::newRow("infinite") << "inf" << false;
    }

    void numericKeyTest() {
        QFETCH(QString, text);
        QFETCH(bool, numeric);
        QCOMPARE(IsNumericKey(text), numeric);
    }
};

QTEST_MAIN(TestLocalizeForm)
#include "tst_localizeform.moc"
