#pragma once

#include <QString>

namespace treelan {

// The text before its first NUL, or all of it.
QString StripTerminator(const QString& text);

// Type name of a file from its extension, cached per lower-cased extension.
QString TypeNameForFile(const QString& name);

} // namespace treelan
