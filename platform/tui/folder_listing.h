// What a file dialog lists: a folder's entries, folders first, filtered by a wildcard pattern.
// No curses here; file_dialog runs the dialog over it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tui {

/// One entry of a folder listing: its name as stored (bytes) and whether it is a folder.
struct FolderEntry {
    std::string name;
    bool folder = false;
};

/// True when `name` matches a pattern of "*" (any run) and "?" (one byte); a pattern list
/// separated by ";" matches when any of its patterns does. An empty pattern matches all.
bool MatchesPattern(std::string_view name, std::string_view patterns);

/// The entries of a folder: ".." first (except at "/"), then folders, then the files that
/// match the pattern, each group sorted by name. Hidden entries (leading ".") are left out
/// unless `hidden`. An unreadable folder gives just "..".
std::vector<FolderEntry> ListFolder(const std::string& folder, std::string_view patterns,
                                    bool hidden = false);

/// The folder reached from `folder` by choosing `entry` (".." goes up; a name goes in);
/// a lexically normal absolute path.
std::string EnterFolder(const std::string& folder, const std::string& entry);

}  // namespace tui
