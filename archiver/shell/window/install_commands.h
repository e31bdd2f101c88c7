// The actions that hand the whole archive to another program: Install and Make .EXE File
// (Virus Scan is declared with the window's shared routines).
#pragma once

namespace window {

/// Install: the setup program in the archive run on the terminal, then the window back.
void InstallFromArchive();
/// Make .EXE File: a self-extracting program written from the open zip archive.
void MakeSelfExtracting();

}  // namespace window
