// Writing a self-extracting archive: the self-extracting program followed by a zip archive
// whose offsets are moved by the program's size, so that the result is also a plain zip
// archive to every reader.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sfx {

/// What to write.
struct SfxRequest {
    std::string archive;            ///< the zip archive to append
    std::string output;             ///< the program to write
    bool replace = false;           ///< an existing output may be replaced
    std::span<const uint8_t> stub;  ///< the self-extracting program's bytes
};

/// How it went: `ok`, or the reason in `message` (nothing is left behind then).
struct SfxResult {
    bool ok = false;
    std::string message;
};

/// The output name borvan32 suggests for an archive: its name without ".zip" (any case), or
/// with ".run" added when it has no such extension.
std::string DefaultSfxName(const std::string& archive);

/// Refuses members the self-extractor cannot decode (AES, strong encryption, methods other
/// than stored and deflated, naming the first such member and its method), archives that are
/// not zip archives or span disks, and an output that is the archive itself or exists while
/// `replace` is false. Otherwise writes the output through a temporary file beside it and
/// gives it the permissions rwxr-xr-x less the umask.
SfxResult MakeSelfExtractor(const SfxRequest& request);

/// The name of a compression method for messages ("bzip2 (method 12)").
std::string MethodDescription(uint16_t method);

}  // namespace sfx
