#include "platform/FileHash.h"

#include "platform/DirWalker.h"

#include <openssl/evp.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace treelan {

bool Sha256OfFile(int folderFd, const QByteArray& rawName, Sha256Digest& digest, int& error) {
    const UniqueFd fd = OpenRegularFile(folderFd, rawName, error);
    if (!fd) return false;
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    // One buffer per thread: large reads keep the system calls few, and the pages stay mapped.
    thread_local std::vector<unsigned char> buffer(1 << 20);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                      &EVP_MD_CTX_free);
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
    error = ok ? 0 : ENOMEM;
    while (ok) {
        const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = errno;
            ok = false;
        } else if (got == 0) {
            break;
        } else if (EVP_DigestUpdate(ctx.get(), buffer.data(), std::size_t(got)) != 1) {
            error = ENOMEM;
            ok = false;
        }
    }
    unsigned int length = 0;
    if (ok && EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) != 1) {
        error = ENOMEM;
        ok = false;
    }
    return ok;
}

} // namespace treelan
