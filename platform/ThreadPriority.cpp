#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace treelan {

void LowerThreadPriority() {
    // On Linux the nice value belongs to the thread: PRIO_PROCESS with a thread id sets that one.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}

} // namespace treelan
