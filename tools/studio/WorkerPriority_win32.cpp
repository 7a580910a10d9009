#include "WorkerPriority.h"

#include <windows.h>

namespace zyr::studio {

void lowerThreadPriority() {
    // Below the frame loop's normal priority: the worker runs when the frame
    // loop waits (on the swap, mostly), and the system's boost for threads
    // that wait too long keeps it from starving.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace zyr::studio
