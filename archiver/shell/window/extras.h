// The manager's small plain-Linux features: the archive UUencoded for mail, a desktop
// launcher that opens it, and the argument vector that mails it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace window {

/// Writes the archive UUencoded to "<archive>.uue" beside it (atomically); the path written,
/// or empty with the reason in `error`.
std::string WriteUuencodedArchive(const std::string& archive, std::string& error);

/// A freedesktop launcher that starts `program` on `archive`. Paths are quoted by the
/// launcher's own rules, so no text of them is ever read by a shell.
std::string DesktopEntry(const std::string& archive, const std::string& program);

/// Writes the launcher into `folder` as "<archive name>.desktop" (mode 0755); the path written,
/// or empty with the reason.
std::string WriteShortcut(const std::string& archive, const std::string& program,
                          const std::string& folder, std::string& error);

/// The lines the built-in text viewer shows for a file's bytes: split at line ends ("\r\n"
/// counts as one), tabs expanded to every 8 columns, and a line continued on the next once it
/// holds `longest` bytes. Nothing is cleaned here: the caller makes each line safe to show.
std::vector<std::string> ViewerLines(std::string_view data, size_t longest = 4096);

/// The argument vector that opens a mail with the archive attached.
std::vector<std::string> MailArguments(const std::string& archive);

}  // namespace window
