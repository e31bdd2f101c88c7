// Sounds: where wave files are looked up, which program plays them (the terminal bell when
// none), and the beep timer.
#pragma once

#include <string>
#include <string_view>

#include "platform/event_loop.h"

namespace chat {

/// The frame timer that sounds the beeps of /beep.
constexpr platform::UINT kTimerBeep = 121;

/// The program that plays sounds as set (section "Sound", key "player": a program given the
/// file as its one argument; empty: paplay or aplay when installed; "none": the terminal bell).
std::string& SoundPlayerSetting();
/// Reads the sound settings: the player, and the sounds folder (section "Dirs", key "waves")
/// that sent and received sounds share.
void ReadSoundSettings();
/// The path of a wave file: a name without a folder is taken from the sounds folder.
std::string WavePath(std::string_view name);
/// True for a name another user may give: one plain file name (no folder, not "." or "..",
/// no leading "." or "-").
bool PlainFileName(std::string_view name);
/// The program that plays sounds, empty when the bell stands in.
std::string SoundPlayer();
/// Plays a wave file without waiting; false when the file does not exist or cannot be played.
bool PlaySoundFile(const std::string& path);
/// Starts the player on an existing file (the bell when there is none); false when it could
/// not start. The sound counts as playing until the player ends.
bool StartPlayer(const std::string& path);
/// Beeps `count` times `interval_ms` apart (the first at once).
void StartBeeps(int count, int interval_ms);

/// The alarms that can have a sound of their own (section "Waves").
constexpr const char* kAlarmNames[] = {"query", "notice", "invite", "disconnect", "send"};
/// The sound file set for an alarm (as the settings give it), empty when none.
std::string AlarmSound(std::string_view alarm);
/// Plays the sound set for an alarm through the player; false when none is set, the file is
/// missing or the player cannot start (the caller beeps instead).
bool PlayAlarm(std::string_view alarm);

}  // namespace chat
