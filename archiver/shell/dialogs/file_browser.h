// What the Open and Add dialogs list: a folder's subfolders and files, each file with the
// archive kind its name or content shows.
#pragma once

#include <string>
#include <vector>

#include "archiver/formats/archive_kind.h"

namespace dialogs {

/// One row of a browsing list.
struct BrowserEntry {
    std::string name;  ///< as stored on disk; ".." goes up
    bool folder = false;
    formats::ArchiveKind kind = formats::kKindUnknown;  ///< files only
};

/// The kind of a file by its extension, else by its first and last bytes; kKindUnknown for
/// anything that is not an archive (or not a readable regular file).
formats::ArchiveKind FileKind(const std::string& path);

/// A short name of a kind for a list column ("zip", "gzip", ...); empty for unknown.
const char* KindShortName(formats::ArchiveKind kind);

/// The entries of `folder` (".." first, then folders, then files, each by name; hidden ones
/// left out). With `archives_only` only files of a known kind are listed.
std::vector<BrowserEntry> BrowseFolder(const std::string& folder, bool archives_only);

/// The text of a row: a folder as "name/", a file as its name, then the kind after a blank
/// column when known; control characters made visible.
std::string BrowserRowText(const BrowserEntry& entry, int name_width);

/// The folder a dialog starts in: `wanted` when it is a folder, else its folder part when
/// that is one, else the current folder; always absolute.
std::string StartFolder(const std::string& wanted);

/// True when `path` is a folder (links followed).
bool IsFolder(const std::string& path);
/// The folder part of a path ("." without one, "/" for a name at the root).
std::string FolderOf(const std::string& path);
/// The last component of a path.
std::string BaseName(const std::string& path);

/// `name` joined to `folder` ("/" between), or `name` itself when it starts with "/".
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace dialogs
