#include "archiver/engine/unzip/lz_extract.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "archiver/engine/unzip/lz_expand.h"
#include "archiver/engine/unzip/member_steps.h"
#include "archiver/engine/unzip/output_path.h"
#include "platform/dostime.h"

namespace engine {

namespace {

constexpr size_t kLzBlock = 16384;
const char* const kMsgNeedNewer =
    "File not expanded: you need a more recent version of LZEXPAND.DLL for this file";

}  // namespace

void ExtractMsCompress(const UnzipCommand& cmd, int fd, bool short_names) {
    MemberSteps steps(cmd, short_names);
    struct stat st;
    if (::fstat(fd, &st) != 0) st = {};
    std::string name = cmd.selection.empty() ? std::string() : cmd.selection.front();
    if (name.empty()) name = "unnamed";
    uint32_t dos_time = platform::TimeToDos(st.st_mtime);
    uint64_t compressed = static_cast<uint64_t>(st.st_size);
    uint64_t expected = cmd.kind_value;
    OutputFile out;
    if (cmd.has_target) {
        // Only the name counts: the file lands in the target folder itself.
        std::string base(BaseName(name));
        auto path = steps.Prepare(base, {name, dos_time, expected}, false);
        if (!path) {
            if (steps.refused()) EndRun(kUnzipError);
            return;
        }
        steps.OpenOutput(out, *path);
    }
    ::lseek(fd, 0, SEEK_SET);
    int error = 0;
    LzHandle lz = LzInit(fd, error);
    if (error == kLzErrorGlobalAlloc || error == kLzErrorGlobalLock)
        Fail(kClassMemory, "Insufficient memory", kUnzipError);
    if (error == kLzErrorUnknownAlg) Fail(kClassExpandedSize, kMsgNeedNewer, kUnzipError);
    if (!lz || error != 0)
        Fail(kClassIo,
             "Either this file is corrupted or you need a newer version of LZEXPAND.DLL to "
             "handle this file",
             kUnzipError);
    steps.StatusLine(name);
    std::vector<uint8_t> buf(kLzBlock);
    uint64_t total = 0;
    for (;;) {
        long n = LzRead(*lz, buf);
        // A failed read must not be taken for data.
        if (n == kLzErrorUnknownAlg) Fail(kClassExpandedSize, kMsgNeedNewer, kUnzipError);
        if (n < 0)
            Fail(kClassIo,
                 Format("Error reading %s.  Possible cause: bad disk", cmd.archive.c_str()),
                 kUnzipError);
        steps.Write(out, {buf.data(), static_cast<size_t>(n)});
        total += static_cast<uint64_t>(n);
        if (n < static_cast<long>(kLzBlock)) break;
    }
    // The expected size is the header's, or (for a KWAJ header without one) what the listing
    // expanded: any difference means the header and the data disagree. A new file is kept
    // all the same; an existing file is replaced only by output that matches.
    bool size_ok = total == expected;
    if (size_ok || out.replaces.empty()) steps.Finish(out, st.st_mtime);
    if (!size_ok) {
        if (total == compressed)
            SendError(kClassExpandedSize, kMsgNeedNewer);
        else
            SendError(kClassIo, "Output file size does not match size in header");
        // The run must not look like a success.
        EndRun(kUnzipError);
    }
}

}  // namespace engine
