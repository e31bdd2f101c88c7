// The commands that write text files and make sounds: /write, /beep, /sound and /wavplay (and
// the installation of /play with them).
#pragma once

#include <string>
#include <string_view>

#include "chat/core/frontend.h"
#include "chat/script/tokens.h"

namespace chat {

/// The options of /write.
struct WriteOptions {
    bool clear = false;   ///< c: empty the file first
    bool insert = false;  ///< i
    bool remove = false;  ///< d
    int line = 0;         ///< lN, 0 when not given
    bool by_start = false;
    std::string start;  ///< stext: the line that begins with this word
};

/// Reads the option words of /write from slot `index` on; `index` ends at the file name.
WriteOptions ParseWriteOptions(const Args& a, size_t& index);
/// The file's new contents for an edit by line number, by start word, or a drop of the last
/// line; `line` is the text without its line end.
std::string RewriteLines(std::string_view contents, const WriteOptions& o, std::string_view line);

/// /write [-c -i -d -lN -stext] file [text]
int dowrite(WindowId window, const Args& a, bool remote);
/// /beep [count [interval]]
int dobeep(WindowId window, const Args& a, bool remote);
/// /sound [target] file [text]
int dosound(WindowId window, const Args& a, bool remote);
/// /wavplay file
int dowavplay(WindowId window, const Args& a, bool remote);

/// Installs /write, /beep, /sound, /wavplay and /play, and the sound settings reader.
void InstallFileCommands();

}  // namespace chat
