#include "listing/Clipboard.h"

#include "codec/Bytes.h"
#include "listing/ListingModel.h"

namespace treelan {

namespace {
constexpr double kVisibleTwips = 10.0;
constexpr int kPrefetchRows = 16;
} // namespace

void AppendClipboardLine(QString& out, const ListingModel& model, int row, const QString& rootPath,
                         bool fullPath) {
    if (fullPath) AppendText(out, rootPath);
    AppendText(out, model.cell(row, ColFolder));
    AppendText(out, model.cell(row, ColName));
    for (int c = ColSize; c <= ColBitrate; ++c)
        if (model.columnWidth(c) > kVisibleTwips) {
            AppendText(out, u"\t");
            AppendText(out, model.cell(row, c).trimmed());
        }
    AppendText(out, u"\r\n");
}

QString ClipboardLine(const ListingModel& model, int row, const QString& rootPath, bool fullPath) {
    QString line;
    AppendClipboardLine(line, model, row, rootPath, fullPath);
    return line;
}

QString ClipboardText(const ListingModel& model, const QString& rootPath, bool fullPath,
                      bool selectedOnly) {
    QString text;
    for (int row = 0; row < model.rowCount(); ++row) {
        model.prefetch(row + kPrefetchRows);
        if (!selectedOnly || model.isSelected(row))
            AppendClipboardLine(text, model, row, rootPath, fullPath);
    }
    return text;
}

} // namespace treelan
