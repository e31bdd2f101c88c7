// Decoding one member of the self-extractor's archive: its local header, the traditional
// decryption, the stored and deflated methods, and the check of its size and CRC-32.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "archiver/engine/unzip/inflate.h"
#include "archiver/sfx/appended_archive.h"

namespace sfx {

/// How decoding a member ended.
enum class DataStatus {
    kOk,
    kUnsupported,    ///< a method or encryption this program does not decode
    kBadHeader,      ///< no local header where the directory says, or data past the archive
    kWrongPassword,  ///< the encryption header does not check with the password
    kBadData,        ///< the compressed data is damaged
    kBadSize,        ///< more or less data came out than the directory says
    kBadCrc,         ///< the CRC-32 of what came out differs
    kReadError,
};

/// Text for a status ("CRC error" and the like).
const char* DataStatusText(DataStatus status);

/// True when the member's method and encryption are ones this program decodes.
bool CanDecode(const Member& m);
/// True when the member is encrypted (and so needs a password).
bool IsEncrypted(const Member& m);

/// Receives the member's data in order; false when it could not be stored (decoding still
/// ends normally, so that the caller's own error is what it reports).
using DataSink = std::function<bool(const uint8_t* data, size_t size)>;

/// Decodes member `m` of the open file `fd`, whose zip data ends at `data_end`, giving
/// everything to `sink` and checking size and CRC. `password` is used for an encrypted member.
DataStatus DecodeMember(int fd, uint64_t data_end, const Member& m, const std::string& password,
                        engine::InflateWorkspace& ws, const DataSink& sink);

}  // namespace sfx
