// borvan32: the archive manager.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archiver/shell/headless.h"
#include "archiver/shell/headless_zip.h"
#include "archiver/shell/stop_signals.h"

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            args.insert(args.end(), argv + i, argv + argc);
            break;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(shell::kHeadlessUsage, stdout);
            std::fputs(shell::kHeadlessZipUsage, stdout);
            std::fputs(shell::kHeadlessNotes, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("borvan32 0.1");
            return 0;
        }
        args.emplace_back(argv[i]);
    }
    if (args.empty()) {
        std::fputs(shell::kHeadlessUsage, stdout);
        return 0;
    }
    shell::InstallStopSignals();
    int status =
        shell::IsHeadlessZipCommand(args) ? shell::RunHeadlessZip(args) : shell::RunHeadless(args);
    return shell::FinishAfterStopSignal(status);
}
