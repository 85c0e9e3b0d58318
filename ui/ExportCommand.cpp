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
#include <QEventLoop>
#include <QFileInfo>
#include <QLocale>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <exception>
#include <mutex>

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
    // The chooser is a dialog: the worker asks this thread for it and waits for the answer.
    request.templateRequest = [&wait, &window, resourceDir] {
        QString name;
        QMetaObject::invokeMethod(
            &window,
            [&] {
                wait.lift();
                // No owner window: it stands on its own in the middle of the export.
                name = ChooseTemplate(nullptr, resourceDir);
                wait.set();
            },
            Qt::BlockingQueuedConnection);
        return name;
    };

    const ExportOutcome outcome = RunExportInBackground(window, request);
    wait.lift();
    window.addWarnings(outcome.warnings);
    if (!outcome.failure.isEmpty()) CurrentDialogs().reportError(&window, outcome.failure);
}

ExportOutcome RunExportInBackground(QWidget& owner, ExportRequest request) {
    struct Shared {
        std::atomic<bool> cancel{false};
        std::atomic<qint64> folders{0};
        std::atomic<qint64> entries{0};
        std::mutex lock;
        std::vector<Warning> warnings;
    } shared;
    request.options.walk.progress = [&shared](const WalkProgress& p) {
        shared.folders = p.folders;
        shared.entries = p.entries;
        return !shared.cancel;
    };
    request.options.walk.warning = [&shared](const QString& path, const QString& reason) {
        std::lock_guard guard(shared.lock);
        shared.warnings.push_back({path, reason});
    };

    ExportOutcome outcome;
    const QString target = request.targetPath;
    QThread* worker = QThread::create([&request, &outcome, target] {
        try {
            WriteExportDocument(request);
        } catch (const Cancelled&) {
            outcome.cancelled = true; // the temporary file is gone, the target untouched
        } catch (const FileError& e) {
            outcome.failure = e.message();
        } catch (const std::exception& e) {
            // The report still names the target.
            outcome.failure = QFileInfo(target).absoluteFilePath() + QStringLiteral(": ") +
                              QString::fromLocal8Bit(e.what());
        }
    });

    QProgressDialog progress(&owner);
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowTitle(QStringLiteral("Treelan"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setRange(0, 0); // the total is not known before the walk
    progress.setMinimumDuration(kExportProgressDelayMs);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    auto showCounts = [&] {
        progress.setLabelText(QObject::tr("%1 folders, %2 entries written")
                                  .arg(QLocale().toString(shared.folders.load()),
                                       QLocale().toString(shared.entries.load())));
    };
    showCounts();
    QObject::connect(&progress, &QProgressDialog::canceled, [&shared] { shared.cancel = true; });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &progress, [&] {
        if (progress.wasCanceled()) shared.cancel = true; // also a cancel() not by the button
        showCounts();
        progress.setValue(0); // lets the dialog appear once its delay has passed
    });
    QEventLoop loop;
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    tick.start(kExportProgressIntervalMs);
    // The window stays alive (repaints, Cancel) while the worker writes.
    if (!worker->isFinished()) loop.exec();
    worker->wait();
    delete worker;
    tick.stop();
    progress.close();
    outcome.cancelled = outcome.cancelled || shared.cancel;
    std::lock_guard guard(shared.lock);
    outcome.warnings = std::move(shared.warnings);
    return outcome;
}

} // namespace treelan
