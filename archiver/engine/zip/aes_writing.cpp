#include "archiver/engine/zip/aes_writing.h"

#include <array>

#include "archiver/engine/unzip/aes_crypt.h"
#include "archiver/engine/unzip/aes_field.h"
#include "archiver/engine/unzip/zip_records.h"

namespace zip {

namespace {

// The version the format asks of a reader of AES members.
constexpr uint16_t kVersionNeededAes = 51;

}  // namespace

void MarkAesMember(Member& m, uint8_t strength, uint64_t size) {
    m.flags |= engine::kFlagEncrypted;
    m.version_needed = kVersionNeededAes;
    engine::AesField field;
    field.version = size < kAesCrcFrom ? engine::kAesVersion2 : engine::kAesVersion1;
    field.strength = strength;
    field.method = m.method;
    std::vector<uint8_t> bytes = engine::AesFieldBytes(field);
    m.local_extra.insert(m.local_extra.end(), bytes.begin(), bytes.end());
    m.central_extra.insert(m.central_extra.end(), bytes.begin(), bytes.end());
}

bool IsAesMember(const Member& m) {
    engine::AesField field;
    return engine::ReadAesField(m.local_extra, field) == engine::AesFieldStatus::kOk;
}

bool StartAesCipher(uint8_t strength, const std::string& password, DataSink& sink) {
    size_t salt_size = engine::AesSaltSize(strength);
    std::array<uint8_t, 16 + engine::kAesCheckSize> head{};
    if (salt_size == 0 || !engine::AesRandomBytes(std::span(head.data(), salt_size))) return false;
    std::array<uint8_t, engine::kAesCheckSize> check{};
    std::unique_ptr<engine::AesCipher> cipher =
        engine::AesCipher::Start(strength, password, std::span(head.data(), salt_size), check);
    if (!cipher) return false;
    std::copy(check.begin(), check.end(), head.begin() + static_cast<long>(salt_size));
    // Written as they are: the salt and the check value are not enciphered.
    if (!sink.Put(std::span(head.data(), salt_size + check.size()))) return false;
    sink.aes = std::move(cipher);
    return true;
}

bool FinishAesCipher(DataSink& sink) {
    std::array<uint8_t, engine::kAesAuthSize> code{};
    return sink.aes && sink.aes->AuthCode(code) && sink.Put(code);
}

void ApplyAesMethod(Member& m) {
    engine::AesField field;
    if (m.method == engine::kMethodAes ||
        engine::ReadAesField(m.local_extra, field) != engine::AesFieldStatus::kOk)
        return;
    engine::SetAesFieldMethod(m.local_extra, m.method);
    engine::SetAesFieldMethod(m.central_extra, m.method);
    m.method = engine::kMethodAes;
    m.version_needed = kVersionNeededAes;
    if (field.version == engine::kAesVersion2) m.crc = 0;
}

}  // namespace zip
