// TLS for the session socket with OpenSSL: certificate checks against the system's store and
// section "TLS" of the settings (cafile, fingerprint pinning, client certificate), driven by
// the socket events of the event loop.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "chat/core/connection/connection.h"

namespace chat {

/// The settings of section "TLS" that one connection uses.
struct TlsSettings {
    std::string cafile;       ///< extra trusted certificates (PEM), beside the system's store
    std::string fingerprint;  ///< SHA-256 of the one certificate accepted, normalised
    std::string certfile;     ///< PEM with our certificate and key, sent when asked
};

/// Reads section "TLS" of the settings file.
TlsSettings ReadTlsSettings();
/// A fingerprint as typed (hex, with or without colons or blanks, any case) as lower-case hex
/// without separators; empty when it is not 64 hex digits.
std::string NormaliseFingerprint(std::string_view text);
/// 32 bytes as upper-case hex pairs joined by ":" (the form the refusal line shows).
std::string FormatFingerprint(std::string_view digest);
/// Starts a TLS client on a connected non-blocking socket; null with `error` set when the
/// settings cannot be used (unreadable cafile or certfile).
std::unique_ptr<SecureLink> StartTls(platform::net::Socket sock, const std::string& host,
                                     const TlsSettings& settings, std::string& error);
/// Installs StartTls as the connection's TLS hook.
void InstallTls();

}  // namespace chat
