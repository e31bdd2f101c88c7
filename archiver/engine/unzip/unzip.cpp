#include "archiver/engine/unzip/unzip.h"

#include <fcntl.h>
#include <sys/statfs.h>

#include <cstdlib>
#include <filesystem>

#include "archiver/engine/unzip/extract.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/gzip_extract.h"
#include "archiver/engine/unzip/lz_extract.h"
#include "archiver/engine/unzip/output_path.h"
#include "archiver/engine/unzip/tar_extract.h"
#include "archiver/engine/unzip/volume_set.h"

namespace engine {

namespace {

// The longest name component of the volume holding folder (or its nearest existing parent).
long StatfsNameMax(const std::string& folder) {
    std::filesystem::path path = std::filesystem::absolute(folder.empty() ? "." : folder);
    for (;;) {
        struct statfs sfs;
        if (::statfs(path.c_str(), &sfs) == 0) return static_cast<long>(sfs.f_namelen);
        if (!path.has_relative_path()) return 255;
        path = path.parent_path();
    }
}

UnzipState MakeState() {
    UnzipState s;
    s.max_name_length = StatfsNameMax;
    if (const char* env = std::getenv("BORVAN32_UNZIP_THREADS")) {
        char* end = nullptr;
        unsigned long n = std::strtoul(env, &end, 10);
        if (end != env && *end == '\0' && n <= 1024) s.threads = static_cast<unsigned>(n);
    }
    return s;
}

UnzipState& StateStorage() {
    static UnzipState state = MakeState();
    return state;
}

}  // namespace

UnzipState& Unzip() {
    return StateStorage();
}
void ResetUnzip() {
    StateStorage() = MakeState();
}

int UNZIP(UnzipCommand& cmd) {
    BusyGuard busy;
    if (!busy.acquired) return 0;
    EngineFrame& frame = Frame();
    HWND saved_report = frame.report_window;
    frame.report_window = cmd.report_window;
    Unzip().replace_all = false;
    ResetProgress();
    cmd.result = kUnzipOk;
    try {
        bool short_names =
            cmd.has_target && Unzip().max_name_length && Unzip().max_name_length(cmd.target) < 13;
        std::string archive = WithZipExtension(cmd.archive);
        // A zip archive may be split: its volumes are read as one file.
        UniqueFd fd;
        if (cmd.kind == kKindTar || cmd.kind == kKindGzip || cmd.kind == kKindMsCompress) {
            fd.reset(::open(archive.c_str(), O_RDONLY | O_CLOEXEC));
            if (!fd)
                Fail(kClassIo, Format("Can't open input file: %s", archive.c_str()), kUnzipError);
        } else {
            OpenedArchive opened = OpenArchive(archive);
            if (opened.problem != OpenProblem::kNone) Fail(kClassIo, opened.message, kUnzipError);
            fd = std::move(opened.fd);
        }
        switch (cmd.kind) {
            case kKindTar:
                ExtractTar(cmd, fd.get(), archive, short_names);
                break;
            case kKindGzip:
                ExtractGzipOrCompress(cmd, fd.get(), archive, short_names);
                break;
            case kKindMsCompress:
                ExtractMsCompress(cmd, fd.get(), short_names);
                break;
            default:
                ExtractZipMembers(cmd, fd.get(), archive, short_names);
        }
    } catch (const EarlyEnd& e) {
        cmd.result = e.result;
    } catch (const std::bad_alloc&) {
        // Reported from here, where nothing more needs memory than the message.
        try {
            SendError(kClassMemory, "Insufficient memory");
        } catch (...) {
        }
        cmd.result = kUnzipError;
    } catch (...) {
        cmd.result = kUnzipError;
    }
    frame.report_window = saved_report;
    return 1;
}

}  // namespace engine
