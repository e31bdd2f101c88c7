// Runs the unzip engine the way the program's test command does (nothing written), with a
// report window that answers every question with "skip".
#pragma once

#include <string>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/unzip.h"
#include "platform/event_loop.h"

namespace fuzz {

/// Tests the archive at `path` as an archive of `kind` on the run's own thread, with `password`
/// given up front when it is not null; the result code.
inline int TestArchive(const std::string& path, uint16_t kind, const char* password = nullptr) {
    static platform::HWND window = platform::CreateWindow(
        [](platform::HWND, platform::UINT msg, platform::WPARAM, platform::LPARAM) {
            return msg == engine::kMsgOverwrite ? engine::kSkip : platform::LRESULT{0};
        });
    engine::UnzipCommand cmd;
    cmd.kind = kind;
    cmd.archive = path;
    cmd.has_target = false;
    cmd.report_window = window;
    cmd.threads = 1;
    if (password != nullptr) {
        cmd.password_given = true;
        cmd.password = password;
    }
    engine::UNZIP(cmd);
    return cmd.result;
}

}  // namespace fuzz
