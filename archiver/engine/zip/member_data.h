// One member written from its file, in the steps that the archive writer and the worker
// threads share: looking at the file and deciding the member's fields, the encryption header,
// the data (stored or deflated) through a sink, and the fields the data decides at the end.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archiver/engine/unzip/aes_crypt.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/zip_crypt.h"
#include "archiver/engine/zip/deflate.h"
#include "archiver/engine/zip/update_reader.h"

namespace zip {

struct OutArchive;

/// Random bytes of one encryption header, drawn before the member is looked at.
using HeaderRandomBytes = std::array<uint8_t, 10>;

/// What a member's writing needs from the run: a copy, so that worker threads share nothing
/// with the run while they work.
struct MemberSettings {
    int method = -1;
    int level = 5;
    bool password_given = false;
    std::string password;
    uint8_t aes_strength = 0;  ///< with a password: 0 traditional encryption, else AES (1-3)
    std::function<int(const char* path)> open_file;
    std::function<ssize_t(int fd, void* buf, size_t n)> read_file;
    bool follow_links = false;  ///< false: a symbolic link is stored as a link
};

/// What looking at the member's file decided, before its header is written.
struct MemberPlan {
    engine::UniqueFd file;                   ///< the open file (none for a folder or a link)
    std::optional<std::string> link_target;  ///< set for a symbolic link stored as such
    uint64_t size = 0;                       ///< its size when opened
    bool encrypt = false;
    uint8_t aes_strength = 0;  ///< an encrypted member's AES strength (0: traditional)
    uint32_t first_crc = 0;    ///< CRC-32 read ahead of a traditionally encrypted member's data
    HeaderRandomBytes random{};
};

/// Looks at the member's file (m.file_path): its time, attributes and size, the method, and
/// for an encrypted member the CRC-32 that the header's check byte needs. Fills the member's
/// header fields. 0, kResultNotRead when the file cannot be opened, kResultRead on a read error.
int OpenMember(Member& m, const MemberSettings& s, MemberPlan& plan);

/// The fixed part of the member's local header, signature included.
std::array<uint8_t, 30> LocalHeaderBytes(const Member& m);

/// Writes the member's local header at the archive's end; 0, 19 (too big) or 10.
int WriteHeader(Member& m, OutArchive& out);

/// Where a member's data goes, through the cipher when one is in force.
struct DataSink : DeflateOutput {
    std::optional<engine::ZipKeys> keys;
    std::unique_ptr<engine::AesCipher> aes;  ///< the AES cipher, when it is in force
    uint64_t count = 0;                      ///< bytes handed on (after the encryption header)

    bool Write(std::span<const uint8_t> bytes) override;
    bool CanSeek() override { return true; }
    /// Takes the (enciphered) bytes; false when they could not be written.
    virtual bool Put(std::span<const uint8_t> bytes) = 0;
    /// Where the next `n` bytes of stored data may be read in place, sparing a copy; empty
    /// when the sink has no such room.
    virtual std::span<uint8_t> Room(size_t /*n*/) { return {}; }
    /// Passes on the first `n` bytes of `room` (from Room), enciphering them in place first
    /// when a cipher is in force.
    bool WriteRoom(std::span<uint8_t> room, size_t n);
    /// Called after each block of stored data: 0, or the result code that ends the member.
    virtual int AfterStoredBlock() { return 0; }

protected:
    /// Takes the first `n` bytes (already enciphered) of the last Room.
    virtual bool PutRoom(size_t /*n*/) { return false; }

private:
    std::vector<uint8_t> scratch_;
};

/// Starts the cipher and writes what goes before the data (the 12-byte encryption header, or
/// an AES member's salt and check value); false when it could not be started or written. The
/// sink's count does not include those bytes.
bool StartCipher(const Member& m, const MemberPlan& plan, const std::string& password,
                 DataSink& sink);

/// Bytes an encrypted member's data carries besides the compressed data (0 when not
/// encrypted).
uint64_t CipherOverhead(const MemberPlan& plan);

/// What writing the data found.
struct DataResult {
    int code = 0;        ///< 0 or the result code that ends the member
    std::string detail;  ///< the fatal error's text, if any
    std::string status;  ///< a status line to show before the error, if any
    bool read_error = false;
    uint32_t crc = 0;    ///< CRC-32 of the bytes read
    uint64_t count = 0;  ///< bytes read
};

/// Reads the member's file through the sink, stored or deflated at the settings' level with
/// `state`; `progress(n)` follows each read of n bytes. `cancelled`, when given and true,
/// ends the reading as a read error would.
DataResult WriteData(Member& m, MemberPlan& plan, const MemberSettings& s, DataSink& sink,
                     DeflateState& state, const std::function<void(uint64_t)>& progress,
                     const std::function<bool()>& cancelled = {});

/// Fills the fields that the data decided (CRC-32, sizes, flags without the descriptor bit).
/// `stream_bytes` counts the data as written, the encryption header included.
void ApplyData(Member& m, bool encrypt, uint32_t crc, uint64_t count, uint64_t stream_bytes);

/// The checks after a member's data, then ApplyData and (with `rewrite`) the local header
/// written again with the final fields: 0, 10, 11 (the file changed under an encrypted
/// member) or 19.
int FinishMember(Member& m, OutArchive& out, const MemberPlan& plan, const DataResult& data,
                 uint64_t stream_bytes, bool rewrite);

/// The pseudo-random source of the encryption headers, seeded once per program.
uint32_t DefaultHeaderRandom();

}  // namespace zip
