#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace treelan {

class OutputFile;

// Buffered byte output; throws FileError naming `displayName` (or the file's own name) when a
// write fails. Nothing reaches the device before the first flush, so it may be opened after the
// buffer is made.
class OutputBuffer {
public:
    OutputBuffer(QIODevice& device, QString displayName);
    explicit OutputBuffer(OutputFile& file);
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
    QIODevice* m_device = nullptr;
    OutputFile* m_file = nullptr;
    QString m_displayName;
    QByteArray m_buffer;
};

} // namespace treelan
