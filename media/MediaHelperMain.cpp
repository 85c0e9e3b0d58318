// treelan-media-helper: reads media details for treelan and treelan-cli in a process of its own,
// so that a library that hangs or crashes on a hostile file takes only this process down.
#include "media/MediaPool.h"
#include "media/MediaReader.h"

#include "TreelanConfig.h"

#include <cstdio>
#include <cstring>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--serve") != 0) {
        std::fprintf(stderr,
                     "treelan-media-helper %s: started by treelan and treelan-cli, which hand it "
                     "files on descriptor 3\n",
                     TREELAN_VERSION);
        return 2;
    }
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TREELAN_SANITIZED 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && !defined(TREELAN_SANITIZED)
    // A file that makes a library allocate without end ends this helper, not the machine.
    const rlimit memory{rlim_t(2) << 30, rlim_t(2) << 30};
    setrlimit(RLIMIT_AS, &memory);
#endif
    treelan::InitMediaLibraries();
    return treelan::ServeMediaRequests(3, [](int fd, qint64 size, const QString& name) {
        return treelan::ReadMedia(fd, size, name);
    });
}
