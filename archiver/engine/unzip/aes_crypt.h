// AES encryption of zip members: keys and the password check value from PBKDF2-HMAC-SHA1, AES
// in counter mode with a little-endian counter, and the HMAC-SHA1 authentication code over the
// encrypted data. OpenSSL's libcrypto does every cryptographic step; both engines use it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace engine {

/// Bytes of the password check value that follows the salt.
constexpr size_t kAesCheckSize = 2;
/// Bytes of the authentication code after the encrypted data (the first half of the HMAC).
constexpr size_t kAesAuthSize = 10;
/// PBKDF2 rounds the format prescribes.
constexpr int kAesIterations = 1000;

/// Key strength codes of the format: 1 AES-128, 2 AES-192, 3 AES-256.
constexpr uint8_t kAes128 = 1;
constexpr uint8_t kAes192 = 2;
constexpr uint8_t kAes256 = 3;

/// Bytes of the AES key for a strength code (16, 24, 32); 0 for a code out of range.
size_t AesKeySize(uint8_t strength);
/// Bytes of the salt in front of a member's data (8, 12, 16); 0 for a code out of range.
size_t AesSaltSize(uint8_t strength);
/// Bytes an AES member's data carries besides the compressed data: salt, check value and
/// authentication code; 0 for a code out of range.
size_t AesOverhead(uint8_t strength);

/// Fills `out` from the system's cryptographic random source; false when it failed.
bool AesRandomBytes(std::span<uint8_t> out);

/// One member's cipher: enciphers or deciphers in place and authenticates the encrypted
/// bytes as they pass. Used by one thread at a time.
class AesCipher {
public:
    /// Derives the keys for `password` and `salt` (AesSaltSize bytes). Null when the strength
    /// or the salt's size is wrong, or libcrypto failed; otherwise `check` holds the password
    /// check value the member stores (or must store).
    static std::unique_ptr<AesCipher> Start(uint8_t strength, std::string_view password,
                                            std::span<const uint8_t> salt,
                                            std::array<uint8_t, kAesCheckSize>& check);
    ~AesCipher();
    AesCipher(const AesCipher&) = delete;
    AesCipher& operator=(const AesCipher&) = delete;

    /// Enciphers plain data in place, then adds it to the authentication code; false when
    /// libcrypto failed.
    bool Encrypt(std::span<uint8_t> data);
    /// Adds encrypted data to the authentication code, then deciphers it in place.
    bool Decrypt(std::span<uint8_t> data);
    /// Adds encrypted data to the authentication code without deciphering it.
    bool Authenticate(std::span<const uint8_t> data);
    /// The authentication code of everything added so far; the cipher is finished after it.
    /// False when libcrypto failed.
    bool AuthCode(std::array<uint8_t, kAesAuthSize>& code);

    struct State;

private:
    explicit AesCipher(std::unique_ptr<State> state);
    bool Crypt(std::span<uint8_t> data);
    std::unique_ptr<State> state_;
};

/// True when two authentication codes are equal, compared in constant time.
bool AesAuthCodesEqual(std::span<const uint8_t, kAesAuthSize> a,
                       std::span<const uint8_t, kAesAuthSize> b);

}  // namespace engine
