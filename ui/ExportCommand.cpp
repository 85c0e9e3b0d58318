#include "ui/ExportCommand.h"

#include "platform/DirWalker.h"
#include "platform/FileError.h"
#include "settings/GuiStrings.h"
#include "ui/SaveDialog.h"
#include "ui/frmExport.h"
#include "ui/frmStyle.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <exception>

namespace treelan {

namespace {

MessageBoxReporter g_messageBox;
ErrorReporter* g_reporter = &g_messageBox;

// The hourglass while the document is written. It is lifted while a dialog waits for the user,
// and before the error report, so neither shows a busy pointer.
class WaitCursor {
public:
    WaitCursor() { set(); }
    ~WaitCursor() { lift(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

    void set() {
        if (m_set) return;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_set = true;
    }
    void lift() {
        if (!m_set) return;
        QApplication::restoreOverrideCursor();
        m_set = false;
    }

private:
    bool m_set = false;
};

} // namespace

QString ExportFilterText() {
    return GetGuiString(168) + QStringLiteral(" (*.mht)|*.mht|") + GetGuiString(167) +
           QStringLiteral(" (*.xml)|*.xml|") + GetGuiString(166) +
           QStringLiteral(" (*.xml)|*.xml|");
}

ExportFormat ExportFormatForFilterIndex(int filterIndex) {
    switch (filterIndex) {
    case 2:
        return ExportFormat::XmlWithTemplate;
    case 3:
        return ExportFormat::GenericXml;
    default:
        return ExportFormat::WebArchive;
    }
}

void RunExportCommand(frmExport& window) {
    int filterIndex = 1;
    const QString target =
        ShowSaveDialog(&window, ExportFilterText(), GetGuiString(165),
                       QCoreApplication::applicationDirPath(), QString(), filterIndex);
    if (target.isEmpty()) return;

    ExportRequest request;
    request.targetPath = target;
    request.format = ExportFormatForFilterIndex(filterIndex);
    // Made absolute the way the command line makes it, so both write the same root; the folder
    // box's text is looked up on disk once, so a name that is not UTF-8 is found as it is.
    request.rootPath = RootPath(window.path());
    request.resourceDir = window.resourceDir();
    // Built now, after the dialog: the selection is the one at the moment of the export.
    request.options = window.exportOptions();

    WaitCursor wait;
    const QString resourceDir = request.resourceDir;
    request.templateRequest = [&wait, resourceDir] {
        wait.lift();
        // The chooser has no owner window: it stands on its own in the middle of the export.
        const QString name = ChooseTemplate(nullptr, resourceDir);
        wait.set();
        return name;
    };

    QString failure;
    try {
        WriteExportDocument(request);
    } catch (const FileError& e) {
        failure = e.message();
    } catch (const std::exception& e) {
        // Nothing may unwind through the event loop; the report still names the target.
        failure = QFileInfo(target).absoluteFilePath() + QStringLiteral(": ") +
                  QString::fromLocal8Bit(e.what());
    }
    wait.lift();
    if (!failure.isEmpty()) ReportError(&window, failure);
}

void MessageBoxReporter::Report(QWidget* owner, const QString& message) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Treelan"), message, QMessageBox::Ok,
                    owner);
    box.exec();
}

void ReportError(QWidget* owner, const QString& message) {
    g_reporter->Report(owner, message);
}

ErrorReporter* SetErrorReporter(ErrorReporter* reporter) {
    ErrorReporter* previous = g_reporter;
    g_reporter = reporter ? reporter : &g_messageBox;
    return previous;
}

} // namespace treelan
