#include "chat/script/script_state.h"

#include <random>

namespace chat {
namespace {

ScriptState& Storage() {
    static ScriptState state;
    return state;
}

}  // namespace

ScriptState& Script() {
    return Storage();
}

void ResetScript() {
    Storage() = ScriptState{};
}

int64_t ScriptRandom(int64_t n) {
    if (n <= 1) return 0;
    const ScriptHooks& h = Storage().hooks;
    if (h.random) {
        int64_t v = h.random(n);
        return v < 0 || v >= n ? 0 : v;
    }
    static std::mt19937_64 generator{std::random_device{}()};
    return static_cast<int64_t>(generator() % static_cast<uint64_t>(n));
}

bool StartsNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace chat
