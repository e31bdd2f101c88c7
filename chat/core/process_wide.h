// The chat client's process-wide state objects (settings, window table, session, ...), each
// made on first use.
#pragma once

namespace chat {

/// Makes the one T of the process; called once, out of line.
template <typename T>
[[gnu::noinline]] T* MakeProcessWide() {
    static T object;
    return &object;
}

/// The one T of the process, made on first use. These are read many times for every line
/// from the server: with the constructor kept out of line the usual call is a test and a load
/// (inlined, a large constructor makes every call save and restore registers).
template <typename T>
T& ProcessWide() {
    static T* const instance = MakeProcessWide<T>();
    return *instance;
}

}  // namespace chat
