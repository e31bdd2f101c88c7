#include "chat/dcc/dcc_parse.h"

#include <arpa/inet.h>

#include <algorithm>

#include "chat/core/windows/line_list.h"

namespace chat::dcc {
namespace {

bool PrefixNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

// A decimal number of at most `limit`; nothing for empty text, other characters or overflow.
std::optional<uint64_t> Number(std::string_view s, uint64_t limit) {
    if (s.empty() || s.size() > 20) return std::nullopt;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (limit - d) / 10) return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

bool HasControl(std::string_view s) {
    return std::any_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 32 || c == 127; });
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

std::optional<std::vector<std::string>> SplitQuoted(std::string_view s, size_t most) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size() && out.size() < most) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        if (s[i] == '"') {
            size_t end = s.find('"', i + 1);
            if (end == std::string_view::npos) return std::nullopt;
            out.emplace_back(s.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        size_t end = std::min(s.find(' ', i), s.size());
        out.emplace_back(s.substr(i, end - i));
        i = end;
    }
    return out;
}

std::optional<Request> ParseRequest(std::string_view text) {
    struct Kind {
        std::string_view prefix;
        RequestKind kind;
    };
    static constexpr Kind kKinds[] = {
        {"\x01"
         "DCC CHAT ",
         RequestKind::kChat},
        {"\x01"
         "DCC SEND ",
         RequestKind::kSend},
        {"\x01"
         "DCC RESUME ",
         RequestKind::kResume},
        {"\x01"
         "DCC ACCEPT ",
         RequestKind::kAccept},
    };
    Request r;
    std::string_view rest;
    bool found = false;
    for (const Kind& k : kKinds) {
        if (PrefixNoCase(text, k.prefix)) {
            r.kind = k.kind;
            rest = text.substr(k.prefix.size());
            found = true;
            break;
        }
    }
    if (!found) return std::nullopt;
    // The closing byte ends the request (it may stick to the last number).
    rest = rest.substr(0, rest.find('\x01'));
    auto tokens = SplitQuoted(rest, 8);
    if (!tokens) return r;
    std::vector<std::string>& t = *tokens;
    switch (r.kind) {
        case RequestKind::kChat:
        case RequestKind::kSend: {
            if (t.size() < 3) return r;
            r.name = t[0];
            // Peers on IPv6 send the address in text form instead of the 32-bit number.
            in6_addr v6{};
            const bool ipv6 = t[1].find(':') != std::string::npos && t[1].size() <= 45 &&
                              ::inet_pton(AF_INET6, t[1].c_str(), &v6) == 1;
            auto address = ipv6 ? std::optional<uint64_t>{0} : Number(t[1], 0xFFFFFFFFu);
            auto port = Number(t[2], 65535);
            std::optional<uint64_t> size = uint64_t{0};
            if (r.kind == RequestKind::kSend && t.size() >= 4)
                size = Number(t[3], uint64_t{1} << 62);
            if (!address || !port || !size) return r;
            if (r.kind == RequestKind::kSend && r.name.size() > kMaxOfferName) return r;
            r.address = static_cast<uint32_t>(*address);
            r.host = ipv6 ? t[1] : AddressText(r.address);
            r.port = static_cast<int>(*port);
            r.size = *size;
            // A fifth word of digits is a passive offer's token (peers send small numbers).
            if (r.kind == RequestKind::kSend && t.size() >= 5 && Number(t[4], 0xFFFFFFFFu))
                r.token = t[4];
            r.complete = true;
            return r;
        }
        case RequestKind::kResume:
        case RequestKind::kAccept: {
            if (t.size() < 2) return r;
            size_t first = t.size() >= 3 ? t.size() - 2 : 0;
            if (first > 0) r.name = t[0];
            auto port = Number(t[first], 65535);
            auto position = Number(t[first + 1], uint64_t{1} << 62);
            if (!port || !position) return r;
            r.port = static_cast<int>(*port);
            r.position = *position;
            r.complete = true;
            return r;
        }
    }
    return r;
}

Reach CheckReach(uint32_t address, int port) {
    if (port < 1024 || port > 65535) return Reach::kRefused;
    uint32_t first = address >> 24;
    if (address == 0 || address == 0xFFFFFFFFu || first == 0 || first >= 224)
        return Reach::kRefused;
    bool loopback = first == 127;
    bool private_range = first == 10 || (first == 172 && ((address >> 16) & 0xF0) == 16) ||
                         (first == 192 && ((address >> 16) & 0xFF) == 168) ||
                         (first == 169 && ((address >> 16) & 0xFF) == 254) ||
                         (first == 100 && ((address >> 16) & 0xC0) == 64);
    return loopback || private_range ? Reach::kAskFirst : Reach::kOk;
}

Reach CheckHostReach(const std::string& host, int port) {
    in6_addr v6{};
    if (host.find(':') == std::string::npos || ::inet_pton(AF_INET6, host.c_str(), &v6) != 1) {
        in_addr v4{};
        if (::inet_pton(AF_INET, host.c_str(), &v4) != 1) return Reach::kRefused;
        return CheckReach(ntohl(v4.s_addr), port);
    }
    if (port < 1024 || port > 65535) return Reach::kRefused;
    const unsigned char* b = v6.s6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&v6))
        return CheckReach(
            uint32_t{b[12]} << 24 | uint32_t{b[13]} << 16 | uint32_t{b[14]} << 8 | b[15], port);
    if (IN6_IS_ADDR_UNSPECIFIED(&v6) || b[0] == 0xFF) return Reach::kRefused;
    const bool local =
        IN6_IS_ADDR_LOOPBACK(&v6) || IN6_IS_ADDR_LINKLOCAL(&v6) || (b[0] & 0xFE) == 0xFC;
    return local ? Reach::kAskFirst : Reach::kOk;
}

std::string AddressText(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
           std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

std::optional<std::string> SafeReceivedName(std::string_view offered,
                                            const std::vector<std::string>& protected_names) {
    if (HasControl(offered)) return std::nullopt;
    // Any directory in the offer is dropped: only the last component names the file.
    size_t cut = offered.find_last_of("/\\");
    std::string name(cut == std::string_view::npos ? offered : offered.substr(cut + 1));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.empty() || name == "." || name == ".." || name.size() > 255) return std::nullopt;
    if (name[0] == '.') name[0] = '_';
    std::string lower = Lower(name);
    if (lower.ends_with(".ini") || lower.ends_with(".log")) return std::nullopt;
    for (const std::string& p : protected_names)
        if (!p.empty() && lower == Lower(p)) return std::nullopt;
    return name;
}

std::string OfferedName(std::string_view name, bool fill_spaces) {
    std::string out(name);
    if (out.find(' ') == std::string::npos) return out;
    if (fill_spaces) {
        std::replace(out.begin(), out.end(), ' ', '_');
        return out;
    }
    return "\"" + out + "\"";
}

int ClampPacket(int configured) {
    return std::clamp(configured, kMinPacket, kMaxPacket);
}

std::array<char, 4> AckBytes(uint64_t count) {
    uint32_t v = static_cast<uint32_t>(count);
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

bool AckCovers(uint32_t ack, uint64_t sent) {
    return static_cast<int32_t>(ack - static_cast<uint32_t>(sent)) >= 0;
}

uint64_t AckCount(uint32_t ack, uint64_t sent) {
    if (AckCovers(ack, sent)) return sent + (ack - static_cast<uint32_t>(sent));
    uint32_t behind = static_cast<uint32_t>(sent) - ack;
    if (behind > sent) return 0;
    return sent - behind;
}

AckVerdict AckGatherer::Check(std::string_view bytes, uint64_t sent, uint64_t& acked,
                              uint64_t& wrong) {
    AckVerdict verdict = AckVerdict::kNone;
    for (char c : bytes) {
        part_[have_++] = static_cast<unsigned char>(c);
        if (have_ < 4) continue;
        have_ = 0;
        uint32_t ack = (uint32_t{part_[0]} << 24) | (uint32_t{part_[1]} << 16) |
                       (uint32_t{part_[2]} << 8) | part_[3];
        uint64_t count = AckCount(ack, sent);
        if (count > sent || count < acked) {
            wrong = count;
            return AckVerdict::kWrong;
        }
        acked = count;
        verdict = AckVerdict::kAdvanced;
    }
    return verdict;
}

}  // namespace chat::dcc
