#include "ui/SaveDialog.h"

#include "TempTree.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace treelan;

namespace {

const QString kExportFilter =
    QStringLiteral("Web Archive (*.mht)|*.mht|XML file with defined XSLT template (*.xml)|*.xml|"
                   "Generic XML file (*.xml)|*.xml|");

// One thing the user does in the file dialog.
struct Step {
    QString name; // typed into the name field; empty leaves it
    int pair = 0; // 0-based file type to select
    bool accept = true;
};

// Plays the user: works through `steps` while the file dialog is the active window and answers
// each message box with the next of `answers`, recording its text.
class DialogDriver : public QObject {
public:
    DialogDriver(QList<Step> steps, QList<QMessageBox::StandardButton> answers)
        : m_steps(std::move(steps)), m_answers(std::move(answers)) {
        connect(&m_timer, &QTimer::timeout, this, &DialogDriver::poll);
        m_timer.start(10);
    }

    QStringList prompts;
    int unansweredBoxes = 0;
    int stepsLeft() const { return static_cast<int>(m_steps.size()); }

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            prompts.append(box->text());
            if (m_answers.isEmpty()) {
                ++unansweredBoxes;
                box->reject();
            } else {
                box->button(m_answers.takeFirst())->click();
            }
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog || m_busy) return;
        if (m_steps.isEmpty()) {
            dialog->reject(); // nothing left to do: leave as a user would
            return;
        }
        const Step step = m_steps.takeFirst();
        m_busy = true;
        // Queued, so that the prompts' own event loops run with this timer free to answer them.
        // The fields are filled in the same turn as the click, before the dialog's own
        // directory loading can reset the name field.
        QMetaObject::invokeMethod(
            dialog,
            [this, dialog, step] {
                if (auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
                    combo->setCurrentIndex(step.pair);
                    emit combo->activated(step.pair);
                }
                // Typed, as a user would: selectFile() leaves a focused name field alone.
                if (!step.name.isEmpty())
                    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                        ->setText(step.name);
                if (step.accept) // protected in QFileDialog, a slot all the same
                    QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
                else
                    dialog->reject();
                m_busy = false;
            },
            Qt::QueuedConnection);
    }

    QTimer m_timer;
    QList<Step> m_steps;
    QList<QMessageBox::StandardButton> m_answers;
    bool m_busy = false;
};

} // namespace

Q_DECLARE_METATYPE(Step)

class TestSaveDialog : public QObject {
    Q_OBJECT

private slots:
    void parseFilter_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("flat"); // description, pattern, description, ...
        const QStringList exportPairs{"Web Archive (*.mht)",
                                      "*.mht",
                                      "XML file with defined XSLT template (*.xml)",
                                      "*.xml",
                                      "Generic XML file (*.xml)",
                                      "*.xml"};
        QTest::newRow("export list") << kExportFilter << exportPairs;
        QTest::newRow("last bar left off") << kExportFilter.chopped(1) << exportPairs;
        QTest::newRow("description without pattern dropped")
            << "Text|*.txt|Orphan" << QStringList{"Text", "*.txt"};
        QTest::newRow("empty text") << "" << QStringList{};
        // A string file without the type names still gives three distinct pairs.
        QTest::newRow("empty descriptions")
            << " (*.mht)|*.mht| (*.xml)|*.xml| (*.xml)|*.xml|"
            << QStringList{" (*.mht)", "*.mht", " (*.xml)", "*.xml", " (*.xml)", "*.xml"};
    }
    void parseFilter() {
        QFETCH(QString, filter);
        QFETCH(QStringList, flat);
        QStringList got;
        for (const SaveFilterPair& pair : ParseSaveFilter(filter))
            got << pair.description << pair.pattern;
        QCOMPARE(got, flat);
    }

    void nameFilters_data() {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("expected");
        QTest::newRow("pattern already shown") << "Web Archive (*.mht)"
                                               << "*.mht"
                                               << "Web Archive (*.mht)";
        QTest::newRow("pattern added") << "Web Archive"
                                       << "*.mht"
                                       << "Web Archive (*.mht)";
        QTest::newRow("semicolons become blanks") << "Pages (*.htm;*.html)"
                                                  << "*.htm;*.html"
                                                  << "Pages (*.htm *.html)";
        QTest::newRow("other parentheses kept") << "Archive (old)"
                                                << "*.mht"
                                                << "Archive (old) (*.mht)";
        QTest::newRow("empty description") << " (*.xml)"
                                           << "*.xml"
                                           << "(*.xml)";
        QTest::newRow("empty pattern") << "Anything"
                                       << ""
                                       << "Anything (*)";
    }
    void nameFilters() {
        QFETCH(QString, description);
        QFETCH(QString, pattern);
        QFETCH(QString, expected);
        QCOMPARE(QtNameFilters({{description, pattern}}), QStringList{expected});
    }

    void extension_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("expected");
        QTest::newRow("xml") << "*.xml"
                             << "xml";
        QTest::newRow("first of several") << "*.htm;*.html"
                                          << "htm";
        QTest::newRow("all files") << "*.*"
                                   << "mht";
        QTest::newRow("star") << "*"
                              << "mht";
        QTest::newRow("wildcard extension") << "*.x?l"
                                            << "mht";
        QTest::newRow("skips a prefixed pattern") << "a*.txt;*.log"
                                                  << "log";
    }
    void extension() {
        QFETCH(QString, pattern);
        QFETCH(QString, expected);
        QCOMPARE(ExtensionForPattern(pattern), expected);
    }

    void dialog_data() {
        QTest::addColumn<QList<Step>>("steps");
        QTest::addColumn<QList<QMessageBox::StandardButton>>("answers");
        QTest::addColumn<QString>("expectedName"); // "" for a cancel
        QTest::addColumn<int>("expectedIndex");
        QTest::addColumn<QString>("expectedPrompt"); // part of every prompt shown; "" for none

        using B = QMessageBox::StandardButton;
        QTest::newRow("cancel") << QList<Step>{{"new.mht", 1, false}} << QList<B>{} << "" << 99
                                << "";
        QTest::newRow("new file, create confirmed")
            << QList<Step>{{"new.mht", 0, true}} << QList<B>{B::Yes} << "new.mht" << 1
            << "does not exist";
        QTest::newRow("second pair gives 2")
            << QList<Step>{{"out.xml", 1, true}} << QList<B>{B::Yes} << "out.xml" << 2
            << "does not exist";
        QTest::newRow("equal descriptions told apart by position")
            << QList<Step>{{"out.xml", 2, true}} << QList<B>{B::Yes} << "out.xml" << 3
            << "does not exist";
        QTest::newRow("create declined, then cancel")
            << QList<Step>{{"new.mht", 1, true}, {"", 1, false}} << QList<B>{B::No} << "" << 99
            << "does not exist";
        QTest::newRow("existing file, replace confirmed")
            << QList<Step>{{"existing.xml", 2, true}} << QList<B>{B::Yes} << "existing.xml" << 3
            << "already exists";
        QTest::newRow("existing file, replace declined, then other name")
            << QList<Step>{{"existing.xml", 2, true}, {"other.xml", 1, true}}
            << QList<B>{B::No, B::Yes} << "other.xml" << 2 << "";
        // A bare name takes the chosen type's extension, so an XML export is not named ".mht".
        QTest::newRow("bare name, web archive")
            << QList<Step>{{"report", 0, true}} << QList<B>{B::Yes} << "report.mht" << 1
            << "does not exist";
        QTest::newRow("bare name, generic xml")
            << QList<Step>{{"report", 2, true}} << QList<B>{B::Yes} << "report.xml" << 3
            << "does not exist";
        // The extension check runs before the prompt: "existing" becomes the existing file.
        QTest::newRow("bare name of an existing file")
            << QList<Step>{{"existing", 1, true}} << QList<B>{B::Yes} << "existing.xml" << 2
            << "already exists";
        QTest::newRow("own extension kept")
            << QList<Step>{{"report.txt", 1, true}} << QList<B>{B::Yes} << "report.txt" << 2
            << "does not exist";
    }
    void dialog() {
        QFETCH(QList<Step>, steps);
        QFETCH(QList<QMessageBox::StandardButton>, answers);
        QFETCH(QString, expectedName);
        QFETCH(int, expectedIndex);
        QFETCH(QString, expectedPrompt);

        TempTree tree;
        tree.createFile(QStringLiteral("existing.xml"), "<old/>");
        DialogDriver driver(steps, answers);
        int index = 99;
        const QString path = ShowFileSaveDialog(nullptr, kExportFilter, QStringLiteral("Export..."),
                                                tree.root(), QString(), index);

        QCOMPARE(path, expectedName.isEmpty() ? QString() : tree.path(expectedName));
        QCOMPARE(index, expectedIndex);
        QCOMPARE(driver.stepsLeft(), 0);
        QCOMPARE(driver.unansweredBoxes, 0);
        QCOMPARE(driver.prompts.size(), answers.size());
        for (const QString& prompt : driver.prompts)
            QVERIFY2(prompt.contains(expectedPrompt), qPrintable(prompt));
        // The dialog writes nothing itself.
        QCOMPARE(QFileInfo::exists(tree.path(QStringLiteral("new.mht"))), false);
        QCOMPARE(QFile(tree.path(QStringLiteral("existing.xml"))).size(), 6);
    }
};

QTEST_MAIN(TestSaveDialog)
#include "tst_savedialog.moc"
