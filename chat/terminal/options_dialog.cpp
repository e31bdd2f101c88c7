#include "chat/terminal/options_dialog.h"

#include <algorithm>

#include "chat/core/connection/connection.h"
#include "chat/core/options.h"
#include "chat/net/finger.h"
#include "chat/terminal/settings_dialog.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

constexpr const char* kOptionsTitle = "Vesk Options";

// Settings of the flood page and the finger page that live outside the options fields.
enum : size_t { kFloodOn = 1, kFloodLines = 2, kFloodSeconds = 3, kFloodPause = 4 };
enum : size_t { kFingerOn = 0, kFingerFile = 1, kFingerPort = 2 };
enum : size_t { kLogFolder = 2 };

Setting FloodNumber(std::string label) {
    Setting s;
    s.kind = SettingKind::kNumber;
    s.label = std::move(label);
    s.min = 0;
    s.max = 100000;
    return s;
}

Setting Folder(std::string label, std::string section, std::string key) {
    Setting s = KeyText(std::move(label), std::move(section), std::move(key), 256);
    s.kind = SettingKind::kFolder;
    return s;
}

std::vector<std::string> PageTitles() {
    std::vector<std::string> titles;
    for (const SettingsPage& p : OptionsPages()) titles.push_back(p.title);
    return titles;
}

PageValues& Page(OptionsState& s, int page) {
    return s.values[static_cast<size_t>(page) - 1];
}
const PageValues& Page(const std::vector<PageValues>& v, int page) {
    return v[static_cast<size_t>(page) - 1];
}

void Changed(const OptionsState& s, int page, size_t index, bool& changed) {
    changed = changed || Page(s.before, page)[index] != Page(s.values, page)[index];
}

int Number(const std::string& text) {
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

}  // namespace

const std::vector<SettingsPage>& OptionsPages() {
    using O = ChatOptions;
    static const std::vector<SettingsPage> pages = [] {
        std::vector<SettingsPage> p(kOptionsPages);
        p[0].title = "&General";
        p[0].settings = {
            OptionCheck("Connect at start-up", &O::cosu),
            OptionCheck("Reconnect after a drop", &O::rcod),
            OptionCheck("Retry a failed connect", &O::rtc),
            OptionCheck("Rejoin when kicked", &O::rcwk),
            OptionCheck("Join when invited", &O::ajcoi),
            OptionCheck("Clear away when speaking", &O::caok),
            OptionCheck("WHOIS on a new query", &O::woq),
            OptionCheck("Perform lines on connect", &O::perform),
            OptionCheck("Auto-op", &O::doop),
            OptionCheck("Random auto-op delay", &O::raod),
            OptionCheck("Notify list", &O::notify),
            OptionCheck("Ignore list", &O::ignore),
            OptionCheck("Address cache", &O::mil),
            OptionCheck("Esc leaves the window", &O::ekmw),
            OptionCheck("Remote commands", &O::lfc),
            OptionCheck("Remote events", &O::lfe),
            OptionCheck("Channels folder on connect", &O::pfoc),
            OptionCheck("Notify window on connect", &O::pnoc),
            OptionNumber("&Retries:", &O::rtct, 0, 99),
            OptionNumber("Time-ou&t (s):", &O::rtod, 1, 3600),
            OptionNumber("Default le&vel:", &O::rdl, 1, 9999, true),
            OptionNumber("DDE dela&y (ms):", &O::ddedelay, 0, 10000),
            KeyText("&Quit message:", "Text", "quit", 256, &O::quit),
        };
        p[1].title = "&Display";
        p[1].settings = {
            OptionCheck("Addresses on joins and parts", &O::sua),
            OptionCheck("Joins and parts in channels", &O::sjpc),
            OptionCheck("Short join and part lines", &O::ajpf),
            OptionCheck("Quits in channels", &O::sqoc),
            OptionCheck("Modes in channels", &O::smic),
            OptionCheck("Own nick on own lines", &O::pom),
            OptionCheck("Highlight own lines", &O::omh),
            OptionCheck("Highlight actions", &O::aap),
            OptionCheck("Highlight the words below", &O::highlight_on),
            OptionCheck("Time-stamps", &O::tse),
            OptionCheck("Colour codes", &O::colors),
            OptionCheck("Queries open in the back", &O::iqw),
            OptionCheck("Queries in the active window", &O::sqaw),
            OptionCheck("Invites in the active window", &O::siaw),
            OptionCheck("One window for messages", &O::udmw),
            OptionCheck("Two-line input", &O::sleb),
            OptionNumber("&Buffer lines:", &O::sbbs, 200, 30000, true),
            KeyText("&Words:", "Text", "highlight", 700, &O::highlight),
        };
        p[2].title = "&Alarms";
        p[2].settings = {
            OptionCheck("Beep on channel messages", &O::bom),
            OptionCheck("Beep on query messages", &O::boqm),
            OptionCheck("Alarm on a new query", &O::boq),
            OptionCheck("Alarm on notices", &O::bon),
            OptionCheck("Alarm on invites", &O::boi),
            OptionCheck("Alarm on DCC send offers", &O::bos),
            OptionCheck("Beep on highlighted lines", &O::bohw),
            OptionCheck("Beep when scrolled back", &O::bmwb),
            OptionChoice("On disco&nnect:", &O::bod, {"None", "Beeps", "Sound"}),
            OptionNumber("&Beeps:", &O::times, 0, 50),
            OptionNumber("Inter&val (ms):", &O::delay, 0, 10000),
        };
        p[3].title = "&Flood";
        p[3].settings = {
            Note("The guard holds for this connection, like /flood."),
            OptionCheck("Flood guard on", nullptr),
            FloodNumber("Li&nes:"),
            FloodNumber("&Seconds:"),
            FloodNumber("&Pause (s):"),
        };
        p[4].title = "&Logging";
        p[4].settings = {
            OptionCheck("Log channels automatically", &O::autolc),
            OptionCheck("Log queries automatically", &O::autolqc),
            Folder("Fold&er:", "Dirs", "logdir"),
            Note("Logs go to the settings folder when no folder is given."),
        };
        p[5].title = "F&inger";
        p[5].settings = {
            OptionCheck("Finger &responder on", &O::fingerserver),
            KeyText("Reply fil&e:", "Files", "finger", 256),
            KeyNumber("&Port:", "Ports", "fingerserver", "79", 1, 65535),
            Note("A query is answered with its [name] section of the reply"),
            Note("file, or with the [default] section when there is none."),
        };
        p[6].title = "D&CC";
        p[6].settings = {
            OptionChoice("&Send offers:", &O::sad, {"Ask", "Get", "Ignore"}),
            OptionChoice("C&hat offers:", &O::das, {"Ask", "Accept", "Ignore"}),
            OptionCheck("Minimise automatic gets", &O::gfsrm),
            OptionCheck("Minimise automatic chats", &O::accrm),
            OptionCheck("Minimise get windows", &O::minget),
            OptionCheck("Minimise send windows", &O::minsend),
            OptionCheck("Progress as a percentage", &O::spap),
            OptionCheck("Resume existing files", &O::aref),
            OptionCheck("Blanks in sent names as _", &O::fillspaces),
            OptionCheck("Fast send", &O::fsend),
            OptionCheck("Beep when a send ends", &O::bsc),
            OptionCheck("Beep when a get ends", &O::bgc),
            OptionCheck("Beep when a chat ends", &O::bcc),
            OptionCheck("Close send windows at end", &O::acsw),
            OptionCheck("Close get windows at end", &O::acgw),
            OptionCheck("Close chat windows at end", &O::accw),
            OptionNumber("&Packet size:", &O::psize, 512, 4096, true),
            OptionNumber("Ma&x sends:", &O::msgs, 0, 30),
            OptionNumber("Offer &wait (s):", &O::tod, 5, 3600),
            OptionNumber("File ser&vers:", &O::mfs, 0, 30),
            OptionNumber("&Transfer idle (s):", &O::tod2, 5, 3600),
            OptionNumber("Se&rver idle (s):", &O::tod3, 5, 3600),
            Folder("Get fold&er:", "Dirs", "getdir"),
        };
        p[7].title = "&Other";
        p[7].settings = {
            OptionCheck("Status window popup menu", &O::mp),
            OptionCheck("Nick list popup menu", &O::lp),
            OptionCheck("Query popup menu", &O::qp),
            OptionCheck("Menu-bar popup menu", &O::bp),
            OptionCheck("Catch URLs", &O::eurl),
            OptionCheck("New URLs at the top", &O::anqu),
            OptionCheck("URLs in a new browser window", &O::unw),
            OptionCheck("Bring the browser forward", &O::anw),
            OptionCheck("Play sounds others ask for", &O::esounds),
            OptionCheck("Let a playing sound finish", &O::insr),
            OptionCheck("Report missing sounds", &O::dwse),
            OptionCheck("On-line timer", &O::olt),
            OptionCheck("Reset the timer on connect", &O::oltc),
        };
        return p;
    }();
    return pages;
}

OptionsState LoadOptions() {
    OptionsState s;
    s.before = LoadPages(OptionsPages());
    // The flood guard belongs to the connection; a guard that is off offers the last values.
    const Connection& c = Conn();
    PageValues& flood = s.before[kOptionsFlood - 1];
    flood[kFloodOn] = c.testflood ? "1" : "0";
    flood[kFloodLines] = std::to_string(c.floodlines);
    flood[kFloodSeconds] = std::to_string(c.floodtime);
    flood[kFloodPause] = std::to_string(c.floodpause);
    s.before[kOptionsFinger - 1][kFingerFile] = FingerServerSettings().file;
    s.values = s.before;
    return s;
}

OptionsProblem CheckOptions(OptionsState& s) {
    OptionsProblem problem = CheckPages(OptionsPages(), s.values);
    if (problem.page) return problem;
    const PageValues& flood = Page(s, kOptionsFlood);
    if (flood[kFloodOn] == "1") {
        for (size_t i : {kFloodLines, kFloodSeconds, kFloodPause})
            if (Number(flood[i]) < 1)
                return {kOptionsFlood, i,
                        "The flood guard needs lines, seconds and a pause of at least 1."};
    }
    return {};
}

bool SaveOptions(const OptionsState& s) {
    const bool ok = SavePages(OptionsPages(), s.before, s.values);

    bool flood = false;
    for (size_t i : {kFloodOn, kFloodLines, kFloodSeconds, kFloodPause})
        Changed(s, kOptionsFlood, i, flood);
    if (flood) {
        const PageValues& v = Page(s.values, kOptionsFlood);
        Connection& c = Conn();
        c.testflood = v[kFloodOn] == "1";
        c.floodlines = Number(v[kFloodLines]);
        c.floodtime = Number(v[kFloodSeconds]);
        c.floodpause = Number(v[kFloodPause]);
        c.sentlines = 0;
    }

    bool logs = false;
    Changed(s, kOptionsLogging, kLogFolder, logs);
    if (logs) {
        ChatOptions& o = Options();
        o.szLogDir = Page(s.values, kOptionsLogging)[kLogFolder];
        if (o.szLogDir.empty()) o.szLogDir = DefaultLogFolder();
        if (o.szLogDir.back() != '/') o.szLogDir.push_back('/');
    }

    bool finger = false;
    for (size_t i : {kFingerOn, kFingerFile, kFingerPort}) Changed(s, kOptionsFinger, i, finger);
    if (finger) {
        const PageValues& v = Page(s.values, kOptionsFinger);
        FingerResponder& r = FingerServerSettings();
        r.file = v[kFingerFile].empty() ? Options().szPATH + "finger.txt" : v[kFingerFile];
        r.port = Number(v[kFingerPort]);
        // Stopped first, so that a new port is taken at once.
        SetFingerServer(false);
        if (v[kFingerOn] == "1") SetFingerServer(true);
    }
    return ok;
}

void RunOptionsDialog(int page) {
    static bool open = false;
    if (open) return;
    open = true;
    struct Closer {
        ~Closer() { open = false; }
    } closer;
    ChatOptions& o = Options();
    if (page < 1 || page > kOptionsPages) page = std::clamp(o.optiontab + 1, 1, kOptionsPages);
    OptionsState s = LoadOptions();
    int focus = kIdFirstSetting;
    for (;;) {
        tui::Dialog d = MakePagedDialog(kOptionsTitle, PageTitles(), page);
        const SettingsPage& sp = OptionsPages()[static_cast<size_t>(page) - 1];
        AddSettings(d, sp, Page(s, page), 2);
        FocusControl(d, focus);
        const int result = tui::RunDialog(d);
        ReadSettings(d, sp, Page(s, page));
        focus = kIdFirstSetting;
        if (result >= kIdFirstPage && result < kIdFirstPage + kOptionsPages) {
            page = result - kIdFirstPage + 1;
            continue;
        }
        if (result != tui::kIdOk) return;
        const OptionsProblem problem = CheckOptions(s);
        if (problem.page) {
            tui::ShowMessageBox(kOptionsTitle, problem.message, tui::MessageButtons::kOk);
            page = problem.page;
            focus = kIdFirstSetting + static_cast<int>(problem.index);
            continue;
        }
        bool ok = SaveOptions(s);
        // The page shown last opens first next time.
        if (o.optiontab != page - 1) {
            o.optiontab = page - 1;
            ok = saveoptions() && ok;
        }
        if (!ok)
            tui::ShowMessageBox(kOptionsTitle, "Unable to write " + o.szINI,
                                tui::MessageButtons::kOk);
        return;
    }
}

}  // namespace chat
