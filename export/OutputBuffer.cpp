#include "export/OutputBuffer.h"

#include "platform/FileError.h"
#include "platform/OutputFile.h"

namespace treelan {

OutputBuffer::OutputBuffer(QIODevice& device, QString displayName)
    : m_device(&device), m_displayName(std::move(displayName)) {
    m_buffer.reserve(kChunk + 64 * 1024);
}

OutputBuffer::OutputBuffer(OutputFile& file) : m_file(&file) {
    m_buffer.reserve(kChunk + 64 * 1024);
}

OutputBuffer::~OutputBuffer() = default;

void OutputBuffer::flush() {
    if (m_buffer.isEmpty()) return;
    if (m_file)
        m_file->write(m_buffer.constData(), m_buffer.size()); // throws with the system's reason
    else if (m_device->write(m_buffer) != m_buffer.size())
        throw FileError(m_displayName, QStringLiteral("cannot write: ") + m_device->errorString());
    m_buffer.truncate(0); // keeps the buffer: a cleared one grows again in small steps
}

} // namespace treelan
