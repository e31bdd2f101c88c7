// Where a user's files go on a Linux desktop: the XDG base folders and the download folder.
#pragma once

#include <string>

namespace platform {

/// The folder for a program's state (logs, history): `$XDG_STATE_HOME/<program>/`, or
/// `~/.local/state/<program>/` when that is unset, empty or not absolute; always ends in "/".
/// Nothing is created.
std::string StateFolder(const std::string& program);

/// The user's download folder: `$XDG_DOWNLOAD_DIR`, else the `XDG_DOWNLOAD_DIR` line of
/// `$XDG_CONFIG_HOME/user-dirs.dirs` (as the desktop's user-dirs tool writes it), else
/// `~/Downloads`; always ends in "/". Nothing is created.
std::string DownloadFolder();

/// Parses one `user-dirs.dirs` file's text for `key` ("XDG_DOWNLOAD_DIR"): the quoted value
/// with a leading `$HOME` replaced by `home`; empty when absent or not an absolute path.
std::string UserDirFromText(const std::string& text, const std::string& key,
                            const std::string& home);

/// Makes `folder` and its missing parents with mode 0700 (a user's private data); true when
/// it is a folder afterwards.
bool MakePrivateFolders(const std::string& folder);

}  // namespace platform
