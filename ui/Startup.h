#pragma once

#include <QString>
#include <QStringList>

namespace treelan {

// The folder listed at start: the arguments joined by blanks (a folder name with spaces may
// arrive split), or the program's folder when there are none; always ending in "/".
QString StartPath(const QStringList& arguments, const QString& programDir);
// "<programDir>/treelan.ini" when that is a regular file, else empty (built-in strings).
QString IniPathFor(const QString& programDir);
// The text with a "/" appended unless it already ends in one.
QString WithTrailingSlash(const QString& path);

} // namespace treelan
