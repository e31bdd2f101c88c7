// The archive manager's settings file "borvan32.ini": where it lives, the option record kept
// hex-encoded under "Opts", and the regional formats of the listing, which come from its
// [Intl] section when set there and otherwise from the user's locale.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archiver/formats/archive_kind.h"
#include "archiver/shell/listing.h"

namespace shell {

/// Size of the option record.
constexpr size_t kOptionRecordSize = 225;
/// Offset of the default archive kind (16-bit) in the option record.
constexpr size_t kOptDefaultKind = 70;
using OptionRecord = std::array<uint8_t, kOptionRecordSize>;

/// $XDG_CONFIG_HOME/borvan32/borvan32.ini (~/.config when unset).
std::string SettingsPath();

/// Decodes an "Opts" value over `record`: two hex digits per byte and a check byte (the sum
/// of the bytes modulo 256), or the earlier 240-character form, which sets the first 119
/// bytes. False, with `record` unchanged, for anything else.
bool DecodeOptionRecord(std::string_view text, OptionRecord& record);

/// The default archive kind configured in the settings file; kKindUnknown when none is.
formats::ArchiveKind DefaultArchiveKind(const std::string& settings_path);

/// The locale's part of the regional formats (date order and separator from the date format,
/// time separator, thousands separator); the built-in defaults where it says nothing usable.
/// `d_fmt`, `t_fmt` and `thousands` are the locale's strings.
IntlFormat IntlFromLocale(std::string_view d_fmt, std::string_view t_fmt,
                          std::string_view thousands);

/// The regional formats: [Intl] "sShortDate", "sDate", "sTime" and "sThousand" of the
/// settings file where present, the user's locale (LC_TIME, LC_NUMERIC) for the rest.
IntlFormat LoadIntlFormat(const std::string& settings_path);

}  // namespace shell
