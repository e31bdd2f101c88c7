// BinHex 4.0: the colon-delimited text of six-bit characters, run-length coded with 0x90, that
// carries a header (name, type, creator, fork lengths), the data fork and the resource fork,
// each followed by its CRC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mail {

/// The file a BinHex text carries.
struct BinHexFile {
    std::string name;      ///< from the header (not yet checked)
    std::string data;      ///< the data fork
    std::string resource;  ///< the resource fork, often empty
};

/// The CRC of BinHex (CCITT polynomial 0x1021, starting at zero).
uint16_t BinHexCrc(std::string_view data, uint16_t crc = 0);

/// Decodes the BinHex text that starts at the ':' at `text[at]`. Damage (a character outside
/// the alphabet, text cut short before the closing ':' or the forks' ends, a CRC that does not
/// match, a fork longer than the text could hold) gives nullopt with the reason in `error`.
std::optional<BinHexFile> DecodeBinHex(std::string_view text, size_t at, std::string& error);

/// The start of BinHex text: the ':' that begins the line after the banner "(This file must
/// be converted with BinHex", or npos.
size_t FindBinHexStart(std::string_view text);

}  // namespace mail
