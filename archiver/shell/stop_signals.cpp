#include "archiver/shell/stop_signals.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/shell/terminal_text.h"

namespace shell {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnStopSignal(int signal_number) {
    engine::RequestStopBySignal(signal_number);
}

}  // namespace

void InstallStopSignals() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a prompt blocked in read() must see the stop
    for (int s : kStopSignals) {
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        struct sigaction old;
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(s, &action, nullptr);
    }
}

int FinishAfterStopSignal(int status) {
    int s = engine::StopSignal();
    if (s == 0) return status;
    const char* name = strsignal(s);
    PrintLine(stderr, std::string("Stopped by signal: ") + (name ? name : "unknown"));
    std::fflush(nullptr);
    std::signal(s, SIG_DFL);
    std::raise(s);
    return 128 + s;  // only when the default action did not end the process
}

}  // namespace shell
