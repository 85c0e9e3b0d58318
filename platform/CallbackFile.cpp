#include "platform/CallbackFile.h"

#include <cerrno>
#include <memory>

namespace treelan {

std::FILE* OpenCallbackFile(WriteSink sink) {
    auto owned = std::make_unique<WriteSink>(std::move(sink));
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* data, std::size_t size) -> ssize_t {
        if (!(*static_cast<WriteSink*>(cookie))(data, size)) {
            errno = ECANCELED;
            return -1;
        }
        return ssize_t(size);
    };
    io.close = [](void* cookie) {
        delete static_cast<WriteSink*>(cookie);
        return 0;
    };
    std::FILE* file = fopencookie(owned.get(), "w", io);
    if (file) owned.release();
    return file;
}

} // namespace treelan
