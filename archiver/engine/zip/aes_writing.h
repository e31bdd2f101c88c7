// Writing AES-encrypted members: the 0x9901 field a member carries, the salt and password check
// value in front of its data, the authentication code behind it, and the method word (99) with
// the real method moved into the field once the compressor has decided it.
#pragma once

#include <cstdint>
#include <string>

#include "archiver/engine/zip/member_data.h"

namespace zip {

/// Members smaller than this are written as AE-2, without their CRC: a CRC of a few bytes
/// would tell too much about them. Larger ones are AE-1 and keep it.
constexpr uint64_t kAesCrcFrom = 20;

/// Marks a member about to be written as AES-encrypted at `strength` (1-3): the flag, the
/// version needed and the field in both extra blocks, for a file of `size` bytes.
void MarkAesMember(Member& m, uint8_t strength, uint64_t size);

/// Starts the cipher with a fresh random salt and writes the salt and the check value; false
/// when the cipher could not start or the bytes could not be written.
bool StartAesCipher(uint8_t strength, const std::string& password, DataSink& sink);

/// Writes the authentication code after the data; false when it could not be made or written.
bool FinishAesCipher(DataSink& sink);

/// Once the data is written: the method the data has goes into the field, the header says 99,
/// and an AE-2 member's CRC becomes 0. Nothing for a member that is not AES-encrypted, or that
/// was done already.
void ApplyAesMethod(Member& m);

/// True when the member carries the AES field (it is written AES-encrypted).
bool IsAesMember(const Member& m);

}  // namespace zip
