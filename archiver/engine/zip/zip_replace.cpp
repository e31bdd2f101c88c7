// Replacing the old archive by the finished temporary one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/zip/zip_run.h"
#include "archiver/engine/zip/zip_writer.h"

namespace zip {

namespace {

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash + 1);
}

// Copies the temporary archive into a fresh file beside the archive and renames that over it,
// so that the archive is never seen half written. 0, 10, 14 or 15.
int CopyAcross(const std::string& archive, const std::string& temp, mode_t mode,
               const char* label) {
    engine::UniqueFd in(::open(temp.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) {
        engine::SendWarning("Warning: replace: can't open " + temp);
        return kResultTempFile;
    }
    engine::SendStatus(engine::Format("%s ZIP file", label));
    std::string beside = TempTemplate(FolderOf(archive));
    int fd = ::mkostemp(beside.data(), O_CLOEXEC);
    if (fd < 0) return kResultCreate;
    engine::UniqueFd out(fd);
    std::vector<uint8_t> buf(kCopyBlock);
    int result = 0;
    for (;;) {
        ssize_t n = engine::ReadFull(in.get(), buf.data(), buf.size());
        if (n < 0) {
            result = engine::kZipRead;
            break;
        }
        if (n == 0) break;
        if (!engine::WriteFull(out.get(), buf.data(), static_cast<size_t>(n))) {
            result = kResultWrite;
            break;
        }
    }
    if (result == 0 && (::fchmod(out.get(), mode) != 0 || ::fsync(out.get()) != 0))
        result = kResultWrite;
    if (!out.reset() && result == 0) result = kResultWrite;
    if (result == 0 && ::rename(beside.c_str(), archive.c_str()) != 0) result = kResultCreate;
    if (result != 0) {
        ::unlink(beside.c_str());
        return result;
    }
    ::unlink(temp.c_str());
    return 0;
}

}  // namespace

int ReplaceArchive(const std::string& archive, const std::string& temp, mode_t mode) {
    struct stat st;
    const char* label = ::stat(archive.c_str(), &st) == 0 ? "replacing old" : "copying";
    ::chmod(temp.c_str(), mode);
    // One rename puts the new archive in place of the old at once: no moment without either.
    if (Run().rename_file(temp.c_str(), archive.c_str()) == 0) return 0;
    if (errno != EXDEV) {
        engine::SendWarning("Warning: replace: could not rename " + temp);
        return kResultCreate;
    }
    return CopyAcross(archive, temp, mode, label);
}

}  // namespace zip
