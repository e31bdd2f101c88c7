// The texts of DCC requests and the rules every value from another user passes before it is
// used: request tokens, addresses, ports, received file names and acknowledgement counts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chat::dcc {

/// Slots in each of the get, send and chat tables.
constexpr int kSlots = 30;
/// Smallest and largest packet a send uses.
constexpr int kMinPacket = 512;
constexpr int kMaxPacket = 4096;
/// Characters of a file name taken from an offer.
constexpr size_t kMaxOfferName = 360;
/// Characters of a nickname kept for a get.
constexpr size_t kMaxGetNick = 55;

/// The four requests another client can make.
enum class RequestKind { kChat, kSend, kResume, kAccept };

/// One DCC request as it came, split into its tokens.
struct Request {
    RequestKind kind = RequestKind::kChat;
    std::string name;      ///< the file name (SEND), the "chat" word, or empty
    uint32_t address = 0;  ///< host-order IPv4 number (CHAT, SEND); 0 for an IPv6 peer
    std::string host;      ///< the address as text: dotted IPv4, or IPv6 as the peer sent it
    int port = 0;
    uint64_t size = 0;      ///< SEND: 0 when not given
    uint64_t position = 0;  ///< RESUME, ACCEPT
    /// SEND: the token of a passive offer (port 0: the receiver listens and answers with the
    /// token) or of the answer to ours; empty when the request has none.
    std::string token;
    bool complete = false;  ///< every token the kind needs is present and a valid number
};

/// Blank-separated words, at most `most`; a word that begins with a double quote runs to the
/// closing quote (blanks kept, quotes dropped). Nothing when a quote is not closed.
std::optional<std::vector<std::string>> SplitQuoted(std::string_view text, size_t most);

/// Splits a CTCP text that begins with "\x01DCC CHAT ", "SEND ", "RESUME " or "ACCEPT " (any
/// case). Numbers must be plain decimal digits in range; anything else leaves `complete` false.
std::optional<Request> ParseRequest(std::string_view text);

/// Why an offered address or port cannot be used; kOk when it can.
enum class Reach { kOk, kAskFirst, kRefused };
/// Addresses 0, broadcast and multicast (and the reserved 240/4) are refused, as are ports
/// below 1024 (port 0 is a passive offer, which is taken apart from these checks). Loopback and
/// private addresses are usable but must be asked about even when offers are accepted
/// automatically.
Reach CheckReach(uint32_t address, int port);

/// CheckReach for an address in text form (a request's `host`): IPv4 as above; for IPv6 the
/// unspecified and multicast addresses are refused, loopback, link-local and unique-local ones
/// asked about, and an IPv4-mapped address judged as its IPv4 address.
Reach CheckHostReach(const std::string& host, int port);

/// "%d.%d.%d.%d" of a host-order number.
std::string AddressText(uint32_t address);

/// The file name to store an offered file under, or nothing when it must be refused: the
/// last path component only; empty, ".", "..", control characters and the program's own
/// settings, script and log names refused; a leading "." becomes "_".
std::optional<std::string> SafeReceivedName(std::string_view offered,
                                            const std::vector<std::string>& protected_names);

/// The file name as offered on the wire: blanks become "_" with `fill_spaces`, else a name
/// with a blank is quoted.
std::string OfferedName(std::string_view name, bool fill_spaces);

/// The packet size a send uses for a configured value.
int ClampPacket(int configured);

/// The acknowledgement of a byte count: the count modulo 2^32, in network byte order.
std::array<char, 4> AckBytes(uint64_t count);

/// True when a 32-bit acknowledgement covers `sent` (compared modulo 2^32, so sizes above
/// 4 GiB keep working as long as the sender is less than 2 GiB ahead).
bool AckCovers(uint32_t ack, uint64_t sent);
/// The 64-bit count that an acknowledgement stands for, given the count sent (the value
/// within 2 GiB of `sent` with the same low 32 bits).
uint64_t AckCount(uint32_t ack, uint64_t sent);

/// What the acknowledgements of one read said.
enum class AckVerdict {
    kNone,      ///< no whole acknowledgement yet
    kAdvanced,  ///< every one was sound; the count is the newest
    kWrong,     ///< one went back, or past what was sent
};

/// Gathers acknowledgements that may arrive split across reads.
class AckGatherer {
public:
    /// Takes the bytes of one read and checks every whole acknowledgement among them, in
    /// order: each must lie between the count before it (`acked`) and `sent`. `acked` becomes
    /// the newest sound count; `wrong` gets the count of the first one that was not.
    AckVerdict Check(std::string_view bytes, uint64_t sent, uint64_t& acked, uint64_t& wrong);

private:
    std::array<unsigned char, 4> part_{};
    size_t have_ = 0;
};

}  // namespace chat::dcc
