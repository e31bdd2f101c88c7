// The full-screen archive manager: the main window with its menu bar, toolbar, listing and
// status line, run when standard input and output are terminals.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace shell {

/// What the manager starts with: the archive to open and, when the program was started with
/// a command, that command to run inside the window.
struct ManagerStart {
    /// Archive to open at start; empty opens none.
    std::string archive;
    /// The program's arguments (without argv[0]) when they carry a command to run inside
    /// the window once it is drawn; empty when there is none.
    std::vector<std::string> command_args;
    /// Settings file to use; empty uses the default place.
    std::string settings_path;
    /// Descriptor of a hand-over listener to watch for requests from later instances, or -1.
    int handover_fd = -1;
    /// Called when the hand-over descriptor is readable; returns the arguments of the request
    /// it accepted (empty when none). The window opens or runs them as it would its own.
    std::function<std::vector<std::string>()> accept_handover;
};

/// Runs the manager until the user leaves it. Returns the process exit status, or -1 without
/// touching the terminal when standard input or output is not a terminal.
int RunManager(const ManagerStart& start);

}  // namespace shell
