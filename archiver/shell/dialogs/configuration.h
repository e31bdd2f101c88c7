// The Configuration dialog's switches: where each lives in the option record, and reading and
// writing them there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "archiver/shell/settings.h"

namespace dialogs {

/// One switch of the option record shown as a check box.
struct RecordSwitch {
    size_t offset;
    size_t width;      ///< 2 or 4 bytes, little-endian
    const char* text;  ///< check box text with its "&" letter
};

/// The record's switches that mean something in a terminal, in dialog order.
std::span<const RecordSwitch> ConfigurationSwitches();

/// Offset of the default archive format (16-bit kind code).
constexpr size_t kOptDefaultFormat = 70;

/// Reads an unsigned little-endian field of `width` bytes (1, 2 or 4).
uint32_t ReadField(const shell::OptionRecord& record, size_t offset, size_t width);
/// Writes one; bytes outside the field stay as they are.
void WriteField(shell::OptionRecord& record, size_t offset, size_t width, uint32_t value);

}  // namespace dialogs
