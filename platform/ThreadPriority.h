#pragma once

namespace treelan {

// Lowers the calling thread's scheduling priority (nice 10): long work beside a window then
// leaves the processor to the window's thread whenever both want it, so the window keeps
// answering on a busy machine. Failing to lower it changes nothing else.
void LowerThisThreadPriority();

} // namespace treelan
