#pragma once

#include <QByteArray>
#include <QString>

namespace treelan {

// The whole content of a file. Throws FileError naming the file ("cannot read the <what>: ...")
// when it cannot be opened or read. Reads to the end rather than trusting the reported size, so
// growing files and pseudo files that report 0 come through whole.
QByteArray ReadWholeFile(const QString& path, const QString& what);

} // namespace treelan
