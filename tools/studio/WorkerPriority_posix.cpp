#include "WorkerPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace zyr::studio {

void lowerThreadPriority() {
    // Linux keeps a nice value per thread; the process's other threads keep theirs.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}

}  // namespace zyr::studio
