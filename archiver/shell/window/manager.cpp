// Placeholder entry until the window lands: refuses without a terminal.
#include "archiver/shell/window/manager.h"

#include <unistd.h>

namespace shell {

int RunManager(const ManagerStart& start) {
    (void)start;
    if (!isatty(0) || !isatty(1)) return -1;
    return -1;
}

}  // namespace shell
