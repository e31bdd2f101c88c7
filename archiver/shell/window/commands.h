// The small routines the manager's command files share: the working folder, a setting
// written at once, and the option record's flags.
#pragma once

#include <string>

#include "archiver/shell/options_record.h"

namespace window {

/// The process's working folder ("." when it cannot be read).
std::string CurrentFolder();
/// The folder a path is in: the working folder for a bare name, "/" for a name at the root.
std::string FolderOf(const std::string& path);
/// Writes one key of the settings file now; says so in a message box when it cannot.
void WriteSetting(const char* section, const char* key, const std::string& value);
/// True when a flag of the option record is set.
bool OptionFlag(shell::OptionField field);

}  // namespace window
