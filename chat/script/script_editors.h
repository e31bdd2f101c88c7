// The alias and remote editors: the lists go to the user's editor as text and come back
// whole, or not at all.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "chat/core/windows/line_list.h"

namespace chat {

/// Longest list line kept: a longer one would be cut when the list is read back.
constexpr size_t kMaxListLine = 699;

/// The remote lists as one text: a "[Users]", "[Variables]", "[Commands]" and "[Events]"
/// header, each followed by its list's lines.
std::vector<std::string> RemoteText();
/// Takes edited remote text back into the four lists; on a line too long, a line before the
/// first header or an unknown header nothing changes and `error` says why.
bool ApplyRemoteText(const std::vector<std::string>& lines, std::string& error);
/// Takes edited alias lines back (empty lines skipped); same rules.
bool ApplyAliasText(const std::vector<std::string>& lines, std::string& error);
/// Opens the alias editor (false when no editor could run).
bool EditAliases();
/// Opens the remote editor.
bool EditRemote();
/// Installs the frame commands of the editors.
void InstallScriptEditors();

}  // namespace chat
