#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace treelan {

// Escapes a name, path or caption for the documents and gives its UTF-8 bytes: & < > " become
// entities, and control characters become their visible pictures (U+2400 + code) so that no
// name can break a line, an element or the MIME framing.
QByteArray Normalize(const QString& text);
void AppendNormalized(QByteArray& out, QStringView text);

} // namespace treelan
