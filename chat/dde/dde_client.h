// The DDE client: transactions with other programs' services (one at once, or queued and paced
// by the DDE delay), the /dde, /speak and /ddeserver commands, and the $dde answer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chat/core/frontend.h"
#include "chat/script/tokens.h"
#include "platform/event_loop.h"

namespace chat {

/// The frame timer that sends the next queued transaction.
constexpr platform::UINT kTimerDde = 123;
/// Transaction kinds: a poke, a request whose answer is not used, a request for a value.
enum DdeKind : int { kDdePoke = 0, kDdeRequest = 1, kDdeValue = 2 };
/// Transactions a queue holds; more are refused as if memory ran out.
constexpr size_t kDdeQueueLimit = 1000;

/// One transaction: with kDdeValue the answer replaces `data`. True on success.
bool doDDE(const std::string& service, const std::string& topic, const std::string& item,
           std::string& data, int kind, int timeout_ms);
/// Queues a transaction; the first goes out at once when the queue is idle. False when the
/// queue is full.
bool queueDDE(const std::string& service, const std::string& topic, const std::string& item,
              const std::string& data, int kind);
/// Sends the first queued transaction and re-arms the timer (the timer's tick).
void sendnextDDEcommand();
/// Transactions waiting in the queue (tests).
size_t DdeQueueLength();

/// /dde [-r] service topic [item] [data]
int dodde(WindowId window, const Args& a, bool remote);
/// /ddeserver [on [name] | off]
int doddeserver(WindowId window, const Args& a, bool remote);
/// /speak text
int dospeak(WindowId window, const Args& a, bool remote);

/// Installs the commands, the $dde answer and the settings reader (main calls CleanupDDE at
/// exit).
void InstallDde();

/// The command-line client: SERVICE TOPIC [ITEM | -p TEXT]. Prints a request's answer on
/// standard output; returns the exit status (0 answered or acknowledged, 1 not, 2 misuse).
int RunDdeCommandLine(const std::vector<std::string>& args);

}  // namespace chat
