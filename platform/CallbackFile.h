#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>

namespace treelan {

// A stdio stream whose writes go to `sink` as they leave its buffer: a writer that knows only
// FILE* (the catalogue's search) can then feed a program's own reader piece by piece. The sink
// returns false to make the write fail, which stops a writer that checks its writes. Close it
// with std::fclose; null when the stream cannot be made.
using WriteSink = std::function<bool(const char* data, std::size_t size)>;
std::FILE* OpenCallbackFile(WriteSink sink);

} // namespace treelan
