// The identifiers evaluated in the second pass: $read (a line of a text file, whose tokens are
// evaluated in their turn), $dde, and the file selections $file, $hfile and $dir.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "chat/script/identifiers.h"

namespace chat {

/// Evaluates the deferred identifier at token i (`name` is its text after "$" or "$$").
/// Consumed argument tokens are removed and `end` adjusted; $read replaces token i and its
/// arguments by the tokens of the line read and sets `expanded`.
EvalResult EvaluateDeferred(EvalContext& ctx, TokenList& tokens, size_t i, size_t& end,
                            std::string_view name, std::string& value, bool& expanded);
/// Reads one line of at most `limit` characters (the rest of a longer line is skipped) without
/// its line end; false at the end of the file.
bool ReadBoundedLine(std::FILE* file, std::string& line, size_t limit);
/// A script file name: a bare name lives in the settings folder; a path stays as given.
std::string ScriptPath(std::string_view name);

}  // namespace chat
