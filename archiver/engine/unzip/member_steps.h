// The steps every extracted member goes through, whatever kind of archive holds it: selection,
// a safe output path, short names, folder creation, the overwrite question, the output file
// with its status line, writing and progress, its time, and its removal when the run ends
// before the member is complete.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/unzip.h"

namespace engine {

/// An output file being written: closed and deleted at the end of its scope unless kept.
struct OutputFile {
    UniqueFd fd;
    std::string path;      ///< where the data is written
    std::string replaces;  ///< the existing file that `path` takes the place of once complete
    bool keep = false;
    bool replaced = false;  ///< took another file's place: what was there is gone for good
    /// The name the user knows the output by: the file it replaces, if any.
    const std::string& shown() const { return replaces.empty() ? path : replaces; }
    ~OutputFile();
};

/// What the overwrite question shows about the member.
struct MemberFacts {
    std::string stored;     ///< the name as the archive stores it
    uint32_t dos_time = 0;  ///< the member's MS-DOS date and time
    uint64_t size = 0;      ///< its uncompressed size (0 when unknown)
};

/// The per-member steps of one run.
class MemberSteps {
public:
    MemberSteps(const UnzipCommand& cmd, bool short_names);

    /// Selection, output path, folders and the overwrite question for a member named `name`
    /// (UTF-8, `/` between folders). The output path, or nullopt when the member is skipped;
    /// ends the run where the question or a folder says so. Extract mode only. A file that is
    /// the archive's only content is not matched against the selection.
    std::optional<std::string> Prepare(const std::string& name, const MemberFacts& facts,
                                       bool check_selection = true);

    /// Creates the output file. Where something is in its place already, the data goes to a
    /// temporary file beside it, which takes the old one's place (a link is replaced, never
    /// followed) only in Finish: a member that fails or is stopped leaves the old file as it
    /// was.
    void OpenOutput(OutputFile& out, const std::string& path);
    /// Writes a block (unless testing) and counts it for progress; a short write ends the run.
    void Write(OutputFile& out, std::span<const uint8_t> data, bool count_progress = true);
    /// Sets the time (and the permission bits, when given), closes and keeps a complete output
    /// file, moving it over the file it replaces. A replacement that failed its checks must not
    /// get here: left unfinished, it is removed and the old file stays.
    static void Finish(OutputFile& out, std::optional<time_t> mtime,
                       std::optional<mode_t> permissions = std::nullopt);
    /// Creates a symbolic link to `target` at `path` (from Prepare, for the member `name` whose
    /// folders are `depth` deep below the target) in place of the file Prepare made or the
    /// user agreed to replace. A target that leads outside the target folder, or through a
    /// link that does, is refused with a warning.
    void MakeLink(const std::string& path, const std::string& target, size_t depth,
                  const std::string& name, std::optional<time_t> mtime);
    /// The permission bits a member with Unix mode `mode` gets on disk.
    mode_t Permissions(uint32_t mode) const;
    /// Shows "Extracting name" (or "Testing name") and reports progress at once.
    void StatusLine(const std::string& name);

    /// Warns and notes that the run left a member out.
    void Refuse(const std::string& text);
    /// True when a member was refused: the run must not look complete.
    bool refused() const { return refused_; }
    /// The file found at the last prepared output path (nullptr: there was none).
    const struct stat* ExistingOutput() const { return existing_ ? &existing_stat_ : nullptr; }
    /// Where the folders created from now on are listed (nullptr: nowhere), so that folders
    /// made for a member that is never reported can be taken away again.
    void TrackFolders(std::vector<std::string>* created) { created_ = created; }

private:
    [[noreturn]] void FileInTheWay(const std::string& path);
    void MakeFolder(const std::string& path);
    void MakeTargetFolders(const std::string& path);
    bool MakeMemberFolders(const std::string& target, const std::vector<std::string>& parts,
                           const std::string& name);
    bool Overwrite(const std::string& out_path, const MemberFacts& facts);
    // Removes a file Prepare created that no output took over.
    void DropFresh();

    const UnzipCommand& cmd_;
    bool short_names_;
    mode_t umask_;
    bool refused_ = false;
    std::string resolved_target_;
    std::vector<std::string>* created_ = nullptr;
    bool existing_ = false;
    struct stat existing_stat_ {};
    // Folders this run made or found to be real folders, and the targets already made: a
    // member beside the previous one costs no further look-ups.
    std::unordered_set<std::string> known_folders_;
    std::string made_target_;
    // The output Prepare created for a member whose path was free, until OpenOutput takes it.
    OutputFile fresh_;
};

}  // namespace engine
