// UNZIP: the entry of the unzip engine (list-side readers are in zip_directory.h). One call
// tests or extracts an archive, reporting through window messages (engine_frame.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archiver/engine/unzip/engine_frame.h"

namespace engine {

/// Archive kinds of the command record.
constexpr uint16_t kKindZip = 1;
constexpr uint16_t kKindTar = 5;
constexpr uint16_t kKindGzip = 6;
constexpr uint16_t kKindMsCompress = 7;

/// The unzip command record, filled by the shell; the engine writes only `result`.
struct UnzipCommand {
    uint16_t kind = kKindZip;
    std::string archive;                 ///< ".zip" is appended when its last component has no `.`
    bool has_target = false;             ///< false: test mode, nothing is written
    std::string target;                  ///< folder to extract into
    std::vector<std::string> selection;  ///< member names to extract; empty: all
    bool use_folder_names = true;
    bool overwrite_all = false;
    uint64_t start_offset = 0;  ///< offset of the first local header
    HWND report_window = 0;
    int result = 0;
    uint32_t kind_value = 0;
    /// Some folders are marked by their attribute only. The engine takes the marks from the
    /// central directory itself, so an empty file is never mistaken for a folder.
    bool folders_by_attribute = false;
    bool password_given = false;
    std::string password;
    /// Threads that decode a zip archive's members: 0 one per core, 1 the run's own only.
    int threads = 0;
};

/// Members with less compressed data than this are decoded on the run's own thread even when
/// it has helpers: handing them over costs more than their decoding. Larger ones go to the
/// helpers while these have little queued, else they too are decoded here.
constexpr uint64_t kDecodeHereBelow = 4 * 1024;

/// Process-wide state of the unzip engine beyond the shared frame.
struct UnzipState {
    /// Longest file-name component the volume holding `folder` allows; below 13 means a
    /// short-name volume. Tests replace it.
    std::function<long(const std::string& folder)> max_name_length;
    /// Set by the overwrite question's "replace all" for the rest of a run.
    bool replace_all = false;
    /// Threads that decode a zip archive's members, over the command's own count (0: the
    /// command decides). Taken from BORVAN32_UNZIP_THREADS when that is set.
    unsigned threads = 0;
    /// Compressed size from which a member goes to a helper thread (tests move it).
    uint64_t decode_here_below = kDecodeHereBelow;
    /// Members at or above that size are decoded here while the helpers have enough queued;
    /// false hands every one of them over, waiting for the helpers as needed (tests).
    bool balance = true;
};
/// The engine's state.
UnzipState& Unzip();
/// A fresh state (tests).
void ResetUnzip();

/// Runs the command: 0 without doing anything when an engine run is in progress, otherwise 1
/// with the outcome in cmd.result. Never throws.
int UNZIP(UnzipCommand& cmd);

}  // namespace engine
