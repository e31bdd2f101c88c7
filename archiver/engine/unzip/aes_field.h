// The extra field (0x9901) that marks an AES-encrypted zip member: the format's version (AE-1
// keeps the CRC, AE-2 stores 0 and relies on the authentication code alone), the key strength
// and the compression method the data really has (the header says 99).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace engine {

/// The method word of an AES-encrypted member.
constexpr uint16_t kMethodAes = 99;
/// The extra field's id and the size of its data.
constexpr uint16_t kExtraAes = 0x9901;
constexpr size_t kAesFieldSize = 7;
/// Format versions: AE-1 keeps the CRC, AE-2 stores 0 in its place.
constexpr uint16_t kAesVersion1 = 1;
constexpr uint16_t kAesVersion2 = 2;

/// What the field says.
struct AesField {
    uint16_t version = kAesVersion1;
    uint8_t strength = 0;  ///< 1 AES-128, 2 AES-192, 3 AES-256
    uint16_t method = 0;   ///< the compression method of the data inside
};

/// Why a field could not be used.
enum class AesFieldStatus { kOk, kMissing, kWrongSize, kNotAes, kBadVersion, kBadStrength };

/// Finds and checks the field in an extra block; `field` is filled only when it is kOk.
AesFieldStatus ReadAesField(std::span<const uint8_t> extra, AesField& field);
/// The per-member error text of a status ("" for kOk).
const char* AesFieldStatusText(AesFieldStatus status);
/// The whole field (id, size, data) for a member.
std::vector<uint8_t> AesFieldBytes(const AesField& field);
/// Rewrites the method inside the first AES field of an extra block; false when it has none.
bool SetAesFieldMethod(std::span<uint8_t> extra, uint16_t method);
/// "AES-128", "AES-192" or "AES-256" ("AES" for a strength out of range).
std::string AesStrengthName(uint8_t strength);

}  // namespace engine
