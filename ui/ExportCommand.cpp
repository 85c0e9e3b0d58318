#include "ui/ExportCommand.h"

#include "platform/DirWalker.h"
#include "platform/FileError.h"
#include "settings/StringTable.h"
#include "ui/Dialogs.h"
#include "ui/SaveDialog.h"
#include "ui/WaitCursor.h"
#include "ui/frmExport.h"
#include "ui/frmStyle.h"

#include <QApplication>
#include <QFileInfo>

#include <exception>

namespace treelan {

QString ExportFilterText() {
    return GetGuiString(Str::WebArchive) + QStringLiteral(" (*.mht)|*.mht|") +
           GetGuiString(Str::XmlWithTemplate) + QStringLiteral(" (*.xml)|*.xml|") +
           GetGuiString(Str::GenericXml) + QStringLiteral(" (*.xml)|*.xml|");
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
        ShowSaveDialog(&window, ExportFilterText(), GetGuiString(Str::Export),
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
    if (!failure.isEmpty()) CurrentDialogs().reportError(&window, failure);
}

} // namespace treelan
