// The private folder that members extracted for viewing go to: made on first use (mode 0700),
// remembered file by file with their modification times so that edits can be noticed, and
// removed with everything in it, never following a link out of it.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace window {

/// Removes a file or a folder tree. Links are removed, never followed; a folder is entered
/// only through a descriptor opened without following links. False when something stayed.
bool RemoveTree(const std::string& path);

/// The temporary folder of viewed members.
class ViewFolder {
public:
    ViewFolder() = default;
    ~ViewFolder();
    ViewFolder(const ViewFolder&) = delete;
    ViewFolder& operator=(const ViewFolder&) = delete;

    /// Makes the folder on first use under $TMPDIR (or /tmp); false with the reason.
    bool Ensure(std::string& error);
    /// The folder, empty before Ensure.
    const std::string& Path() const { return path_; }
    /// Remembers an extracted file and its modification time now.
    void Remember(const std::string& file);
    /// The remembered files whose modification time or size changed since they were extracted.
    std::vector<std::string> Changed() const;
    /// Forgets the files (the folder stays for the next view).
    void Forget() { files_.clear(); }
    /// True when files were extracted and are still there.
    bool HoldsFiles() const { return !files_.empty(); }
    /// Removes the folder and everything in it; false when something stayed.
    bool Remove();

private:
    struct Viewed {
        std::string path;
        timespec mtime{};
        long long size = -1;
    };
    std::string path_;
    std::vector<Viewed> files_;
};

}  // namespace window
