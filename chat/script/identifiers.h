// The value of each token of a command line during evaluation: identifiers, parameters and
// ranges, the prompt, the channel shorthand, variables and plain words.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "chat/core/frontend.h"
#include "chat/script/tokens.h"

namespace chat {

/// What the rules know about the command being evaluated.
struct EvalContext {
    WindowId window = 0;
    Args params;  ///< slot 0 empty, slots 1 ... hold $1 ...
    bool remote = false;
    int event = 0;
    bool multi = false;  ///< the command holds the multi-command marker $*
    size_t count() const { return params.size(); }
};

/// Outcome of one token.
enum class EvalResult { kValue, kDeferred, kAbandon };

/// Marker that $* leaves in the evaluated line for the multi-command repeat.
constexpr std::string_view kMultiMarker = "`~$*";

/// Evaluates raw token i of `tokens` (pass 1 defers $read, $dde, $file, $hfile, $dir; the
/// second pass evaluates them). May remove tokens after i that it consumes, and may replace
/// token i by several raw tokens ($read), in which case `expanded` is set and value is unused.
/// `end` is the index of the command's separator (or the list size) and is kept up to date.
EvalResult EvaluateToken(EvalContext& ctx, TokenList& tokens, size_t i, size_t& end,
                         bool second_pass, std::string& value, bool& expanded);
/// A parameter reference (the token after its "$"): parameter N with the prefix character
/// applied, then the token's text after its last digit. False when N is out of range or the
/// parameter is missing.
bool evaluate(std::string_view token, std::string& out, const Args& params, char prefix);
/// A range ('*N', '*N-M', '*N-'): the parameters joined by blanks; false when there is none.
bool evaluaterange(std::string_view token, std::string& out, const Args& params);

/// Local time parts of the session clock.
std::string rday();
/// Form 0: day/month/year-1900; form 1: month/day/year-1900.
std::string rdate(int form);
std::string rtime();
std::string rfulldate();

}  // namespace chat
