// Window log files and saved buffers: names made safe from window names, and the folder.
#pragma once

#include <string>
#include <string_view>

#include "chat/core/frontend.h"
#include "chat/core/windows/window_table.h"

namespace chat {

/// Makes a file name from any text: letters and digits stay, a leading "#" or "&" stays,
/// everything else becomes "_".
std::string legalize(std::string_view text);
/// The log file name of a slot plus `extension` ("status", "messages", "finger", a channel's
/// whole name, else the last word of the window name).
std::string makefname(int slot, std::string_view extension);
/// Opens log folder + name for writing (appending or truncating), with an optional
/// "Session Start" header; null and a message in the status window on failure. Names with a
/// folder part or control characters are refused.
FilePtr openlog(std::string_view name, bool append, bool header);
/// Writes "Session Close" and closes.
void closelog(FilePtr& log);
/// Toggles logging of a window; `remember` keeps the choice in the settings.
void logwindow(WindowId window, bool announce, bool remember);
/// Writes one logical line to a slot's log; a failure stops logging and is reported once.
void WriteLogLine(int slot, std::string_view raw);
/// Pushes buffered log text to disk (the one-second timer and exit call this).
void FlushLogs();
/// Appends the window's buffer to its log file name in the log folder.
void savebuf(WindowId window);
/// Starts logging when the settings or the auto-log options ask for it (new windows).
void AutoStartLog(int slot);

}  // namespace chat
