// Moving, copying, renaming and deleting the archive file itself. Plain file operations (no
// program runs for them); a copy is complete and on disk before it takes its name, and a move
// across file systems removes the original only after that.
#pragma once

#include <string>

namespace dialogs {

/// The path an archive goes to when `target` names an existing folder (the archive's own
/// name inside it), otherwise `target` itself.
std::string ResolveTarget(const std::string& archive, const std::string& target);

/// Copies `from` to `to`: written to a temporary file beside `to`, synced, then given its name;
/// an existing `to` is replaced only with `replace` (else EEXIST). 0 or an errno value; on
/// failure nothing is left at `to` that was not there before.
int CopyArchiveFile(const std::string& from, const std::string& to, bool replace);

/// Moves `from` to `to` (rename, or a copy and then the removal of `from` across file systems);
/// an existing `to` only with `replace` (else EEXIST). The same file is EINVAL.
int MoveArchiveFile(const std::string& from, const std::string& to, bool replace);

/// The path for renaming `archive` to `name` in its folder, or empty when `name` is empty,
/// "." or "..", or holds a '/'.
std::string RenamedPath(const std::string& archive, const std::string& name);

/// True when something exists at `path` (a dangling link counts).
bool PathExists(const std::string& path);

}  // namespace dialogs
