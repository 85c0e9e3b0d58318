#pragma once

#include "export/ExportDocument.h"
#include "listing/ListingScan.h"

#include <QString>

#include <functional>
#include <vector>

class QWidget;

namespace treelan {

class frmExport;

struct ExportFormatInfo;

// The formats the save dialog offers, in its order: the web archive, XML with a template and
// generic XML first, then the rest of the format table.
const std::vector<const ExportFormatInfo*>& SaveDialogFormats();

// The save dialog's type list; the 1-based index of the chosen pair is the export format.
QString ExportFilterText();

// The format for the save dialog's filter index; an index outside the list means the first pair,
// where the dialog starts.
ExportFormat ExportFormatForFilterIndex(int filterIndex);

// The Export button: asks for the target and format, writes the document of the listed folder
// with the window's options, asks for the template when the format names one, and reports a
// failure through the dialogs in use. A cancel creates nothing.
void RunExportCommand(frmExport& window);

// How a background export ended.
struct ExportOutcome {
    QString failure; // the message naming the file; empty on success and after a cancel
    bool cancelled = false;
    std::vector<Warning> warnings; // entries that could not be read
};

inline constexpr int kExportProgressDelayMs = 500;    // shorter exports show no dialog
inline constexpr int kExportProgressIntervalMs = 100; // how often the counts are redrawn
inline constexpr int kExportPollMs = 50; // how often the window's thread looks at the worker

// Writes the document on a worker thread while `owner`'s thread keeps serving events, under a
// window-modal progress dialog (folders and entries written) whose Cancel stops the export: no
// file is then left behind and an existing target is untouched. `chooseTemplate` answers the
// document's template request on `owner`'s thread. Returns when the worker ended.
ExportOutcome RunExportInBackground(QWidget& owner, ExportRequest request,
                                    const std::function<QString()>& chooseTemplate = {});

} // namespace treelan
