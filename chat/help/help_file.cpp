#include "chat/help/help_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>

namespace chat {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Text from a file goes to the screen: no byte may act as a terminal control.
std::string Printable(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (char ch : line) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\t') {
            out += "    ";
        } else if (c < 0x20 || c == 0x7F) {
            out += '^';
            out += static_cast<char>(c == 0x7F ? '?' : c + '@');
        } else {
            out += ch;
        }
    }
    return out;
}

std::string_view WithoutSlash(std::string_view s) {
    if (!s.empty() && s.front() == '/') s.remove_prefix(1);
    return s;
}

bool BeginsNoCase(std::string_view text, std::string_view prefix) {
    if (prefix.size() > text.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::vector<HelpTopic> ParseHelp(std::string_view text, const std::string& fallback_title) {
    std::vector<HelpTopic> topics;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        start = end + 1;
        if (line.size() >= 2 && line[0] == '@' && line[1] == ' ') {
            HelpTopic topic;
            std::string_view keys = line.substr(2);
            while (!keys.empty()) {
                const size_t bar = keys.find('|');
                const std::string_view key = Trim(keys.substr(0, bar));
                if (!key.empty()) topic.keys.push_back(Printable(key));
                keys = bar == std::string_view::npos ? std::string_view() : keys.substr(bar + 1);
            }
            topic.title = topic.keys.empty() ? fallback_title : topic.keys.front();
            topics.push_back(std::move(topic));
            continue;
        }
        if (topics.empty()) {
            if (Trim(line).empty()) continue;  // blank lines before any text
            topics.push_back(HelpTopic{fallback_title, {}, {}});
        }
        topics.back().lines.push_back(Printable(line));
    }
    // Blank lines at the end of a topic are only the gap before the next one.
    for (HelpTopic& t : topics) {
        while (!t.lines.empty() && Trim(t.lines.back()).empty()) t.lines.pop_back();
    }
    return topics;
}

HelpPage FindHelpTopic(const std::vector<HelpTopic>& topics, std::string_view key) {
    if (topics.empty()) return HelpPage{"Help", {"This help file has no topics."}};
    key = WithoutSlash(Trim(key));
    if (!key.empty()) {
        for (const HelpTopic& t : topics) {
            for (const std::string& k : t.keys) {
                if (BeginsNoCase(WithoutSlash(k), key)) return HelpPage{t.title, t.lines};
            }
        }
    }
    HelpPage page{topics.front().title, topics.front().lines};
    if (!key.empty()) {
        page.lines.insert(
            page.lines.begin(),
            {"No help topic begins with \"" + Printable(key) + "\"; the contents follow.", ""});
    }
    return page;
}

HelpPage LoadHelpPage(const std::string& path, std::string_view key) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return HelpPage{"Help", {"Unable to open help file " + Printable(path)}};
    std::string text(kHelpFileLimit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    std::string name = path.substr(path.find_last_of('/') + 1);
    return FindHelpTopic(ParseHelp(text, Printable(name)), key);
}

void PrintHelp(const std::string& path, const std::string& key) {
    const HelpPage page = LoadHelpPage(path, key);
    std::string out = "Help\t" + page.title + "\n";
    for (const std::string& line : page.lines) out += "Help\t" + line + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

std::string HelpFolder() {
    std::array<char, 4096> buf{};
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    std::string exe(buf.data(), static_cast<size_t>(n));
    const std::string dir = exe.substr(0, exe.find_last_of('/') + 1);
    for (const std::string& candidate : {dir + "help/", dir + "../share/vesk32/help/"}) {
        if (IsFolder(candidate)) return candidate;
    }
    return {};
}

}  // namespace chat
