// Starting a function on a thread of its own.
#pragma once

#include "win_handles.h"

namespace kickoff {

using WorkerFunction = DWORD (*)(void* parameter);

// Starts `function(parameter)` at once, normal priority, default stack.
// The returned handle is empty when the thread could not be started.
UniqueHandle StartWorkerThread(WorkerFunction function, void* parameter);

}  // namespace kickoff
