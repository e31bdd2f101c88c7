// File selection of a zip run: turns the names and patterns of the command record into marked
// members of the old archive and a list of files found on disk, reads file times, checks the
// found files for duplicate stored names, and deletes moved files afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/engine/zip/selection_names.h"
#include "platform/dostime.h"

namespace zip {

/// What selection needs from the old archive's member list (the writer implements it over
/// its member records and their name-sorted index).
struct SelectionMembers {
    virtual ~SelectionMembers() = default;
    /// Marks every member whose stored name matches `pattern` (names_match with case folded);
    /// returns how many matched.
    virtual size_t mark_matching(std::string_view pattern) = 0;
    /// Finds the member stored as `name` (letters folded only for short names), marks it and
    /// records `path` as its file and the short-name flag. False when no member has the name.
    virtual bool take_file(std::string_view name, const std::string& path, bool short_name) = 0;
};

/// A file on disk that is not a member yet, with what the walk's look at it found (the run
/// filters on these instead of asking the file system again).
struct FoundFile {
    std::string path;         // as given or found on disk
    std::string stored_name;  // the name it goes into the archive under
    bool short_name = false;
    bool regular = false;  // a regular file or a link (folders and special files are not written)
    uint64_t size = 0;     // its size when found
};

/// Selection state of one run.
struct Selection {
    bool delete_action = false;  // names only mark members; the disk is not read
    bool recurse = false;
    bool store_folders = false;
    bool follow_links = false;  // false: a symbolic link is found as itself
    bool short_names = false;
    std::string archive_path;
    SelectionMembers* members = nullptr;
    /// Asked every 1,000 files and folder entries; true stops the run (result 99).
    std::function<bool()> stop_requested;
    /// Receives warnings as text and name ("name in zip file repeated: ", ...).
    std::function<void(std::string_view text, std::string_view name)> warn;

    std::vector<FoundFile> found;  // in discovery order
    size_t refused = 0;            // files left out because their 8.3 name was another file's
    std::vector<std::string> entered_folders;  // folders recursion went into
    uint64_t progress_total = 0;               // bytes of the files selected on disk
    std::string base_folder;                   // folder of the pattern being expanded
    bool base_set = false;
    unsigned counter = 0;
    /// The archive's identity, looked up once per walk rather than once per file found.
    std::string archive_looked_up;  // the path it was looked up for
    bool archive_exists = false;
    uint64_t archive_device = 0;
    uint64_t archive_inode = 0;
};

/// Marks the members a name matches or adds its file (with recursion, a folder's contents):
/// 0, -1 when nothing matched, or a result code (4, 5, 99).
int select_name(Selection& sel, std::string_view name);
/// Walks the folder of `name` for its pattern (and every subfolder with recursion): 0, -1
/// when nothing matched, 16 for a wildcard in a folder part, or another result code.
int expand_pattern(Selection& sel, std::string_view name, bool wild);

/// Outcome of selecting every name of a run.
struct SelectOutcome {
    int result = 0;    // 0 or the code that ends the run
    std::string name;  // the name that failed
};
/// Selects each name in order: patterns and recursion expand against the disk (not for the
/// delete action); a name that matches nothing is warned about ("name not matched: ").
SelectOutcome select_names(Selection& sel, std::span<const std::string> names);

/// Drops files found twice under the same path and name; 16 (after three warnings) when two
/// different files would be stored under one name. With 8.3 names, where different long
/// names often shorten alike, the first file found keeps the name and each later one is
/// refused (refuse_short_clash) while the run goes on.
int check_duplicates(Selection& sel);

/// Refuses `second`, whose 8.3 name `name` already belongs to `first`: a warning that names
/// both, and the run's count of refused files goes up.
void refuse_short_clash(Selection& sel, std::string_view name, std::string_view first,
                        std::string_view second);

/// MS-DOS date and time of a regular file (0 when missing or not a regular file); optionally
/// its attributes (mode in the high 16 bits, bit 0 when not writable) and size.
platform::DosDateTime file_time(const std::string& path, uint32_t* attributes, uint64_t* size);
/// The same for a file already open, which spares looking its path up again.
platform::DosDateTime file_time_fd(int fd, uint32_t* attributes, uint64_t* size);

/// A member whose file is removed after a move: marked or found up to date.
struct MovedEntry {
    std::string stored;
    std::string path;
};
/// Deletes the moved files, then the folders (member folders and `entered`), deepest first,
/// when they are empty. Failures are ignored; returns 0.
int delete_moved(std::span<const MovedEntry> moved, std::span<const std::string> entered);

}  // namespace zip
