#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace treelan {

void LowerThisThreadPriority() {
    // On Linux a nice value belongs to the thread that the id names, not to the whole process.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}

} // namespace treelan
