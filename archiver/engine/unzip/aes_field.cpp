#include "archiver/engine/unzip/aes_field.h"

#include "archiver/engine/unzip/aes_crypt.h"
#include "archiver/engine/unzip/zip_records.h"

namespace engine {

namespace {

// The offset of the first AES field's data in an extra block and its stated size; false when
// the block has none before its end or its damage.
bool FindField(std::span<const uint8_t> extra, size_t& at, size_t& size) {
    size_t i = 0;
    while (extra.size() - i >= 4) {
        uint16_t id = Get16(&extra[i]);
        size_t n = Get16(&extra[i + 2]);
        if (id == kExtraAes) {
            at = i + 4;
            size = n;
            return true;
        }
        if (n > extra.size() - i - 4) return false;  // a damaged block ends the search
        i += 4 + n;
    }
    return false;
}

}  // namespace

AesFieldStatus ReadAesField(std::span<const uint8_t> extra, AesField& field) {
    size_t at = 0, size = 0;
    if (!FindField(extra, at, size)) return AesFieldStatus::kMissing;
    if (size != kAesFieldSize || extra.size() - at < kAesFieldSize)
        return AesFieldStatus::kWrongSize;
    const uint8_t* p = &extra[at];
    if (p[2] != 'A' || p[3] != 'E') return AesFieldStatus::kNotAes;
    AesField f;
    f.version = Get16(p);
    f.strength = p[4];
    f.method = Get16(p + 5);
    if (f.version != kAesVersion1 && f.version != kAesVersion2) return AesFieldStatus::kBadVersion;
    if (AesKeySize(f.strength) == 0) return AesFieldStatus::kBadStrength;
    field = f;
    return AesFieldStatus::kOk;
}

const char* AesFieldStatusText(AesFieldStatus status) {
    switch (status) {
        case AesFieldStatus::kOk:
            return "";
        case AesFieldStatus::kMissing:
            return "it is AES-encrypted but has no AES extra field";
        case AesFieldStatus::kWrongSize:
            return "its AES extra field has the wrong size";
        case AesFieldStatus::kNotAes:
            return "its AES extra field is not marked AE";
        case AesFieldStatus::kBadVersion:
            return "its AES extra field has an unknown version";
        case AesFieldStatus::kBadStrength:
            return "its AES extra field has an unknown key strength";
    }
    return "";
}

std::vector<uint8_t> AesFieldBytes(const AesField& field) {
    std::vector<uint8_t> b(4 + kAesFieldSize);
    Put16(b.data(), kExtraAes);
    Put16(b.data() + 2, kAesFieldSize);
    Put16(b.data() + 4, field.version);
    b[6] = 'A';
    b[7] = 'E';
    b[8] = field.strength;
    Put16(b.data() + 9, field.method);
    return b;
}

bool SetAesFieldMethod(std::span<uint8_t> extra, uint16_t method) {
    size_t at = 0, size = 0;
    if (!FindField(extra, at, size) || size != kAesFieldSize || extra.size() - at < kAesFieldSize)
        return false;
    Put16(&extra[at + 5], method);
    return true;
}

std::string AesStrengthName(uint8_t strength) {
    size_t key = AesKeySize(strength);
    return key == 0 ? "AES" : "AES-" + std::to_string(key * 8);
}

}  // namespace engine
