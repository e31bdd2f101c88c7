// Private temporary folders for extracted members, and removing a folder tree without ever
// following a symbolic link out of it.
#pragma once

#include <string>

namespace programs {

/// Makes a new folder only this user can enter (mode 0700) in $TMPDIR (or /tmp), named
/// `prefix` and six random characters; empty when it cannot be made.
std::string MakePrivateFolder(const std::string& prefix);

/// Removes `path` and everything below it. Links are removed as links, never followed;
/// folders without write or search permission are opened up first. False when something
/// could not be removed.
bool RemoveTree(const std::string& path);

}  // namespace programs
