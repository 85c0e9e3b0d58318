#include "ui/Startup.h"

#include <QFileInfo>

namespace treelan {

QString WithTrailingSlash(const QString& path) {
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

QString StartPath(const QStringList& arguments, const QString& programDir) {
    const QString commandLine = arguments.join(QLatin1Char(' '));
    return WithTrailingSlash(commandLine.isEmpty() ? programDir : commandLine);
}

QString IniPathFor(const QString& programDir) {
    const QString path = WithTrailingSlash(programDir) + QStringLiteral("treelan.ini");
    // A folder, a device or a dangling link of that name is no string file.
    return QFileInfo(path).isFile() ? path : QString();
}

} // namespace treelan
