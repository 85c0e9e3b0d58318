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
    for (int c = ColSize; c < kListingColumns; ++c) {
        if (c > ColBitrate && c < ColMedia) continue; // the type name and the sort keys
        if (model.columns().columnWidth(c) <= kVisibleTwips) continue;
        AppendText(out, u"\t");
        AppendText(out, model.cell(row, c).trimmed());
    }
    AppendText(out, u"\r\n");
}

QString ClipboardText(const ListingModel& model, const QString& rootPath, bool fullPath) {
    QString text;
    for (int row = 0; row < model.rowCount(); ++row) {
        model.prefetch(row + kPrefetchRows);
        AppendClipboardLine(text, model, row, rootPath, fullPath);
    }
    return text;
}

QString ClipboardText(const ListingModel& model, const QString& rootPath, bool fullPath,
                      const std::vector<int>& rows) {
    QString text;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i + kPrefetchRows < rows.size()) model.prefetch(rows[i + kPrefetchRows]);
        if (rows[i] < model.rowCount())
            AppendClipboardLine(text, model, rows[i], rootPath, fullPath);
    }
    return text;
}

} // namespace treelan
