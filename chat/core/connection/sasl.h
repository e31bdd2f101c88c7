// SASL logon during capability negotiation (PLAIN and EXTERNAL), set in section "SASL":
// the AUTHENTICATE exchange, its replies (900-908), a bounded wait, and required=1.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace chat {

/// Seconds an exchange may take before it is aborted (key "timeout" of section "SASL"
/// overrides it).
constexpr int kSaslSeconds = 20;
/// Bytes of base64 per AUTHENTICATE line; a payload that fills the last line exactly is
/// followed by "AUTHENTICATE +".
constexpr size_t kSaslChunk = 400;

/// The settings of section "SASL" for one connection.
struct SaslSettings {
    std::string mechanism;  ///< "PLAIN" or "EXTERNAL" (upper case); empty: no SASL
    std::string user;
    std::string password;
    bool required = false;  ///< disconnect instead of going on without a login
    int timeout = kSaslSeconds;
};

/// Reads section "SASL" of the settings file.
SaslSettings ReadSaslSettings();
/// Standard base64 with padding.
std::string SaslBase64(std::string_view bytes);
/// The AUTHENTICATE lines that carry `payload` (raw bytes, encoded here): 400-byte pieces,
/// "+" for an empty payload or after a piece of exactly 400 bytes.
std::vector<std::string> SaslResponseLines(std::string_view payload);
/// A line of ours with its AUTHENTICATE payload hidden, for anything that records lines
/// (logs, debug output); other lines come back as they are.
std::string MaskSaslLine(std::string_view line);

/// A new connection: reads the settings and forgets the last exchange.
void SaslPrepare();
/// True when section "SASL" asks for a login on this connection.
bool SaslWanted();
/// Whether the server's list (the value of "sasl=" in CAP LS 302, empty when it named none)
/// allows our mechanism. When it does not, says so, and with required=1 disconnects.
bool SaslMechanismOffered(std::string_view list);
/// The server enabled the capability: the exchange starts.
void SaslStart();
/// True while an exchange runs (capability negotiation must not end before it).
bool SaslBusy();
/// Handles an AUTHENTICATE line from the server: tk[0] source or "AUTHENTICATE".
void HandleAuthenticate(const std::vector<std::string>& tk);
/// Handles replies 900-908; true when the code was one of them.
bool HandleSaslNumeric(int code, const std::vector<std::string>& tk);
/// The one-second work: an exchange that does not end in time is aborted.
void SaslTick();
/// Negotiation ended without a login (the server lacks the capability, refused it, or
/// registered us first): with required=1 this disconnects. Called once per connection.
void SaslNotAvailable(std::string_view why);

}  // namespace chat
