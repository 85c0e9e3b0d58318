#pragma once

#include <QByteArrayView>
#include <QString>

namespace treelan {

// Reads one value from a profile (INI) file: section and key names compared without regard to
// case, blanks around key and value trimmed, one pair of surrounding quotes removed, the value cut
// to bufferSize - 1 characters. UTF-8 with an optional BOM. Missing file or key gives
// `defaultText`.
QString ReadProfileString(const QString& iniPath, const QString& section, const QString& key,
                          const QString& defaultText = {}, int bufferSize = 255);

// The same over a profile's content already in memory (the file's bytes): what the file reader
// calls once it has read the file.
QString ProfileStringIn(QByteArrayView content, const QString& section, const QString& key,
                        const QString& defaultText = {}, int bufferSize = 255);

} // namespace treelan
