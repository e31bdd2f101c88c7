// The parsed form of a private-profile (INI) file: lines that remember their own line ends,
// so that a rewrite reproduces every untouched line byte for byte, and the index of its
// sections and keys.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::profile_detail {

/// What a line of the file is, by its first character that is not blank.
enum class LineKind { kBlank, kComment, kHeader, kKey, kOther };

/// One line of the file, without its line end.
struct Line {
    std::string text;  // without its line end
    bool has_eol = true;
    bool crlf = false;
    LineKind kind = LineKind::kOther;
    std::string name;      // header: the section name; key line: the key; both trimmed
    size_t value_pos = 0;  // key line: offset just past the first "="
};

/// One occurrence of a section: its header line, its extent and its keys.
struct Section {
    std::string folded;  // the name in lower case
    size_t header = 0;   // index of the header line
    size_t end = 0;      // one past its last line: the next header or the end of the file
    std::unordered_map<std::string, size_t> keys;  // folded key -> its first line
};

/// A whole file: its lines, its sections in order, and where each name first appears.
struct Document {
    bool bom = false;
    bool crlf = false;  // the line end new lines get: that of the file's first line
    std::vector<Line> lines;
    std::vector<Section> sections;
    std::unordered_map<std::string, size_t> first_section;  // folded name -> sections index
};

/// Text without the blanks (space, tab, vertical tab, form feed, carriage return) around it.
std::string_view Trim(std::string_view s);
/// Text with ASCII capitals made small: names of sections and keys compare this way.
std::string Fold(std::string_view s);
/// A new line of the given text, classified, with the given line end.
Line NewLine(std::string text, bool crlf);
/// Parses a file's bytes (a UTF-8 byte order mark is remembered and set aside).
Document Parse(std::string_view bytes);
/// The bytes of a file with these lines, the byte order mark first when it had one.
std::string Serialize(bool bom, const std::vector<Line>& lines);
/// The first occurrence of a section, or null.
const Section* FindSection(const Document& doc, std::string_view name);
/// The first line of a key in the first occurrence of its section, or null.
const Line* FindKey(const Document& doc, std::string_view section, std::string_view key);
/// One past the section's last line that is neither blank nor a comment (the header when
/// there is none).
size_t ContentEnd(const Document& doc, const Section& s);

}  // namespace platform::profile_detail
