#include "listing/Clipboard.h"

#include "listing/ListingModel.h"

namespace treelan {

namespace {
constexpr double kVisibleTwips = 10.0;
}

QString ClipboardLine(const ListingModel& model, int row, const QString& rootPath, bool fullPath) {
    QString line;
    if (fullPath) line += rootPath;
    line += model.text(row, ColFolder);
    line += model.text(row, ColName);
    for (int c = ColSize; c <= ColBitrate; ++c)
        if (model.columnWidth(c) > kVisibleTwips)
            line += QLatin1Char('\t') + model.text(row, c).trimmed();
    line += QLatin1String("\r\n");
    return line;
}

QString ClipboardText(const ListingModel& model, const QString& rootPath, bool fullPath,
                      bool selectedOnly) {
    QString text;
    for (int row = 0; row < model.rowCount(); ++row)
        if (!selectedOnly || model.isSelected(row))
            text += ClipboardLine(model, row, rootPath, fullPath);
    return text;
}

} // namespace treelan
