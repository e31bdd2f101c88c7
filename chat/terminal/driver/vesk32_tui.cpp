// vesk32_tui: the chat client started straight into the terminal front end (the tests of the
// screen use it; vesk32 itself picks this front end when it runs on a terminal).
#include <clocale>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "chat/core/command_line.h"
#include "chat/terminal/terminal_frontend.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const chat::CommandLine cl = chat::ParseCommandLine(args);
    if (!cl.error.empty()) {
        std::fprintf(stderr, "vesk32_tui: %s\n", cl.error.c_str());
        return 2;
    }
    if (!std::setlocale(LC_CTYPE, "")) std::setlocale(LC_CTYPE, "C.UTF-8");
    std::signal(SIGPIPE, SIG_IGN);
    const int code = chat::RunTerminalFrontend(cl);
    if (code < 0) std::fputs("vesk32_tui: needs a terminal\n", stderr);
    return code < 0 ? 1 : code;
}
