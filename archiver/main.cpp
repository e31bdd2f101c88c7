// borvan32: the archive manager.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archiver/programs/checkout.h"
#include "archiver/shell/command_request.h"
#include "archiver/shell/desktop_integration.h"
#include "archiver/shell/handover.h"
#include "archiver/shell/headless.h"
#include "archiver/shell/headless_zip.h"
#include "archiver/shell/settings.h"
#include "archiver/shell/stop_signals.h"
#include "archiver/shell/window/manager.h"

namespace {

const char* const kFrontEndNotes =
    "\n"
    "borvan32 [ARCHIVE] opens the full-screen manager when standard input and output are a\n"
    "terminal; so do the command lines below, whose command then runs inside the window:\n"
    "       borvan32 -a|-f|-u|-m [-r] [-p] [--follow-links] [-ex|-en|-ef|-es|-e0] ARCHIVE "
    "[NAMES...]\n"
    "       borvan32 -e [-o] [-j] ARCHIVE [TARGET]\n"
    "       borvan32 /extract ARCHIVE          (the Extract dialog at start)\n"
    "       borvan32 /extractx FOLDER ARCHIVE  (extract everything into FOLDER)\n"
    "       borvan32 /inichange                (running managers re-read their settings)\n"
    "A later start hands its archive to a manager already running for the same user (unless\n"
    "\"newinstance=1\" in [Borvan] of the settings, or /NI). -l, -t, -d, --yes, --sort=,\n"
    "--password=, --progress, --no-progress and --headless run headless, as does everything\n"
    "without a terminal.\n";

int RunHeadlessFrontEnd(const std::vector<std::string>& args) {
    shell::InstallStopSignals();
    int status =
        shell::IsHeadlessZipCommand(args) ? shell::RunHeadlessZip(args) : shell::RunHeadless(args);
    return shell::FinishAfterStopSignal(status);
}

void TerminalSize(unsigned& columns, unsigned& rows) {
    winsize ws{};
    columns = rows = 0;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0) {
        columns = ws.ws_col;
        rows = ws.ws_row;
    }
}

// The busy question, asked on the terminal before the window takes it over.
bool AskStartAnother() {
    std::printf("%s [y/N] ", shell::kHandoverBusyQuestion);
    std::fflush(stdout);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) return false;
    return line[0] == 'y' || line[0] == 'Y';
}

// Offers the request to a running manager. True when this instance should end.
bool HandedOver(const shell::CommandRequest& request, const shell::Settings& settings) {
    if (!shell::MayHandOver(request) || settings.newinstance == "1") return false;
    std::error_code ec;
    std::string cwd = std::filesystem::current_path(ec).string();
    shell::HandoverMessage message;
    message.names = shell::FullPaths(request.names, cwd);
    pid_t taker = 0;
    switch (shell::OfferHandover(shell::HandoverFolder(), message, 1500, &taker)) {
        case shell::HandoverResult::kTaken:
            std::printf("borvan32: handed over to the manager already running (process %d)\n",
                        static_cast<int>(taker));
            return true;
        case shell::HandoverResult::kBusy:
            return !AskStartAnother();
        case shell::HandoverResult::kNoInstance:
            return false;
    }
    return false;
}

int RunManagerFrontEnd(const std::vector<std::string>& args) {
    shell::CommandRequest request = shell::ParseCommandLine(args);
    std::string settings_path = shell::SettingsPath();
    unsigned columns, rows;
    TerminalSize(columns, rows);
    shell::Settings settings = shell::LoadSettings(settings_path, columns, rows);
    if (HandedOver(request, settings)) return 0;

    std::string error;
    std::unique_ptr<shell::HandoverListener> listener =
        shell::HandoverListener::Start(shell::HandoverFolder(), &error);
    if (!listener)  // the manager works without; later starts just open their own window
        std::fprintf(stderr, "borvan32: no hand-over from later starts: %s\n", error.c_str());

    shell::ManagerStart start;
    start.archive = request.archive;
    start.request = request;
    start.settings_path = settings_path;
    if (listener) {
        start.handover_fd = listener->fd();
        start.accept_handover = [&listener]() -> std::vector<std::string> {
            std::optional<shell::HandoverMessage> m = listener->Accept(!shell::HandoverBusy());
            if (!m) return {};
            // The window reads a settings notice as the command line it would come from.
            if (m->kind == shell::HandoverMessage::Kind::kSettings) return {"/inichange"};
            return m->names;
        };
    }
    shell::InstallStopSignals();
    int status = shell::RunManager(start);
    if (status < 0) {  // the terminal went away: do the request headless
        listener.reset();
        return RunHeadlessFrontEnd(args);
    }
    return shell::FinishAfterStopSignal(status);
}

// Where this user's files are, as the XDG variables of this environment give them; the
// program keeps no logs or history of its own.
void PrintPlaces() {
    const std::string settings = shell::SettingsPath();
    const programs::CheckOutPlaces places = programs::LoadCheckOutPlaces(settings);
    std::printf(
        "\nFiles (XDG places, as this environment gives them):\n"
        "  settings             %s\n"
        "  check-out launchers  %s/\n",
        settings.c_str(), places.launchers.c_str());
}

}  // namespace

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
            std::fputs(kFrontEndNotes, stdout);
            PrintPlaces();
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("borvan32 0.1");
            return 0;
        }
        args.emplace_back(argv[i]);
    }
    if (args.size() == 1 && (args[0] == "--integrate" || args[0] == "--unintegrate")) {
        const shell::IntegrationPlaces places = shell::LoadIntegrationPlaces();
        const shell::IntegrationReport r =
            args[0] == "--integrate" ? shell::Integrate(places) : shell::Unintegrate(places);
        for (const std::string& line : r.lines) std::puts(line.c_str());
        return r.ok ? 0 : 2;
    }
    if (!args.empty() && shell::ParseCommandLine(args).inichange) {
        shell::BroadcastSettingsChanged(shell::HandoverFolder());
        return 0;
    }
    switch (shell::ChooseFrontEnd(args, isatty(STDIN_FILENO), isatty(STDOUT_FILENO))) {
        case shell::FrontEnd::kUsage:
            std::fputs(shell::kHeadlessUsage, stdout);
            return 0;
        case shell::FrontEnd::kHeadless:
            return RunHeadlessFrontEnd(args);
        case shell::FrontEnd::kManager:
            return RunManagerFrontEnd(args);
    }
    return 0;
}
