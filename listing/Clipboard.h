#pragma once

#include <QString>

#include <vector>

namespace treelan {

class ListingModel;

// The line of one row: (root in full path mode,) folder, name, then a TAB and the trimmed text of
// each of Size, Date, Duration and Bitrate that is wider than 10 twips, then CR LF.
void AppendClipboardLine(QString& out, const ListingModel& model, int row, const QString& rootPath,
                         bool fullPath);
// All rows in list order.
QString ClipboardText(const ListingModel& model, const QString& rootPath, bool fullPath);
// Only the given rows (ascending), as "Selected items only" copies them.
QString ClipboardText(const ListingModel& model, const QString& rootPath, bool fullPath,
                      const std::vector<int>& rows);

} // namespace treelan
