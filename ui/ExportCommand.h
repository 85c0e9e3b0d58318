#pragma once

#include "export/ExportDocument.h"

#include <QString>

class QWidget;

namespace treelan {

class frmExport;

// The save dialog's type list; the 1-based index of the chosen pair is the export format.
QString ExportFilterText();

// The format for the save dialog's filter index; an index outside the list means the first pair,
// where the dialog starts.
ExportFormat ExportFormatForFilterIndex(int filterIndex);

// The Export button: asks for the target and format, writes the document of the listed folder
// with the window's options, asks for the template when the format names one, and reports a
// failure through the dialogs in use. A cancel creates nothing.
void RunExportCommand(frmExport& window);

} // namespace treelan
