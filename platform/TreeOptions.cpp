#include "platform/TreeOptions.h"

namespace treelan {

void PathSet::add(const QByteArray& rawRelativePath) {
    if (rawRelativePath.endsWith('/'))
        m_folders.insert(rawRelativePath);
    else
        m_files.insert(rawRelativePath);
}

} // namespace treelan
