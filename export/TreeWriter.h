#pragma once

#include "export/ExportOptions.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace treelan {

// Buffered byte output; throws FileError naming `displayName` when a write fails.
class OutputBuffer {
public:
    OutputBuffer(QIODevice& device, QString displayName);
    ~OutputBuffer();
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    QByteArray& buffer() { return m_buffer; }
    void write(const QByteArray& bytes) {
        m_buffer.append(bytes);
        spill();
    }
    void writeLine(const QByteArray& bytes) {
        m_buffer.append(bytes).append("\r\n");
        spill();
    }
    // Call after appending to buffer() directly.
    void spill() {
        if (m_buffer.size() >= kChunk) flush();
    }
    void flush();

private:
    static constexpr qsizetype kChunk = 256 * 1024;
    QIODevice& m_device;
    QString m_displayName;
    QByteArray m_buffer;
};

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

enum class TreeForm { Xml, Html };

// Writes the tree body of `root` in the given form.
void Export(const RootPath& root, TreeForm form, const ExportOptions& options, OutputBuffer& out);

} // namespace treelan
