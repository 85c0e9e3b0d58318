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
// failure in a message box. A cancel creates nothing.
void RunExportCommand(frmExport& window);

// Tells the user that an export failed. Replaceable, so that tests see the report instead of a
// modal box that waits for a person.
class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    virtual void Report(QWidget* owner, const QString& message) = 0;
};

// A QMessageBox with the message and an Ok button.
class MessageBoxReporter : public ErrorReporter {
public:
    void Report(QWidget* owner, const QString& message) override;
};

// Reports through the reporter currently installed (a MessageBoxReporter unless replaced).
void ReportError(QWidget* owner, const QString& message);

// Installs the reporter that ReportError uses (not owned; nullptr restores the message box) and
// returns the one installed before.
ErrorReporter* SetErrorReporter(ErrorReporter* reporter);

} // namespace treelan
