// Members compressed on worker threads ahead of the archive writer. Each member goes into its
// own pieces of memory, or into a private spill file beside the archive once the waiting
// members hold too much; the writer takes the members in the archive's order and replays, for
// each, the same checks, progress reports and stop checks as when it compresses the member
// itself, so that the archive and everything the user sees are the same for any number of
// threads.
//
// Memory: the waiting members hold at most `memory` bytes (the member being written may add one
// piece of kPieceSize), and each worker its compressor state (about 0.5 MiB) and one piece.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "archiver/engine/zip/member_data.h"
#include "archiver/engine/zip/zip_writer.h"

namespace zip {

/// Compressed bytes a worker gathers before handing them to the writer.
constexpr size_t kPieceSize = 256 * 1024;
/// Members that may be compressed ahead of the one being written.
constexpr size_t kMembersAhead = 64;
/// Most worker threads of one run.
constexpr unsigned kMaxThreads = 16;

/// Threads a run with `members` members to compress uses: `setting` when above 0 (at most
/// kMaxThreads), otherwise one per processor core; never more than the members, nor more than
/// one per 8 MiB of free memory. 1 means no worker threads at all.
unsigned CompressThreads(int setting, size_t members);

/// The worker threads of one run and the members they compress.
class ParallelCompressor {
public:
    /// Starts `threads` workers on `members` (in the archive's order, each with its file_path,
    /// name, short-name mark and old extra fields). Spill files go to `spill_folder` (the
    /// current folder when empty).
    ParallelCompressor(MemberSettings settings, std::vector<Member> members, unsigned threads,
                       std::string spill_folder, size_t memory);
    /// Stops the workers, waits for them and removes every spill file.
    ~ParallelCompressor();
    ParallelCompressor(const ParallelCompressor&) = delete;
    ParallelCompressor& operator=(const ParallelCompressor&) = delete;

    /// Writes the next member into the archive, as WriteMember does: 0, kResultNotRead (the
    /// archive untouched) or the result code that ends the run. `m` receives the member as
    /// written.
    int WriteNext(Member& m, OutArchive& out, std::string& detail);

    /// Most bytes the waiting members held in memory at once.
    size_t PeakMemory() const;
    /// Members that went (partly) to spill files.
    size_t SpilledMembers() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace zip
