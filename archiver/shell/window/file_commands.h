// The File menu's commands on the archive as a file: favorite folders, a desktop shortcut,
// mailing it, moving, copying, renaming and deleting it, its information, and Exit.
#pragma once

namespace window {

/// Favorite Zip Folders: the list of folders, to open from, add the current folder to, or
/// remove from.
void Favorites();
/// Create Shortcut: a desktop launcher that opens the archive.
void Shortcut();
/// Mail Archive: the archive handed to the desktop's mail program.
void Mail();
/// Exit: the archive closed, the settings saved when asked for, and the window ended.
void Exit();
/// Move, Copy, Rename or Delete Archive (`command` says which) through its dialog.
void FileOperation(int command);
/// Information: the archive's facts in a dialog.
void Information();

}  // namespace window
