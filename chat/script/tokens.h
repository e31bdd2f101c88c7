// Splitting command text into tokens and words, joining words back, and taking double-quoted
// texts that span several words.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace chat {

/// Token states during evaluation.
enum TokenState : int {
    kTokenRaw = 0,    ///< not yet evaluated
    kTokenValue = 1,  ///< evaluated; text is the value with its leading blank (none when joined)
    kTokenJoin = 2,   ///< a join marker waiting for its neighbours
    kTokenEmpty = 3,  ///< evaluated to nothing
};

/// One token of a command being evaluated.
struct Token {
    int state = kTokenRaw;
    std::string text;
};
using TokenList = std::vector<Token>;

/// Argument vector of a command: slot 0 is the command word; missing slots read as empty.
using Args = std::vector<std::string>;

/// A token's word: its text without the leading blank an evaluated value carries.
std::string_view Word(const Token& token);
/// Splits text at blanks (runs count as one) into at most 360 raw tokens; the rest is dropped.
TokenList tokenize(std::string_view text);
/// Splits text at blanks into at most `limit` words.
std::vector<std::string> SplitWords(std::string_view text, size_t limit);
/// The word in slot i, or empty.
const std::string& Arg(const Args& args, size_t i);
/// Appends the words from slot `first` on (up to slot 359) to target, separated by blanks;
/// `leading_blank` puts a blank before the first word too.
void buildline(size_t first, std::string& target, const Args& args, bool leading_blank);
/// The words from slot `first` on, joined by blanks.
std::string JoinFrom(const Args& args, size_t first);
/// Reads a possibly double-quoted text starting at word `index` into target (at most
/// `capacity` characters, at most 50 words). Returns the index of the last word used, or 0 when
/// the closing quote is missing or a limit is passed.
size_t extractquotes(const Args& args, size_t index, std::string& target, size_t capacity);
/// The same over raw tokens, starting at the first double quote in token `index`. Returns the
/// index of the token holding the closing quote (the token itself when it has no quote), or -1
/// when the closing quote is missing (target emptied).
int extractquotesfl(const TokenList& tokens, size_t index, std::string& target);

}  // namespace chat
