// The text-file player: /play sends a file (or one line, or one topic of it) to a channel or
// nickname line by line, paced by a delay; requests wait in a queue behind the one playing.
#pragma once

#include <cstdint>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "chat/core/frontend.h"
#include "chat/script/tokens.h"
#include "platform/event_loop.h"

namespace chat {

/// The frame timer that sends the next line.
constexpr platform::UINT kTimerPlay = 122;
/// Characters of a play target.
constexpr size_t kPlayTargetLimit = 100;

/// What a request plays.
enum PlayMode : int { kPlayWhole = 0, kPlayRandom = 1, kPlayLine = 2, kPlayTopic = 3 };

/// One request of the queue.
struct PlayRequest {
    WindowId window = 0;  ///< the window that asked
    std::string target;
    std::string file;  ///< full path
    int mode = kPlayWhole;
    int64_t n = 0;
    std::string topic;  ///< "[topic]"
    bool commands = false;
    int delay_ms = 1000;
    bool paused = false;
    uint64_t sent = 0, size = 0;
    std::unique_ptr<std::ifstream> in;
};

/// The queue; the first request is the one playing.
std::deque<PlayRequest>& PlayQueue();
/// Starts the first request (dropping those that cannot start).
void playnext();
/// Sends the next line of the playing request (the timer's tick).
void PlayTick();
/// /play [-crlNtTopic qN mN p] [target] file [delay] | stop | (none: the list)
int doplay(WindowId window, const Args& a, bool remote);

/// The line to send for a random or numbered request: the first line of the text holds the
/// count L; the N-th following line (N from 1 to L; 1 when L < N or L is not positive). For a
/// random request N is drawn from 1 to L. Nothing when the line cannot be read.
std::optional<std::string> PickLine(std::istream& in, int mode, int64_t n);

}  // namespace chat
