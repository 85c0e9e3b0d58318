#include "ui/ExportCommand.h"

#include "export/Formats.h"
#include "platform/BackgroundJob.h"
#include "platform/DirWalker.h"
#include "platform/FileError.h"
#include "platform/OutputFile.h"
#include "platform/RootPath.h"
#include "settings/StringTable.h"
#include "ui/Dialogs.h"
#include "ui/SaveDialog.h"
#include "ui/WaitCursor.h"
#include "ui/frmExport.h"
#include "ui/frmStyle.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocale>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>

namespace treelan {

const std::vector<const ExportFormatInfo*>& SaveDialogFormats() {
    // The three types the dialog always offered keep their places (1 to 3); every other format
    // of the table follows in the table's order.
    static const std::vector<const ExportFormatInfo*> formats = [] {
        const ExportFormat first[] = {ExportFormat::WebArchive, ExportFormat::XmlWithTemplate,
                                      ExportFormat::GenericXml};
        std::vector<const ExportFormatInfo*> list;
        for (const ExportFormat f : first)
            list.push_back(&ExportFormatOf(f));
        for (const ExportFormatInfo& f : ExportFormats())
            if (std::find(std::begin(first), std::end(first), f.format) == std::end(first))
                list.push_back(&f);
        return list;
    }();
    return formats;
}

QString ExportFilterText() {
    QString text = GetGuiString(Str::WebArchive) + QStringLiteral(" (*.mht)|*.mht|") +
                   GetGuiString(Str::XmlWithTemplate) + QStringLiteral(" (*.xml)|*.xml|") +
                   GetGuiString(Str::GenericXml) + QStringLiteral(" (*.xml)|*.xml|");
    const std::vector<const ExportFormatInfo*>& formats = SaveDialogFormats();
    for (std::size_t i = 3; i < formats.size(); ++i) {
        const ExportFormatInfo& f = *formats[i];
        QStringList patterns;
        for (const QString& extension : f.extensions)
            patterns << QLatin1Char('*') + extension;
        if (patterns.isEmpty()) patterns << QStringLiteral("*.") + QLatin1String(f.name);
        QString description = QString::fromUtf8(f.summary);
        if (!description.isEmpty()) description[0] = description[0].toUpper();
        const QString pattern = patterns.join(QLatin1Char(';'));
        text += description + QStringLiteral(" (") + pattern + QStringLiteral(")|") + pattern +
                QLatin1Char('|');
    }
    return text;
}

ExportFormat ExportFormatForFilterIndex(int filterIndex) {
    const std::vector<const ExportFormatInfo*>& formats = SaveDialogFormats();
    if (filterIndex < 1 || filterIndex > int(formats.size())) return ExportFormat::WebArchive;
    return formats[std::size_t(filterIndex - 1)]->format;
}

void RunExportCommand(frmExport& window) {
    int filterIndex = 1;
    const QString target =
        ShowSaveDialog(&window, ExportFilterText(), GetGuiString(Str::Export),
                       QCoreApplication::applicationDirPath(), QString(), filterIndex);
    if (target.isEmpty()) return;

    ExportRequest request;
    request.targetPath = target;
    // The dialog's text, looked up on disk as the folder box's is: a folder whose name is not
    // UTF-8 is found as it is.
    request.rawTargetPath = FindRawPath(QFileInfo(target).absoluteFilePath());
    request.format = ExportFormatForFilterIndex(filterIndex);
    // Made absolute the way the command line makes it, so both write the same root; the folder
    // box's text is looked up on disk once, so a name that is not UTF-8 is found as it is.
    request.rootPath = RootPath(window.path());
    request.resourceDir = window.resourceDir();
    // Built now, after the dialog: the selection is the one at the moment of the export.
    request.options = window.exportOptions();

    WaitCursor wait;
    const ExportOutcome outcome = RunExportInBackground(window, request, [&wait, &request] {
        wait.lift();
        // No owner window: it stands on its own in the middle of the export.
        const QString name = ChooseTemplate(nullptr, request.resourceDir);
        wait.set();
        return name;
    });
    wait.lift();
    window.addWarnings(outcome.warnings);
    if (!outcome.failure.isEmpty()) CurrentDialogs().reportError(&window, outcome.failure);
}

namespace {

// What the export's worker and the window's thread share while it runs, under `lock` (no event
// queue in between, so the hand-over is plain to a thread checker).
struct ExportChannel {
    std::mutex lock;
    std::condition_variable answered;
    qint64 folders = 0, entries = 0;
    std::vector<Warning> warnings;
    bool templateAsked = false, templateAnswered = false;
    QString templateName;

    // The worker's side: counts, warnings and the template question go through the channel.
    void attach(ExportRequest& request, const std::atomic<bool>& stop) {
        // A progress callback the request already has (the window's own) runs first.
        request.options.walk.progress =
            [this, &stop,
             before = std::move(request.options.walk.progress)](const WalkProgress& p) {
                if (before && !before(p)) return false;
                std::lock_guard guard(lock);
                folders = p.folders;
                entries = p.entries;
                return !stop;
            };
        request.options.walk.stillWanted = [&stop] { return !stop; };
        request.options.walk.warning = [this](const QString& path, const QString& reason) {
            std::lock_guard guard(lock);
            warnings.push_back({path, reason});
        };
        // The chooser is a dialog: the worker asks the window's thread and waits for the answer.
        request.templateRequest = [this] {
            std::unique_lock guard(lock);
            templateAsked = true;
            answered.wait(guard, [this] { return templateAnswered; });
            return templateName;
        };
    }
    // The window's side.
    bool templateWanted() {
        std::lock_guard guard(lock);
        return templateAsked && !templateAnswered;
    }
    void answerTemplate(const QString& name) {
        {
            std::lock_guard guard(lock);
            templateName = name;
            templateAnswered = true;
        }
        answered.notify_all();
    }
    QString countsText() {
        std::lock_guard guard(lock);
        return QObject::tr("%1 folders, %2 entries written")
            .arg(QLocale().toString(folders), QLocale().toString(entries));
    }
};

// Writes the document; how it ended, a failure's message naming the target.
ExportOutcome writeDocument(const ExportRequest& request) {
    ExportOutcome result;
    BlockBrokenPipeInThisThread(); // a FIFO's reader that leaves fails the export, no more
    try {
        WriteExportDocument(request);
    } catch (const Cancelled&) {
        result.cancelled = true; // the temporary file is gone, the target untouched
    } catch (const FileError& e) {
        result.failure = e.message();
    } catch (const std::exception& e) {
        result.failure = QFileInfo(request.targetPath).absoluteFilePath() + QStringLiteral(": ") +
                         QString::fromLocal8Bit(e.what());
    }
    return result;
}

// Window-modal, shown only once the export has taken kExportProgressDelayMs; its total is not
// known before the walk.
void setUpProgress(QProgressDialog& progress) {
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowTitle(QStringLiteral("Treelan"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setRange(0, 0);
    progress.setMinimumDuration(kExportProgressDelayMs);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
}

} // namespace

ExportOutcome RunExportInBackground(QWidget& owner, ExportRequest request,
                                    const std::function<QString()>& chooseTemplate) {
    ExportChannel channel;
    QEventLoop loop;
    // Made before the worker starts: building the dialog takes longer than a small export, and a
    // Cancel must reach the worker before the document is in place.
    QProgressDialog progress(&owner);
    setUpProgress(progress);
    // Quits the loop once the document is written (the poll finds it too, should that come
    // before the loop runs).
    BackgroundJob<ExportOutcome> job(
        [&channel, &request](const std::atomic<bool>& stop) {
            channel.attach(request, stop);
            return writeDocument(request);
        },
        &loop, "quit");

    QObject::connect(&progress, &QProgressDialog::canceled, [&job] { job.stop(); });
    QTimer tick;
    QElapsedTimer clock;
    clock.start();
    qint64 lastRedraw = -kExportProgressIntervalMs;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (progress.wasCanceled()) job.stop(); // also a cancel() not by the button
        if (channel.templateWanted()) {
            tick.stop(); // the chooser's own loop must not come back here
            channel.answerTemplate(chooseTemplate ? chooseTemplate() : QString());
            tick.start();
        }
        if (job.ended()) {
            loop.quit();
            return;
        }
        if (clock.elapsed() - lastRedraw < kExportProgressIntervalMs) return;
        lastRedraw = clock.elapsed();
        progress.setLabelText(channel.countsText());
        progress.setValue(0); // lets the dialog appear once its delay has passed
    });
    tick.start(kExportPollMs);
    // The window stays alive (repaints, Cancel) while the worker writes.
    loop.exec();
    ExportOutcome outcome = job.take();
    progress.close();
    outcome.cancelled = outcome.cancelled || job.stopRequested();
    outcome.warnings = std::move(channel.warnings);
    return outcome;
}

} // namespace treelan
