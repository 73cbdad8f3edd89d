// The module's waits on the thread that called it. In the browser's own
// process (IE mode) they stay as designed: the thread answers at most what
// other threads send it, since a posted message pumped there could run the
// page's script inside the call. The browsers' native host lends the
// browser's window to the module's dialogs as their owner's owner, which on
// Windows puts the host's thread and the browser's on one input queue: there
// a wait that left the queue alone would hold the browser's input, so the
// host's program says so (it exports kWaitsServeQueue) and every wait of the
// module pumps.
#pragma once

#include <windows.h>

namespace trv {

// The name of a nonzero DWORD a program exports to have the module's waits
// pump its thread's messages (as a program exports NvOptimusEnablement to
// be told apart by a driver loaded into it).
constexpr char kWaitsServeQueue[] = "TRVWaitsServeQueue";

bool WaitsServeQueue();

// WaitForMultipleObjects (any one; count 0 for a plain pause). With
// answerSent the thread answers what other threads send it meanwhile, and
// where WaitsServeQueue() it dispatches every message of its queue.
DWORD ServingWait(DWORD count, const HANDLE* handles, DWORD ms, bool answerSent);

}  // namespace trv
