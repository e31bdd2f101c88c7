#include "chat/net/tls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <cerrno>
#include <climits>

#include "chat/core/options.h"
#include "platform/net.h"

namespace chat {
namespace {

namespace net = platform::net;

struct CtxFree {
    void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};
struct SslFree {
    void operator()(SSL* p) const { SSL_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == EINPROGRESS;
}

// The socket under the TLS layer goes through the event loop's own read and write, so that
// its FD_READ and FD_WRITE notifications are re-armed exactly as for a plain session.
int BioWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    if (length <= 0) return 0;
    auto sock = static_cast<net::Socket>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    ptrdiff_t n = net::Write(sock, std::span<const char>(data, static_cast<size_t>(length)));
    if (n < 0) {
        if (WouldBlock()) BIO_set_retry_write(bio);
        return -1;
    }
    if (n == 0) BIO_set_retry_write(bio);
    return n == 0 ? -1 : static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int length) {
    BIO_clear_retry_flags(bio);
    if (length <= 0) return 0;
    auto sock = static_cast<net::Socket>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    ptrdiff_t n = net::Read(sock, std::span<char>(data, static_cast<size_t>(length)));
    if (n < 0) {
        if (WouldBlock()) BIO_set_retry_read(bio);
        return -1;
    }
    return static_cast<int>(n);
}

long BioCtrl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "session");
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_ctrl(m, BioCtrl);
        BIO_meth_set_create(m, BioCreate);
        return m;
    }();
    return method;
}

// The last OpenSSL error as text, the queue emptied.
std::string LastError(std::string_view fallback) {
    unsigned long code = ERR_peek_last_error();
    std::string text;
    if (code != 0) {
        const char* reason = ERR_reason_error_string(code);
        text = reason ? reason : "error " + std::to_string(code);
    }
    ERR_clear_error();
    return text.empty() ? std::string(fallback) : text;
}

std::string Fingerprint(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length) != 1) return "";
    return std::string(reinterpret_cast<const char*>(digest), length);
}

bool IsNumericHost(const std::string& host) {
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

class OpenSslLink final : public SecureLink {
public:
    OpenSslLink(std::unique_ptr<SSL_CTX, CtxFree> ctx, std::unique_ptr<SSL, SslFree> ssl,
                std::string host, std::string pin)
        : ctx_(std::move(ctx)),
          ssl_(std::move(ssl)),
          host_(std::move(host)),
          pin_(std::move(pin)) {}

    Step Handshake(std::string& error) override {
        ERR_clear_error();
        int r = SSL_connect(ssl_.get());
        if (r != 1) {
            int e = SSL_get_error(ssl_.get(), r);
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return Step::kWaiting;
            std::string reason = e == SSL_ERROR_SYSCALL && ERR_peek_last_error() == 0
                                     ? std::string("the server closed the connection")
                                     : LastError("protocol error");
            error = "*** TLS handshake with " + host_ + " failed: " + reason;
            return Step::kFailed;
        }
        return Verify(error) ? Step::kDone : Step::kFailed;
    }

    ptrdiff_t Read(std::span<char> buffer) override {
        ERR_clear_error();
        int want = static_cast<int>(std::min<size_t>(buffer.size(), INT_MAX));
        int r = SSL_read(ssl_.get(), buffer.data(), want);
        if (r > 0) return r;
        int e = SSL_get_error(ssl_.get(), r);
        ERR_clear_error();
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            errno = EWOULDBLOCK;
            return -1;
        }
        if (e == SSL_ERROR_ZERO_RETURN) return 0;
        if (e == SSL_ERROR_SYSCALL && errno == 0) return 0;
        errno = ECONNRESET;
        return -1;
    }

    ptrdiff_t Write(std::span<const char> data) override {
        if (data.empty()) return 0;
        ERR_clear_error();
        int want = static_cast<int>(std::min<size_t>(data.size(), INT_MAX));
        int r = SSL_write(ssl_.get(), data.data(), want);
        if (r > 0) return r;
        int e = SSL_get_error(ssl_.get(), r);
        ERR_clear_error();
        errno = (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) ? EWOULDBLOCK : EPIPE;
        return -1;
    }

    bool Pending() const override { return SSL_pending(ssl_.get()) > 0; }

    std::string Describe() const override {
        std::string text =
            std::string(SSL_get_version(ssl_.get())) + ", " + SSL_get_cipher_name(ssl_.get());
        return text + (pin_.empty() ? ", certificate verified" : ", certificate pinned");
    }

private:
    // The certificate is judged once the handshake is through and before anything of the
    // session is written: a pinned fingerprint alone decides when one is set, otherwise the
    // chain and the host name must check out.
    bool Verify(std::string& error) {
        std::unique_ptr<X509, X509Free> cert(SSL_get1_peer_certificate(ssl_.get()));
        if (!cert) {
            error = "*** TLS certificate of " + host_ + " refused: the server sent none";
            return false;
        }
        std::string digest = Fingerprint(cert.get());
        std::string shown = FormatFingerprint(digest);
        std::string reason;
        if (!pin_.empty()) {
            if (NormaliseFingerprint(shown) == pin_) return true;
            reason = "it is not the pinned certificate (fingerprint= in section [TLS])";
        } else {
            long result = SSL_get_verify_result(ssl_.get());
            if (result == X509_V_OK) return true;
            reason = X509_verify_cert_error_string(result);
        }
        error = "*** TLS certificate of " + host_ + " refused: " + reason +
                "; its SHA-256 fingerprint is " + shown +
                " (to trust it, set fingerprint=" + shown + " in section [TLS] of " +
                Options().szINI + ")";
        return false;
    }

    std::unique_ptr<SSL_CTX, CtxFree> ctx_;
    std::unique_ptr<SSL, SslFree> ssl_;
    std::string host_;
    std::string pin_;
};

}  // namespace

TlsSettings ReadTlsSettings() {
    TlsSettings s;
    s.cafile = ReadSetting("TLS", "cafile", "", 4096);
    s.certfile = ReadSetting("TLS", "certfile", "", 4096);
    s.fingerprint = ReadSetting("TLS", "fingerprint", "", 200);
    return s;
}

std::string NormaliseFingerprint(std::string_view text) {
    std::string hex;
    for (char ch : text) {
        if (ch == ':' || ch == ' ' || ch == '-') continue;
        if (!std::isxdigit(static_cast<unsigned char>(ch))) return "";
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return hex.size() == 64 ? hex : "";
}

std::string FormatFingerprint(std::string_view digest) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char byte : digest) {
        if (!text.empty()) text += ':';
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

std::unique_ptr<SecureLink> StartTls(net::Socket sock, const std::string& host,
                                     const TlsSettings& settings, std::string& error) {
    ERR_clear_error();
    std::string pin;
    if (!settings.fingerprint.empty()) {
        pin = NormaliseFingerprint(settings.fingerprint);
        if (pin.empty()) {
            error =
                "*** TLS: fingerprint= in section [TLS] is not a SHA-256 fingerprint (64 hex "
                "digits)";
            return nullptr;
        }
    }
    std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx) {
        error = "*** TLS: " + LastError("cannot start");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(ctx.get());
    if (!settings.cafile.empty() &&
        SSL_CTX_load_verify_locations(ctx.get(), settings.cafile.c_str(), nullptr) != 1) {
        error = "*** TLS: cannot read cafile " + settings.cafile + ": " + LastError("unreadable");
        return nullptr;
    }
    if (!settings.certfile.empty()) {
        const char* path = settings.certfile.c_str();
        if (SSL_CTX_use_certificate_chain_file(ctx.get(), path) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx.get(), path, SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(ctx.get()) != 1) {
            error = "*** TLS: cannot use certfile " + settings.certfile + ": " +
                    LastError("unreadable");
            return nullptr;
        }
    }
    // The handshake completes whatever the certificate; Verify decides before any session
    // byte goes out, so that a refusal can name the reason and the fingerprint.
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_mode(ctx.get(),
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    std::unique_ptr<SSL, SslFree> ssl(SSL_new(ctx.get()));
    BIO* bio = ssl ? BIO_new(SocketMethod()) : nullptr;
    if (!bio) {
        error = "*** TLS: " + LastError("cannot start");
        return nullptr;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(sock)));
    SSL_set_bio(ssl.get(), bio, bio);
    if (IsNumericHost(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl.get(), host.c_str());
        SSL_set1_host(ssl.get(), host.c_str());
    }
    SSL_set_connect_state(ssl.get());
    return std::make_unique<OpenSslLink>(std::move(ctx), std::move(ssl), host, pin);
}

void InstallTls() {
    Conn().secure_connect = [](net::Socket sock, const std::string& host, std::string& error) {
        return StartTls(sock, host, ReadTlsSettings(), error);
    };
}

}  // namespace chat
