// One byte-level output queue per socket: a partial send keeps its unsent tail at the head,
// new text always goes behind what is waiting, nothing is lost or sent twice.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace chat {

/// Upper bound of text waiting for a socket that does not take it.
constexpr size_t kMaxQueuedBytes = 4u << 20;

/// Writes bytes: the count written, or -1 with errno (EAGAIN/EWOULDBLOCK: try later).
using ByteWriter = std::function<ptrdiff_t(std::span<const char>)>;

/// Result of sending or draining.
enum class SendResult { kSent, kQueued, kFailed };

struct SendQueue {
    std::string bytes;
    size_t head = 0;  ///< bytes before head are already sent

    bool empty() const { return head >= bytes.size(); }
    size_t size() const { return bytes.size() - head; }
    void clear() {
        bytes.clear();
        head = 0;
    }
    /// Sends `text` now when nothing waits, else queues it behind the waiting bytes.
    /// kFailed on a socket error or when the queue would exceed kMaxQueuedBytes.
    SendResult Send(std::string_view text, const ByteWriter& write);
    /// Sends waiting bytes until done or the socket would block.
    SendResult Drain(const ByteWriter& write);
};

}  // namespace chat
