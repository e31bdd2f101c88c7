// The dialogs the terminal shows for the command language and the session: the one-line
// prompt, the file dialog, help pages and the user-information view.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace chat {

/// The prompt of $?: a one-line field under the title; nothing for Cancel.
std::optional<std::string> Prompt(const std::string& title);

/// A starting folder with a file pattern ("/home/me/*.txt") as the folder to open (with its
/// "/", empty for the current folder) and the pattern ("*.*" meaning every file).
std::pair<std::string, std::string> SplitFilePattern(const std::string& pattern);

/// The file dialog behind $file and $hfile, or with kind "dir" a folder picker; the choice
/// must exist. Nothing for Cancel.
std::optional<std::string> SelectFile(const std::string& kind, const std::string& title,
                                      const std::string& pattern);

/// A help file's topic for a key word, in the text viewer.
void ShowHelp(const std::string& path, const std::string& key);

/// The user-information view: one line per labelled field in a message box.
void ShowUserInformation(const std::string& nick,
                         const std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace chat
