#include "chat/lists/channel_settings.h"

#include <algorithm>
#include <array>
#include <utility>

#include "chat/core/frame.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// The scrambling key. Every byte lies in 95..129, so a printable character (32..126) always
// becomes a byte from 127 to 255: never zero, a line end, a blank or a quote, which the
// settings file would cut, trim or strip.
constexpr std::array<unsigned char, 39> kKey = {101, 127, 96,  113, 128, 99,  120, 105, 129, 97,
                                                117, 110, 102, 125, 95,  108, 123, 100, 119, 128,
                                                111, 98,  126, 104, 116, 103, 121, 109, 127, 114,
                                                106, 122, 95,  118, 129, 107, 124, 112, 115};

constexpr const char* kModeLetters = "ntimps";

void Exchange(std::string& s) {
    for (size_t i = 0; i + 1 < s.size(); i += 2) std::swap(s[i], s[i + 1]);
}

std::string LastWord(std::string& text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    size_t at = text.rfind(' ');
    std::string word = at == std::string::npos ? text : text.substr(at + 1);
    text.resize(at == std::string::npos ? 0 : at);
    return word;
}

// The dialog's channel still has its window (the dialog may outlive it).
bool ChannelWindowOpen(const ChannelDialog& d) {
    const WindowRecord* r = RecordOf(d.window);
    return r && r->kind == kKindChannel && SameName(r->name, d.channel);
}

bool PositiveNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return std::stol(text) > 0;
}

}  // namespace

std::string encrypt(std::string_view text, bool twice) {
    std::string s(text);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char>(static_cast<unsigned char>(s[i]) + kKey[i % kKey.size()]);
    for (int round = twice ? 2 : 1; round > 0; --round) {
        std::reverse(s.begin(), s.end());
        Exchange(s);
    }
    return s;
}

std::string decrypt(std::string_view text, bool twice) {
    std::string s(text);
    for (int round = twice ? 2 : 1; round > 0; --round) {
        Exchange(s);
        std::reverse(s.begin(), s.end());
    }
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char>(static_cast<unsigned char>(s[i]) - kKey[i % kKey.size()]);
    return s;
}

bool Scramblable(std::string_view text) {
    for (char ch : text)
        if (ch < 0x20 || ch > 0x7e) return false;
    return true;
}

std::string CheckNewLock(std::string_view password, std::string_view confirm) {
    if (password.size() <= 4) return "*** The password must be longer than 4 characters";
    if (password != confirm) return "*** The password and its confirmation differ";
    if (password.size() > kMaxLockPassword || !Scramblable(password))
        return "*** The password may hold only 5 to 19 printable ASCII characters";
    return {};
}

ChannelDialog MakeChannelDialog(WindowId window, std::vector<std::string> bans) {
    ChannelDialog d;
    d.window = window;
    d.bans = std::move(bans);
    const WindowRecord* r = RecordOf(window);
    if (!r) return d;
    d.channel = r->name;
    d.topic = r->topic;
    const int slot = findhwnd(window);
    d.operator_ = user(CurrentNickname(), slot, 2, 0) == kOperator;
    d.label = d.operator_ ? "You are a Channel Operator and can change these settings"
                          : "You are not a Channel Operator and can only change the topic";
    std::string text = r->modes;
    if (!text.empty() && text[0] == '[') text.erase(0, 1);
    text = text.substr(0, text.find(']'));
    d.stored_modes = text;
    // The letters are the first word; the arguments follow in the letters' order.
    const std::string letters = text.substr(0, text.find(' '));
    if (letters.find('k') != std::string::npos) {
        d.key = LastWord(text);
        d.key_on = true;
    }
    if (letters.find('l') != std::string::npos) {
        d.limit = LastWord(text);
        d.limit_on = true;
    }
    for (int i = 0; i < 6; ++i) d.modes[i] = letters.find(kModeLetters[i]) != std::string::npos;
    if (d.modes[1] && !d.operator_) {
        d.topic_locked = true;
        d.label = "You are not a Channel Operator and cannot change these settings";
    }
    return d;
}

std::vector<std::string> UnbanLines(std::string_view channel,
                                    const std::vector<std::string>& masks) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < masks.size(); i += 3) {
        const size_t n = std::min<size_t>(3, masks.size() - i);
        std::string line = "MODE " + std::string(channel) + " -" + std::string(n, 'b');
        for (size_t j = 0; j < n; ++j) line += " " + masks[i + j];
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> ApplyLines(const ChannelDialog& d, bool topic_modified) {
    std::vector<std::string> lines;
    const WindowRecord* r = RecordOf(d.window);
    const std::string stored_topic = r ? r->topic : std::string();
    if (topic_modified && !d.topic_locked && d.topic != stored_topic)
        lines.push_back("TOPIC " + d.channel + " :" + d.topic.substr(0, kMaxDialogTopic));
    if (!d.operator_) return lines;
    std::string plus = "+", minus = "-", args;
    for (int i = 0; i < 6; ++i) (d.modes[i] ? plus : minus) += kModeLetters[i];
    if (d.limit_on) {
        if (PositiveNumber(d.limit)) {
            plus += 'l';
            args = d.limit;
        }
    } else {
        minus += 'l';
    }
    const bool had_key =
        d.stored_modes.substr(0, d.stored_modes.find(' ')).find('k') != std::string::npos;
    if (d.key_on && !d.key.empty() && !had_key) {
        plus += 'k';
        args += (args.empty() ? "" : " ") + d.key;
    } else if (!d.key_on && had_key && !d.key.empty()) {
        minus += 'k';
        args += (args.empty() ? "" : " ") + d.key;
    }
    lines.push_back("MODE " + d.channel + " " + plus + minus + " " + args);
    return lines;
}

DialogAction UnbanFromDialog(const ChannelDialog& d, const std::vector<std::string>& masks) {
    if (!ChannelWindowOpen(d)) {
        Beep();
        return DialogAction::kClose;
    }
    if (masks.empty()) {
        Beep();
        return DialogAction::kStay;
    }
    for (const std::string& line : UnbanLines(d.channel, masks)) SendToServer(line, false);
    return DialogAction::kStay;
}

DialogAction ApplyFromDialog(const ChannelDialog& edited, bool topic_modified) {
    if (!ChannelWindowOpen(edited)) {
        Beep();
        return DialogAction::kClose;
    }
    for (const std::string& line : ApplyLines(edited, topic_modified)) SendToServer(line, false);
    return DialogAction::kClose;
}

ChannelInfoState& ChannelInfo() {
    static ChannelInfoState state;
    return state;
}

namespace {

// The channel window of the pending /channel request when it is about `channel`.
WindowId RequestFor(std::string_view channel) {
    const WindowRecord* r = RecordOf(Script().channel_request);
    return r && r->kind == kKindChannel && SameName(r->name, channel) ? r->window : 0;
}

void PrintChannelDialog(const ChannelDialog& d) {
    Print(d.window, "*** " + d.channel + " ban list", 2);
    if (d.bans.empty()) Print(d.window, "    (no bans)", 1);
    for (const std::string& mask : d.bans) Print(d.window, "    " + mask, 1);
    Print(d.window, "*** " + d.label, 2);
}

}  // namespace

bool ChannelBanEntry(std::string_view channel, std::string_view mask) {
    if (!RequestFor(channel)) return false;
    ChannelInfoState& info = ChannelInfo();
    if (info.bans.size() < kMaxDialogBans) info.bans.emplace_back(mask);
    return true;
}

bool ChannelBanEnd(std::string_view channel) {
    if (!RequestFor(channel)) return false;
    platform::PostMessage(Frame().hwndFrame, kMsgChannelDialog, 0, 0);
    return true;
}

void ShowChannelDialog() {
    ScriptState& s = Script();
    const WindowId w = s.channel_request;
    s.channel_request = 0;
    std::vector<std::string> bans = std::move(ChannelInfo().bans);
    ChannelInfo().bans.clear();
    const WindowRecord* r = RecordOf(w);
    if (!r || r->kind != kKindChannel) {
        Print(Windows().statwin, "*** Error retrieving channel information", 3);
        return;
    }
    ChannelDialog d = MakeChannelDialog(w, std::move(bans));
    if (ChannelInfo().show)
        ChannelInfo().show(d);
    else
        PrintChannelDialog(d);
}

}  // namespace chat
