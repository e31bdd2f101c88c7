// vesk32: the IRC client.
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "chat/core/command_line.h"
#include "chat/core/frame.h"
#include "chat/core/frontend.h"
#include "chat/core/headless_frontend.h"
#include "chat/script/input_parser.h"
#include "chat/terminal/terminal_frontend.h"
#include "platform/event_loop.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    chat::CommandLine cl = chat::ParseCommandLine(args);
    if (cl.help) {
        std::fputs(chat::UsageText().c_str(), stdout);
        return 0;
    }
    if (cl.version) {
        std::puts("vesk32 0.1");
        return 0;
    }
    if (!cl.error.empty()) {
        std::fprintf(stderr, "vesk32: %s\n%s", cl.error.c_str(), chat::UsageText().c_str());
        return 2;
    }
    // Display widths need a UTF-8 character type whatever the user's locale says.
    if (!std::setlocale(LC_CTYPE, "")) std::setlocale(LC_CTYPE, "C.UTF-8");
    std::signal(SIGPIPE, SIG_IGN);
    chat::InstallScript();

    // On a terminal the full-screen front end runs; it declines (-1) when standard input or
    // output is not a terminal, and the line interface takes over.
    if (!cl.headless) {
        int code = chat::RunTerminalFrontend(cl);
        if (code >= 0) return code;
    }
    chat::InstallFrontend(chat::MakeHeadlessFrontend());
    if (!chat::StartChat(cl)) {
        std::fputs("vesk32: unable to start\n", stderr);
        return 1;
    }
    chat::StartHeadlessInput();
    return platform::RunMessageLoop();
}
