// The self-extracting program: it reads the zip archive appended to its own file and lists,
// tests or extracts it.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/sfx/appended_archive.h"
#include "archiver/sfx/stub/extraction.h"
#include "archiver/sfx/stub/terminal_password.h"

// The C++ runtime's own reaction to an exception nobody catches (only running out of memory
// can raise one here) prints the exception's type in readable form, which links in a whole
// name demangler; this program is kept small and just stops.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx

namespace {

const char kUsage[] =
    "Usage: %s [-d FOLDER] [-l] [-t] [-o]\n"
    "Extracts the files of the archive inside this program into the current folder.\n"
    "  -d FOLDER  extract into FOLDER (made when missing)\n"
    "  -l         list the files\n"
    "  -t         test the files (their CRC-32) without writing them\n"
    "  -o         replace files that already exist (they are kept otherwise)\n"
    "  -h         show this help\n"
    "Exit status: 0 all done, 1 something skipped, 2 errors.\n";

void Stop(int) {
    sfx::RestoreTerminal();
    sfx::RemovePartialFile();
    ::_exit(sfx::kExitError);
}

}  // namespace

int main(int argc, char** argv) {
    const char* self = argc > 0 && argv[0] ? argv[0] : "sfx";
    sfx::RunOptions options;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            std::printf(kUsage, self);
            return sfx::kExitOk;
        } else if (std::strcmp(a, "-l") == 0) {
            options.action = sfx::RunOptions::Action::kList;
        } else if (std::strcmp(a, "-t") == 0) {
            options.action = sfx::RunOptions::Action::kTest;
        } else if (std::strcmp(a, "-o") == 0) {
            options.overwrite = true;
        } else if (std::strcmp(a, "-d") == 0 && i + 1 < argc) {
            options.folder = argv[++i];
        } else if (std::strncmp(a, "-d", 2) == 0 && a[2] != '\0') {
            options.folder = a + 2;
        } else {
            std::fprintf(stderr, "%s: unknown argument \"%s\"\n", self, a);
            std::fprintf(stderr, kUsage, self);
            return sfx::kExitError;
        }
    }
    engine::UniqueFd fd(::open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    if (!fd) fd.reset(::open(self, O_RDONLY | O_CLOEXEC));
    if (!fd) {
        std::fprintf(stderr, "%s: cannot read its own file: %s\n", self, std::strerror(errno));
        return sfx::kExitError;
    }
    sfx::AppendedArchive archive;
    std::string why;
    if (!sfx::ReadAppendedArchive(fd.get(), archive, why)) {
        std::fprintf(stderr, "%s: %s\n", self, why.c_str());
        return sfx::kExitError;
    }
    struct sigaction stop {};
    stop.sa_handler = Stop;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &stop, nullptr);
    sfx::Reporting report;
    report.ask_password = [](const std::string& member) {
        return sfx::AskPasswordOnTerminal(sfx::Printable(member));
    };
    int status = sfx::Run(fd.get(), archive, options, report);
    std::fflush(stdout);
    return status;
}
