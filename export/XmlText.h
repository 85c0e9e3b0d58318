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

// The web archive's parts are delimited by "--x", and Chromium takes that anywhere in the stream
// for a delimiter, not only at a line start. Rewrites each "--x" in `out` from `from` on with its
// second hyphen as the reference "&#45;": the page shows the same text, its bytes no delimiter.
void BreakDelimiter(QByteArray& out, qsizetype from = 0);
QByteArray NormalizeForArchive(const QString& text);

} // namespace treelan
