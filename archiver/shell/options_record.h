// The option record: most dialog options kept together in 225 bytes of little-endian fields,
// stored in the settings file as one hex-encoded value "Opts" with a check byte. Bytes between
// the known fields are kept as read and written back unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace shell {

/// Size of the option record.
constexpr size_t kOptionRecordSize = 225;
using OptionRecord = std::array<uint8_t, kOptionRecordSize>;

/// A field of the option record: its offset and width in bytes (1, 2 or 4).
struct OptionField {
    size_t offset;
    size_t width;
};

/// The record's fields (offset, width), named after the option they hold.
inline constexpr OptionField kOptCompressedSizes{0, 4};  ///< "Display Compressed Sizes"
inline constexpr OptionField kOptSortOrder{8, 2};        ///< sort command number
inline constexpr OptionField kOptCompression{10, 2};     ///< Add dialog compression choice
inline constexpr OptionField kOptOldPkzipCompress{12,
                                                  2};    ///< old PKZIP: 0 maximum, else super fast
inline constexpr OptionField kOptSpanning{14, 2};        ///< multiple disk spanning choice
inline constexpr OptionField kOptAddAction{16, 2};       ///< Add dialog action choice
inline constexpr OptionField kOptRecurse{18, 4};         ///< "Recurse Folders"
inline constexpr OptionField kOptSaveFolderInfo{22, 4};  ///< "Save Extra Folder Info"
inline constexpr OptionField kOptOverwrite{26, 4};       ///< "Overwrite Existing Files"
inline constexpr OptionField kOptUseFolderNames{30, 4};  ///< "Use Folder Names"
inline constexpr OptionField kOptLowercaseNames{34, 4};  ///< "Lowercase File Names"
inline constexpr OptionField kOptLogCommands{38, 4};     ///< "Log Commands/Messages"
inline constexpr OptionField kOptBeep{46, 4};            ///< "Beep After Long Archive Operations"
inline constexpr OptionField kOptAutoOpenDialog{50, 4};  ///< "Automatically Show Open Dialog Box"
inline constexpr OptionField kOptAddAfterNew{54, 4};     ///< after New Archive, the Add dialog
inline constexpr OptionField kOptDefaultFormat{70, 2};   ///< "Default Archive Format" (kind)
inline constexpr OptionField kOptLogDrive{76, 1};        ///< "Log To Drive" letter
inline constexpr OptionField kOptInternalUnzip{77, 4};   ///< "Use Internal Unzipping"
inline constexpr OptionField kOptInternalZip{81, 4};     ///< "Use Internal Zipping"
inline constexpr OptionField kOpt3dBorders{85, 4};       ///< "Display 3D Dialog Borders"
inline constexpr OptionField kOptLargeButtons{97, 2};    ///< "Use Large Toolbar Buttons"
inline constexpr OptionField kOptDpmi{99, 4};            ///< "Enable DPMI"
inline constexpr OptionField kOptEms{103, 4};            ///< "Enable EMS"
inline constexpr OptionField kOptXms{107, 4};            ///< "Enable XMS"
inline constexpr OptionField kOptSlowMemcopy{111, 4};    ///< "Use Slow Memcopy"
inline constexpr OptionField kOptPromptDropped{115, 4};  ///< prompt when a file is dropped
inline constexpr OptionField kOptPromptDragged{119, 4};  ///< prompt when a file is dragged out
inline constexpr OptionField kOptPromptView{123, 4};     ///< prompt when View is pushed
inline constexpr OptionField kOptPromptExtract{127, 4};  ///< prompt when Extract is pushed
inline constexpr OptionField kOptLightGray{131, 4};      ///< "Light Gray Background"
inline constexpr OptionField kOptViewer{139, 2};         ///< a viewer setting
inline constexpr OptionField kOptShortNames{193, 4};     ///< "Store Filenames In DOS 8.3 Format"
inline constexpr OptionField kOptSmartDoc{197, 4};       ///< "Smart DOC Handling"
inline constexpr OptionField kOptAssocIcons{201, 4};     ///< "Display File Association Icons"
inline constexpr OptionField kOptInstall{205, 4};        ///< an install setting
inline constexpr OptionField kOptTarCrLf{213, 4};        ///< "TAR File Smart CR/LF Conversion"
inline constexpr OptionField kOptRightPopup{217, 4};     ///< "Right Button Displays Popup Menu"
inline constexpr OptionField kOptHighColor{221, 4};      ///< "Use High Color Toolbar Buttons"

/// Offset of the default archive kind (16-bit) in the option record.
constexpr size_t kOptDefaultKind = kOptDefaultFormat.offset;

/// The built-in defaults: every field at its default, every other byte 0.
OptionRecord DefaultOptionRecord();

/// Reads a field (little-endian).
uint32_t GetOption(const OptionRecord& record, OptionField field);
/// Writes a field (little-endian); a value wider than the field keeps its low bytes.
void SetOption(OptionRecord& record, OptionField field, uint32_t value);

/// The "Opts" text: two upper-case hex digits per byte, then the check byte (the sum of the
/// bytes modulo 256) the same way; 452 characters.
std::string EncodeOptionRecord(const OptionRecord& record);

/// Decodes an "Opts" value over `record`: either case, the check byte must match and the text
/// must end right after it; a value of exactly 240 characters is the earlier form, which sets
/// the first 119 bytes only. False, with `record` unchanged, for anything else.
bool DecodeOptionRecord(std::string_view text, OptionRecord& record);

}  // namespace shell
