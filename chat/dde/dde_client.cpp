#include "chat/dde/dde_client.h"

#include <cstdio>
#include <deque>

#include "chat/core/options.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/dde/dde_channel.h"
#include "chat/dde/dde_server.h"
#include "chat/script/commands.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// The answer a $dde or $url request waits for.
constexpr int kValueTimeoutMs = 1000;
// Characters of a name /ddeserver takes.
constexpr size_t kServerNameLimit = 50;

struct Queued {
    std::string service, topic, item, data;
    int kind = kDdePoke;
};

struct ClientState {
    platform::HWND window = 0;
    std::deque<Queued> queue;
    bool running = false;  ///< DDETimer
};

ClientState& Client() {
    static ClientState state;
    return state;
}

platform::LRESULT ClientProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wparam,
                             platform::LPARAM) {
    if (msg == platform::WM_TIMER && wparam == kTimerDde) {
        platform::KillTimer(hwnd, kTimerDde);
        Client().running = false;
        sendnextDDEcommand();
    }
    return 0;
}

platform::HWND ClientWindow() {
    ClientState& c = Client();
    if (!platform::IsWindow(c.window)) c.window = platform::CreateWindow(ClientProc);
    return c.window;
}

std::string DdeValue(const std::string& service, const std::string& topic,
                     const std::string& item) {
    std::string data;
    doDDE(service, topic, item, data, kDdeValue, kValueTimeoutMs);
    return data;
}

}  // namespace

bool doDDE(const std::string& service, const std::string& topic, const std::string& item,
           std::string& data, int kind, int timeout_ms) {
    // Our own service answers in process: the server runs on this thread and could not
    // answer while the client waits.
    if (IsOwnService(service)) {
        if (kind == kDdePoke) return DdePoke(topic, data);
        auto answer = DdeAnswer(topic, item);
        if (kind == kDdeValue) data = answer.value_or("");
        return answer.has_value() || kind == kDdeRequest;
    }
    DdeTransaction t;
    t.poke = kind == kDdePoke;
    t.topic = topic;
    t.item = item;
    t.data = data;
    auto answer = DdeTransact(service, t, timeout_ms, kind != kDdePoke);
    if (kind == kDdeValue) {
        data = answer.value_or("");
        return answer.has_value();
    }
    return answer.has_value();
}

bool queueDDE(const std::string& service, const std::string& topic, const std::string& item,
              const std::string& data, int kind) {
    ClientState& c = Client();
    if (c.queue.size() >= kDdeQueueLimit) return false;
    c.queue.push_back(Queued{service, topic, item, data, kind});
    if (!c.running) sendnextDDEcommand();
    return true;
}

void sendnextDDEcommand() {
    ClientState& c = Client();
    platform::KillTimer(ClientWindow(), kTimerDde);
    c.running = false;
    if (c.queue.empty()) return;
    Queued q = std::move(c.queue.front());
    c.queue.pop_front();
    if (!q.service.empty() && !q.topic.empty() && !q.item.empty() && !q.data.empty()) {
        std::string data = q.data;
        doDDE(q.service, q.topic, q.item, data, q.kind, kValueTimeoutMs);
    }
    int delay = Options().ddedelay > 0 ? Options().ddedelay : 1;
    platform::SetTimer(ClientWindow(), kTimerDde, static_cast<uint32_t>(delay));
    c.running = true;
}

size_t DdeQueueLength() {
    return Client().queue.size();
}

int dodde(WindowId window, const Args& a, bool) {
    bool request = EqualNoCase(Arg(a, 1), "-r");
    size_t first = request ? 2 : 1;
    const std::string& service = Arg(a, first);
    const std::string& topic = Arg(a, first + 1);
    std::string item = Arg(a, first + 2);
    if (service.empty() || topic.empty() || (request && item.empty())) {
        Print(window, "* Invalid /dde parameters", 2);
        return 0;
    }
    if (request) {
        // A request carries no data; the queue wants every field filled.
        queueDDE(service, topic, item, "-", kDdeRequest);
        return 1;
    }
    if (item.empty()) item = "ITEM";
    queueDDE(service, topic, item, JoinFrom(a, first + 3), kDdePoke);
    return 1;
}

int dospeak(WindowId window, const Args& a, bool) {
    std::string text = JoinFrom(a, 1);
    if (text.empty()) {
        Print(window, "*** Nothing to speak", 2);
        return 0;
    }
    if (!queueDDE("MONOLOG", "TALK", "ITEM", text, kDdePoke)) {
        Print(window, "*** Error allocating DDE memory", 3);
        return 0;
    }
    return 1;
}

int doddeserver(WindowId window, const Args& a, bool) {
    DdeServerState& s = DdeServer();
    const std::string& word = Arg(a, 1);
    if (EqualNoCase(word, "off")) {
        SetDDEServer(s.name, false);
        savedde();
        Print(window, "*** DDE Server is OFF (" + s.name + ")", 1);
        return 1;
    }
    if (!word.empty() && !EqualNoCase(word, "on")) {
        Print(window, "*** Invalid /ddeserver parameters", 2);
        return 0;
    }
    if (word.empty()) {
        Print(window, std::string("*** DDE Server is ") + (s.on ? "ON (" : "OFF (") + s.name + ")",
              1);
        return 1;
    }
    std::string name = Arg(a, 2).empty() ? s.name : Arg(a, 2).substr(0, kServerNameLimit);
    if (!SetDDEServer(name, true)) {
        Print(window, "*** DDE Server initiation failed", 1);
        // The old name keeps serving when the new one could not be had.
        SetDDEServer(s.name, true);
        return 0;
    }
    s.name = name;
    savedde();
    Print(window, "*** DDE Server is ON (" + s.name + ")", 1);
    return 1;
}

void InstallDde() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    InstallCommand("/DDE", dodde);
    InstallCommand("/DDESERVER", doddeserver);
    InstallCommand("/SPEAK", dospeak);
    Script().hooks.dde_request = DdeValue;
    SettingsReaders().push_back(loaddde);
}

int RunDdeCommandLine(const std::vector<std::string>& args) {
    if (args.size() < 2 || (args.size() > 2 && args[2] == "-p" && args.size() < 4)) {
        std::fputs("usage: vesk32 --dde SERVICE TOPIC [ITEM | -p TEXT]\n", stderr);
        return 2;
    }
    std::string data;
    if (args.size() > 2 && args[2] == "-p") {
        for (size_t i = 3; i < args.size(); ++i) data += (i > 3 ? " " : "") + args[i];
        DdeTransaction t{true, args[1], "ITEM", data};
        return DdeTransact(args[0], t, 5000, true) ? 0 : 1;
    }
    DdeTransaction t{false, args[1], args.size() > 2 ? args[2] : std::string(), {}};
    auto answer = DdeTransact(args[0], t, 5000, true);
    if (!answer) return 1;
    std::fwrite(answer->data(), 1, answer->size(), stdout);
    std::fputc('\n', stdout);
    return 0;
}

}  // namespace chat
