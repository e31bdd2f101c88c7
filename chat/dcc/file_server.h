// What a file-server peer may see: names checked as single components and targets kept inside
// the served folder, and the directory listing it is sent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chat::dcc {

/// Longest path a session's current folder may have.
constexpr size_t kMaxServedPath = 255;
/// Entries a listing shows at most.
constexpr size_t kMaxListing = 5000;

/// True when `name` is one plain path component: not empty, not "." or "..", without "/",
/// "\" or control characters.
bool IsOneComponent(std::string_view name);

/// The real path of `current`/`name` when it exists and lies in `home` (the real home folder)
/// or is home itself; nothing otherwise (a symbolic link that leads out is refused).
std::optional<std::string> InsideHome(const std::string& home, const std::string& current,
                                      std::string_view name);

/// The regular file `name` names in `dir`, letter case ignored as the peer's commands are: the
/// exact name when that file exists, else the first such file in name order. Nothing when
/// none does or `name` is not one plain component.
std::optional<std::string> FileNamedNoCase(const std::string& dir, std::string_view name);

/// Listing options as the "dir" and "ls" commands take them.
struct ListingOptions {
    bool wide = false;
    bool bytes = true;
    int columns = 4;
    std::string pattern = "*.*";
};

/// The lines of a listing of `dir` (each ending in "\n"): the header "[dir/pattern]", folders
/// before files, each group sorted ignoring case, and "End of list.".
std::vector<std::string> BuildDirList(const std::string& dir, const ListingOptions& options,
                                      bool at_home);

/// A size as the long listing shows it: "%llub" in bytes mode or up to 1000, else "%lluk".
std::string ListingSize(uint64_t size, bool bytes);

}  // namespace chat::dcc
