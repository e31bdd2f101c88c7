#include "chat/net/socks5.h"

#include <arpa/inet.h>

#include <algorithm>

namespace chat {
namespace {

constexpr char kVersion = 5;
constexpr unsigned char kNoAuth = 0x00;
constexpr unsigned char kUserPassword = 0x02;
constexpr unsigned char kNoMethod = 0xFF;
constexpr unsigned char kIPv4 = 1, kDomain = 3, kIPv6 = 4;

std::string Field(std::string_view text) {
    text = text.substr(0, std::min(text.size(), kSocks5FieldLimit));
    std::string out(1, static_cast<char>(text.size()));
    out += text;
    return out;
}

}  // namespace

std::string Socks5ReplyText(unsigned char code) {
    switch (code) {
        case 0:
            return {};
        case 1:
            return "*** SOCKS: General relay failure";
        case 2:
            return "*** SOCKS: Connection not allowed by the relay's rules";
        case 3:
            return "*** SOCKS: Network unreachable";
        case 4:
            return "*** SOCKS: Host unreachable";
        case 5:
            return "*** SOCKS: Connection refused";
        case 6:
            return "*** SOCKS: TTL expired";
        case 7:
            return "*** SOCKS: Command not supported";
        case 8:
            return "*** SOCKS: Address type not supported";
        default:
            return "*** Invalid SOCKS reply";
    }
}

Socks5Handshake::Socks5Handshake(std::string_view host, uint16_t port, std::string_view user,
                                 std::string_view password)
    : host_(host), user_(user), password_(password), port_(port) {}

std::string Socks5Handshake::Greeting() const {
    std::string g{kVersion};
    if (user_.empty()) {
        g += '\x01';
        g += static_cast<char>(kNoAuth);
    } else {
        g += '\x02';
        g += static_cast<char>(kNoAuth);
        g += static_cast<char>(kUserPassword);
    }
    return g;
}

std::string Socks5Handshake::ConnectRequest() const {
    std::string r{kVersion, '\x01', '\x00'};
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, host_.c_str(), &v4) == 1) {
        r += static_cast<char>(kIPv4);
        r.append(reinterpret_cast<const char*>(&v4), 4);
    } else if (::inet_pton(AF_INET6, host_.c_str(), &v6) == 1) {
        r += static_cast<char>(kIPv6);
        r.append(reinterpret_cast<const char*>(&v6), 16);
    } else {
        r += static_cast<char>(kDomain);
        r += Field(host_);
    }
    r += static_cast<char>(port_ >> 8);
    r += static_cast<char>(port_ & 0xFF);
    return r;
}

size_t Socks5Handshake::Wanted() const {
    if (phase_ == Phase::kDone || phase_ == Phase::kFailed) return 0;
    return want_ - got_.size();
}

Socks5Handshake::Step Socks5Handshake::Feed(std::string_view bytes) {
    if (phase_ == Phase::kDone || phase_ == Phase::kFailed) return {};
    got_.append(bytes.substr(0, std::min(bytes.size(), Wanted())));
    if (got_.size() < want_) return {};
    Step step = Advance();
    if (!step.error.empty()) phase_ = Phase::kFailed;
    return step;
}

Socks5Handshake::Step Socks5Handshake::Advance() {
    const auto byte = [this](size_t i) { return static_cast<unsigned char>(got_[i]); };
    Step step;
    switch (phase_) {
        case Phase::kMethod:
            if (byte(0) != kVersion) {
                step.error = "*** Invalid SOCKS reply";
            } else if (byte(1) == kNoMethod) {
                step.error = user_.empty() ? "*** SOCKS: The relay wants a user name and password"
                                           : "*** SOCKS: No authentication method accepted";
            } else if (byte(1) == kNoAuth) {
                step.send = ConnectRequest();
                phase_ = Phase::kReplyHead;
                want_ = 5;
            } else if (byte(1) == kUserPassword && !user_.empty()) {
                step.send = '\x01' + Field(user_) + Field(password_);
                phase_ = Phase::kAuth;
                want_ = 2;
            } else {
                step.error = "*** Invalid SOCKS reply";
            }
            break;
        case Phase::kAuth:
            if (byte(0) != 1 && byte(0) != kVersion) {
                step.error = "*** Invalid SOCKS reply";
            } else if (byte(1) != 0) {
                step.error = "*** SOCKS: User name or password refused";
            } else {
                step.send = ConnectRequest();
                phase_ = Phase::kReplyHead;
                want_ = 5;
            }
            break;
        case Phase::kReplyHead:
            if (byte(0) != kVersion) {
                step.error = "*** Invalid SOCKS reply";
            } else if (byte(1) != 0) {
                step.error = Socks5ReplyText(byte(1));
            } else if (byte(3) == kIPv4) {
                phase_ = Phase::kReplyRest;
                want_ = 4 - 1 + 2;
            } else if (byte(3) == kIPv6) {
                phase_ = Phase::kReplyRest;
                want_ = 16 - 1 + 2;
            } else if (byte(3) == kDomain) {
                phase_ = Phase::kReplyRest;
                want_ = size_t{byte(4)} + 2;
            } else {
                step.error = "*** Invalid SOCKS reply";
            }
            break;
        case Phase::kReplyRest:
            // The relay's own bound address says nothing the session needs.
            phase_ = Phase::kDone;
            step.done = true;
            break;
        case Phase::kDone:
        case Phase::kFailed:
            break;
    }
    got_.clear();
    return step;
}

}  // namespace chat
