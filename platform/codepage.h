// OEM (CP437) and ANSI (UTF-8) text conversion.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

/// CP437 bytes to UTF-8 (every byte maps; 0x00-0x1F and 0x7F stay the control bytes).
std::string OemToUtf8(std::string_view oem);
/// UTF-8 to CP437; nullopt when the text is not valid UTF-8 or holds a character CP437 lacks.
std::optional<std::string> Utf8ToOem(std::string_view utf8);
/// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);
/// Characters in UTF-8 text (bytes that do not continue a sequence): a name of accented
/// letters is as long as it looks.
size_t Utf8Length(std::string_view utf8);
/// The character a Windows-1252 byte stands for (U+FFFD for the five unassigned bytes).
char32_t Windows1252ToUnicode(unsigned char b);
/// Appends the UTF-8 encoding of a character.
void AppendUtf8(std::string& out, char32_t cp);
/// Text from the wire or a file as UTF-8: kept when valid UTF-8, otherwise read as Windows-1252.
std::string BytesToDisplayUtf8(std::string_view bytes);

}  // namespace platform
