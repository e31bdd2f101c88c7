// The full-screen archive manager: the main window with its menu bar, toolbar, listing and
// status line, run when standard input and output are terminals.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "archiver/shell/command_request.h"

namespace shell {

/// What the manager starts with: the archive to open and, when the program was started with
/// a command, that command to run inside the window.
struct ManagerStart {
    /// Archive to open at start; empty opens none.
    std::string archive;
    /// The parsed command line: its command (add, extract, the Extract dialog) runs inside
    /// the window once it is drawn. When `archive` is empty, the request's archive is opened.
    CommandRequest request;
    /// Settings file to use; empty uses the default place.
    std::string settings_path;
    /// Descriptor of a hand-over listener to watch for requests from later instances, or -1.
    int handover_fd = -1;
    /// Called when the hand-over descriptor is readable; returns the program arguments of the
    /// request it accepted (empty when none). The window parses them and opens or runs them
    /// as it would its own command line.
    std::function<std::vector<std::string>()> accept_handover;
};

/// Runs the manager until the user leaves it. Returns the process exit status, or -1 without
/// touching the terminal when standard input or output is not a terminal.
int RunManager(const ManagerStart& start);

}  // namespace shell
