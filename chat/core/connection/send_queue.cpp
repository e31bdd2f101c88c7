#include "chat/core/connection/send_queue.h"

#include <cerrno>

namespace chat {

SendResult SendQueue::Drain(const ByteWriter& write) {
    while (!empty()) {
        ptrdiff_t n = write(std::span<const char>(bytes.data() + head, bytes.size() - head));
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS || errno == EINTR)
                break;
            return SendResult::kFailed;
        }
        if (n == 0) break;
        head += static_cast<size_t>(n);
    }
    if (empty()) {
        clear();
        return SendResult::kSent;
    }
    // Keep the buffer from growing with text already sent.
    if (head > (64u << 10) && head > bytes.size() / 2) {
        bytes.erase(0, head);
        head = 0;
    }
    return SendResult::kQueued;
}

SendResult SendQueue::Send(std::string_view text, const ByteWriter& write) {
    if (size() + text.size() > kMaxQueuedBytes) return SendResult::kFailed;
    bool was_empty = empty();
    if (was_empty) clear();
    bytes.append(text);
    if (!was_empty) return SendResult::kQueued;
    return Drain(write);
}

}  // namespace chat
