// Help files: plain UTF-8 text split into topics, looked up by key word, and the folder the
// program's own help files are shipped in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace chat {

/// Help files larger than this are read only this far.
constexpr size_t kHelpFileLimit = 1 << 20;

/// One topic: the title, the key words it is found by, and its text lines.
struct HelpTopic {
    std::string title;
    std::vector<std::string> keys;
    std::vector<std::string> lines;
};

/// What a front end shows: a title and lines of text.
struct HelpPage {
    std::string title;
    std::vector<std::string> lines;
};

/// Splits a help file into topics. A line "@ key | key | ..." starts a topic (its first key is
/// the title); text before the first such line, or a file without any, is one topic named
/// `fallback_title`. Control characters are shown as "^X", tabs as blanks.
std::vector<HelpTopic> ParseHelp(std::string_view text, const std::string& fallback_title);

/// The topic for a key word: the first topic with a key that begins with it (case ignored, a
/// leading "/" on either side ignored). An empty key word, or one nothing matches, gives the
/// first topic (the contents); the latter says so in its first line.
HelpPage FindHelpTopic(const std::vector<HelpTopic>& topics, std::string_view key);

/// Reads a help file (at most kHelpFileLimit bytes) and finds the topic for `key`. A file that
/// cannot be read gives a page saying so.
HelpPage LoadHelpPage(const std::string& path, std::string_view key);

/// Writes a help page to standard output as "Help<TAB>line" lines, the title first (the
/// headless front end's help).
void PrintHelp(const std::string& path, const std::string& key);

/// The folder holding the program's help files, with a trailing "/": "help/" beside the
/// program when present (the build tree), else "../share/vesk32/help/" from it (an install).
/// Empty when neither exists.
std::string HelpFolder();

}  // namespace chat
