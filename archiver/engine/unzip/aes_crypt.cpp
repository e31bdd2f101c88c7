#include "archiver/engine/unzip/aes_crypt.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace engine {

namespace {

constexpr size_t kBlock = 16;
// Counter blocks enciphered per call: one libcrypto call covers a kilobyte of keystream.
constexpr size_t kKeystreamBlocks = 64;
constexpr size_t kSha1Size = 20;

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct MacFree {
    void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
};
struct MacCtxFree {
    void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
};

const EVP_CIPHER* EcbCipher(uint8_t strength) {
    switch (strength) {
        case kAes128:
            return EVP_aes_128_ecb();
        case kAes192:
            return EVP_aes_192_ecb();
        case kAes256:
            return EVP_aes_256_ecb();
        default:
            return nullptr;
    }
}

// Key bytes that are wiped when they go out of scope.
struct SecretBytes {
    std::vector<uint8_t> bytes;
    explicit SecretBytes(size_t n) : bytes(n) {}
    ~SecretBytes() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

}  // namespace

struct AesCipher::State {
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> cipher;
    std::unique_ptr<EVP_MAC_CTX, MacCtxFree> mac;
    // The counter block: a 128-bit little-endian number, 1 for the first block.
    std::array<uint8_t, kBlock> counter{};
    std::array<uint8_t, kBlock * kKeystreamBlocks> keystream{};
    size_t keystream_used = kBlock * kKeystreamBlocks;  // all used: none made yet
    bool finished = false;

    ~State() { OPENSSL_cleanse(keystream.data(), keystream.size()); }

    bool Refill() {
        std::array<uint8_t, kBlock * kKeystreamBlocks> blocks;
        for (size_t b = 0; b < kKeystreamBlocks; ++b) {
            for (size_t i = 0; i < kBlock && ++counter[i] == 0; ++i) {
            }
            std::copy(counter.begin(), counter.end(),
                      blocks.begin() + static_cast<long>(b * kBlock));
        }
        int out_len = 0;
        bool ok = EVP_EncryptUpdate(cipher.get(), keystream.data(), &out_len, blocks.data(),
                                    static_cast<int>(blocks.size())) == 1 &&
                  out_len == static_cast<int>(blocks.size());
        keystream_used = 0;
        return ok;
    }
};

size_t AesKeySize(uint8_t strength) {
    return strength >= kAes128 && strength <= kAes256 ? 8u + 8u * strength : 0;
}

size_t AesSaltSize(uint8_t strength) {
    return AesKeySize(strength) / 2;
}

size_t AesOverhead(uint8_t strength) {
    size_t salt = AesSaltSize(strength);
    return salt == 0 ? 0 : salt + kAesCheckSize + kAesAuthSize;
}

bool AesRandomBytes(std::span<uint8_t> out) {
    return out.size() <= INT_MAX && RAND_bytes(out.data(), static_cast<int>(out.size())) == 1;
}

AesCipher::AesCipher(std::unique_ptr<State> state) : state_(std::move(state)) {}
AesCipher::~AesCipher() = default;

std::unique_ptr<AesCipher> AesCipher::Start(uint8_t strength, std::string_view password,
                                            std::span<const uint8_t> salt,
                                            std::array<uint8_t, kAesCheckSize>& check) {
    size_t key_size = AesKeySize(strength);
    if (key_size == 0 || salt.size() != AesSaltSize(strength) || password.size() > INT_MAX)
        return nullptr;
    // One derivation gives the cipher's key, the authentication key and the check value.
    SecretBytes derived(2 * key_size + kAesCheckSize);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                          static_cast<int>(salt.size()), kAesIterations, EVP_sha1(),
                          static_cast<int>(derived.bytes.size()), derived.bytes.data()) != 1)
        return nullptr;
    auto state = std::make_unique<State>();
    state->cipher.reset(EVP_CIPHER_CTX_new());
    if (!state->cipher ||
        EVP_EncryptInit_ex(state->cipher.get(), EcbCipher(strength), nullptr, derived.bytes.data(),
                           nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(state->cipher.get(), 0) != 1)
        return nullptr;
    std::unique_ptr<EVP_MAC, MacFree> hmac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    if (!hmac) return nullptr;
    state->mac.reset(EVP_MAC_CTX_new(hmac.get()));
    char digest[] = "SHA1";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_end(),
    };
    if (!state->mac ||
        EVP_MAC_init(state->mac.get(), derived.bytes.data() + key_size, key_size, params) != 1)
        return nullptr;
    std::copy_n(derived.bytes.begin() + static_cast<long>(2 * key_size), kAesCheckSize,
                check.begin());
    return std::unique_ptr<AesCipher>(new AesCipher(std::move(state)));
}

bool AesCipher::Crypt(std::span<uint8_t> data) {
    State& s = *state_;
    size_t done = 0;
    while (done < data.size()) {
        if (s.keystream_used == s.keystream.size() && !s.Refill()) return false;
        size_t n = std::min(data.size() - done, s.keystream.size() - s.keystream_used);
        for (size_t i = 0; i < n; ++i) data[done + i] ^= s.keystream[s.keystream_used + i];
        s.keystream_used += n;
        done += n;
    }
    return true;
}

bool AesCipher::Authenticate(std::span<const uint8_t> data) {
    if (state_->finished) return false;
    return data.empty() || EVP_MAC_update(state_->mac.get(), data.data(), data.size()) == 1;
}

bool AesCipher::Encrypt(std::span<uint8_t> data) {
    return Crypt(data) && Authenticate(data);
}

bool AesCipher::Decrypt(std::span<uint8_t> data) {
    return Authenticate(data) && Crypt(data);
}

bool AesCipher::AuthCode(std::array<uint8_t, kAesAuthSize>& code) {
    if (state_->finished) return false;
    state_->finished = true;
    std::array<uint8_t, kSha1Size> full{};
    size_t n = 0;
    if (EVP_MAC_final(state_->mac.get(), full.data(), &n, full.size()) != 1 || n != kSha1Size)
        return false;
    std::copy_n(full.begin(), kAesAuthSize, code.begin());
    return true;
}

bool AesAuthCodesEqual(std::span<const uint8_t, kAesAuthSize> a,
                       std::span<const uint8_t, kAesAuthSize> b) {
    return CRYPTO_memcmp(a.data(), b.data(), kAesAuthSize) == 0;
}

}  // namespace engine
