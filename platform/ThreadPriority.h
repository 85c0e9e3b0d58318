#pragma once

namespace treelan {

// Lowers the calling thread's scheduling priority (nice 10), and so that of the threads it starts:
// background work then yields the processor to the interface thread and the display server
// whenever they have something to do, on a machine busy with other work too. Best effort: a
// system that refuses leaves the priority as it was.
void LowerThreadPriority();

} // namespace treelan
