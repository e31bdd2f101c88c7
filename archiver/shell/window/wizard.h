// The wizard: a step-by-step screen over the manager window for the two common tasks,
// unpacking an archive into a folder and packing files and folders into a zip archive.
#pragma once

namespace window {

/// Runs the wizard until the user leaves it. At start-up (`at_start`) it stands in for the
/// main window: Cancel and Close end the program, and only Full Manager shows the window.
/// Started from the window, every way out goes back to it.
void RunWizard(bool at_start);

}  // namespace window
