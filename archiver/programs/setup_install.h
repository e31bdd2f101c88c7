// Installing from an archive: its setup program found at the top of the unpacked files, the
// files that program wrote under the install prefix recorded, and uninstalling exactly those.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace programs {

/// The names a setup program may have, in the order they are looked for.
inline constexpr const char* kSetupNames[] = {"setup", "install.sh", "install"};

/// The setup program at the top of `folder`: the first of kSetupNames that is an executable
/// regular file (never a link). Empty when there is none; `why` then says what was found
/// instead ("install.sh is not executable") or that nothing was.
std::string FindSetupProgram(const std::string& folder, std::string& why);

/// What a file under the prefix looked like.
struct FileState {
    uint64_t size = 0;
    int64_t mtime_ns = 0;
    bool link = false;
};

/// Every file and link below `root` (paths relative to it), at most `limit` of them; false
/// when there were more (the snapshot is then incomplete and must not be trusted).
bool SnapshotTree(const std::string& root, size_t limit, std::map<std::string, FileState>& out);

/// The files new or changed from `before` to `after`.
std::map<std::string, FileState> WrittenFiles(const std::map<std::string, FileState>& before,
                                              const std::map<std::string, FileState>& after);

/// An install as recorded.
struct InstallRecord {
    std::string prefix;                      ///< where the setup program installed
    std::map<std::string, FileState> files;  ///< relative to the prefix
};

/// The record's text, and its reading back (false for a damaged record).
std::string InstallRecordText(const InstallRecord& record);
bool ParseInstallRecord(const std::string& text, InstallRecord& record);

/// What an uninstall did.
struct UninstallReport {
    std::vector<std::string> removed;
    std::vector<std::string> kept;  ///< changed since the install, or outside the prefix
    bool ok = true;                 ///< every file was removed or is gone
};

/// Removes the recorded files that are as the setup program left them (size and time), then
/// the folders below the prefix that are left empty. A file changed since is kept and named.
UninstallReport UninstallFiles(const InstallRecord& record);

}  // namespace programs
