#include "ui/ExportCommand.h"

#include "export/Formats.h"
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
#include <thread>

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

ExportOutcome RunExportInBackground(QWidget& owner, ExportRequest request,
                                    const std::function<QString()>& chooseTemplate) {
    // Shared with the worker under `lock` (no event queue in between, so the hand-over is plain
    // to a thread checker).
    struct Shared {
        std::atomic<bool> cancel{false};
        std::mutex lock;
        std::condition_variable answered;
        qint64 folders = 0, entries = 0;
        std::vector<Warning> warnings;
        bool templateAsked = false, templateAnswered = false;
        QString templateName;
        bool ended = false;
    } shared;
    request.options.walk.progress = [&shared](const WalkProgress& p) {
        std::lock_guard guard(shared.lock);
        shared.folders = p.folders;
        shared.entries = p.entries;
        return !shared.cancel;
    };
    request.options.walk.warning = [&shared](const QString& path, const QString& reason) {
        std::lock_guard guard(shared.lock);
        shared.warnings.push_back({path, reason});
    };
    // The chooser is a dialog: the worker asks this thread for it and waits for the answer.
    request.templateRequest = [&shared] {
        std::unique_lock guard(shared.lock);
        shared.templateAsked = true;
        shared.answered.wait(guard, [&] { return shared.templateAnswered; });
        return shared.templateName;
    };

    ExportOutcome outcome;
    const QString target = request.targetPath;
    QEventLoop loop;
    std::thread worker([&request, &outcome, &shared, &loop, target] {
        ExportOutcome result;
        BlockBrokenPipeInThisThread(); // a FIFO's reader that leaves fails the export, no more
        try {
            WriteExportDocument(request);
        } catch (const Cancelled&) {
            result.cancelled = true; // the temporary file is gone, the target untouched
        } catch (const FileError& e) {
            result.failure = e.message();
        } catch (const std::exception& e) {
            // The report still names the target.
            result.failure = QFileInfo(target).absoluteFilePath() + QStringLiteral(": ") +
                             QString::fromLocal8Bit(e.what());
        }
        std::lock_guard guard(shared.lock);
        outcome = std::move(result);
        shared.ended = true;
        // Seen now rather than at the next poll (which still finds it, should this come before
        // the loop runs). Asked by name, the event is made and freed inside Qt alone: nothing of
        // ours crosses the event queue, whose lock a thread checker cannot see.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });

    QProgressDialog progress(&owner);
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowTitle(QStringLiteral("Treelan"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setRange(0, 0); // the total is not known before the walk
    progress.setMinimumDuration(kExportProgressDelayMs);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    QObject::connect(&progress, &QProgressDialog::canceled, [&shared] { shared.cancel = true; });
    QTimer tick;
    qint64 lastRedraw = -kExportProgressIntervalMs;
    QElapsedTimer clock;
    clock.start();
    auto poll = [&] {
        if (progress.wasCanceled()) shared.cancel = true; // also a cancel() not by the button
        qint64 folders = 0, entries = 0;
        bool asked = false, ended = false;
        {
            std::lock_guard guard(shared.lock);
            folders = shared.folders;
            entries = shared.entries;
            asked = shared.templateAsked && !shared.templateAnswered;
            ended = shared.ended;
        }
        if (asked) {
            tick.stop(); // the chooser's own loop must not come back here
            const QString name = chooseTemplate ? chooseTemplate() : QString();
            {
                std::lock_guard guard(shared.lock);
                shared.templateName = name;
                shared.templateAnswered = true;
            }
            shared.answered.notify_all();
            tick.start();
        }
        if (ended) {
            loop.quit();
            return;
        }
        if (clock.elapsed() - lastRedraw >= kExportProgressIntervalMs) {
            lastRedraw = clock.elapsed();
            progress.setLabelText(
                QObject::tr("%1 folders, %2 entries written")
                    .arg(QLocale().toString(folders), QLocale().toString(entries)));
            progress.setValue(0); // lets the dialog appear once its delay has passed
        }
    };
    QObject::connect(&tick, &QTimer::timeout, &loop, poll);
    tick.start(kExportPollMs);
    // The window stays alive (repaints, Cancel) while the worker writes.
    loop.exec();
    worker.join();
    progress.close();
    outcome.cancelled = outcome.cancelled || shared.cancel;
    outcome.warnings = std::move(shared.warnings);
    return outcome;
}

} // namespace treelan
