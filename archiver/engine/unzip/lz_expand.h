// LZ expander: reads files packed by the Microsoft Compress tools (SZDD and KWAJ) back to their
// original bytes; any other file is passed through unchanged.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace engine {

struct LzFile;  ///< opaque expander state
/// Frees an expander state (keeps LzFile opaque to holders of a unique_ptr).
struct LzFileDeleter {
    void operator()(LzFile* file) const;
};
/// Owning handle of an expander state.
using LzHandle = std::unique_ptr<LzFile, LzFileDeleter>;

/// Error codes of LzInit and LzRead.
constexpr int kLzErrorBadInHandle = -1, kLzErrorBadOutHandle = -2, kLzErrorRead = -3,
              kLzErrorWrite = -4, kLzErrorGlobalAlloc = -5, kLzErrorGlobalLock = -6,
              kLzErrorBadValue = -7, kLzErrorUnknownAlg = -8;

/// Starts expanding the file open on `fd` (SZDD, KWAJ, or a plain file passed through unchanged);
/// `error` gets 0 or a kLzError value.
LzHandle LzInit(int fd, int& error);
/// Up to `out.size()` expanded bytes; 0 at the end, a kLzError value on failure.
long LzRead(LzFile& file, std::span<uint8_t> out);
/// The name a KWAJ/SZDD file expands to (base name only), nullopt when it cannot tell.
std::optional<std::string> GetExpandedName(const std::string& path);

}  // namespace engine
