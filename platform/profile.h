// Private-profile (INI) files: sections of key=value lines, read and written key by key.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace platform {

/// Reads a key; the default when the file, section or key is missing. The value is trimmed of
/// blanks and cut to limit - 1 characters (the buffer size of the caller, 0 for no limit).
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& default_value, size_t limit,
                                    const std::string& path);
/// Reads a key as a leading decimal integer; the default when missing or not a number.
long GetPrivateProfileInt(const std::string& section, const std::string& key, long default_value,
                          const std::string& path);
/// Writes one key (created at the end of its section, the section at the end of the file);
/// every other line keeps its text and order. False (errno set) when the file could not be
/// written; the old file is then unchanged.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path);
/// Removes a key; true when the file is as asked afterwards.
bool DeletePrivateProfileKey(const std::string& section, const std::string& key,
                             const std::string& path);
/// Removes a whole section with its header.
bool DeletePrivateProfileSection(const std::string& section, const std::string& path);
/// The keys of a section in file order (duplicates once, first spelling).
std::vector<std::string> GetPrivateProfileKeys(const std::string& section, const std::string& path);
/// The section names of a file in order.
std::vector<std::string> GetPrivateProfileSections(const std::string& path);
/// Every key=value line of a section up to the next header, in order, duplicates included
/// (the whole-section reader of script sections). Keys are trimmed; a value is the text after
/// the first "=" as it stands, since blanks at the end of a script line can matter.
std::vector<std::pair<std::string, std::string>> ReadProfileSection(const std::string& section,
                                                                    const std::string& path);
/// Replaces a whole section with the given lines (removed when lines is empty and
/// keep_empty is false), keeping the rest of the file: the section stays where it first
/// appeared (at the end of the file when new) and any later copy of it is removed.
bool WriteProfileSection(const std::string& section,
                         const std::vector<std::pair<std::string, std::string>>& lines,
                         const std::string& path, bool keep_empty = false);

/// Writes a whole file through a temporary file beside it and a rename over it; false (errno
/// set) when anything failed, the old file then unchanged.
bool WriteFileAtomically(const std::string& path, const std::string& contents);

/// The folder a program keeps its settings in: `$XDG_CONFIG_HOME/<program>/`, or
/// `~/.config/<program>/` when that is unset or empty; always ends in "/".
std::string ConfigFolder(const std::string& program);

}  // namespace platform
