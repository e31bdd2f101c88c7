#include "chat/script/tokens.h"

#include "chat/script/script_state.h"

namespace chat {
namespace {

// A quoted text never spans more words than this.
constexpr size_t kMaxQuotedWords = 50;

}  // namespace

std::vector<std::string> SplitWords(std::string_view text, size_t limit) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size() && words.size() < limit) {
        while (i < text.size() && text[i] == ' ') ++i;
        if (i >= text.size()) break;
        size_t end = text.find(' ', i);
        if (end == std::string_view::npos) end = text.size();
        words.emplace_back(text.substr(i, end - i));
        i = end;
    }
    return words;
}

std::string_view Word(const Token& token) {
    std::string_view text = token.text;
    if (token.state == kTokenValue && !text.empty() && text[0] == ' ') text.remove_prefix(1);
    return text;
}

TokenList tokenize(std::string_view text) {
    TokenList tokens;
    for (std::string& w : SplitWords(text, kMaxTokens360))
        tokens.push_back(Token{kTokenRaw, std::move(w)});
    return tokens;
}

const std::string& Arg(const Args& args, size_t i) {
    static const std::string empty;
    return i < args.size() ? args[i] : empty;
}

void buildline(size_t first, std::string& target, const Args& args, bool leading_blank) {
    bool blank = leading_blank;
    for (size_t i = first; i < args.size() && i <= kMaxParams; ++i) {
        if (args[i].empty()) break;
        if (blank) target += ' ';
        target += args[i];
        blank = true;
    }
}

std::string JoinFrom(const Args& args, size_t first) {
    std::string out;
    buildline(first, out, args, false);
    return out;
}

size_t extractquotes(const Args& args, size_t index, std::string& target, size_t capacity) {
    target.clear();
    const std::string& first = Arg(args, index);
    if (first.empty()) return 0;
    if (first[0] != '"') {
        if (first.size() > capacity) return 0;
        target = first;
        return index;
    }
    std::string_view piece = std::string_view(first).substr(1);
    for (size_t i = index, used = 1;; ++i, ++used) {
        if (used > kMaxQuotedWords) break;
        if (i != index) {
            if (i >= args.size() || args[i].empty()) break;
            piece = args[i];
            target += ' ';
        }
        size_t quote = piece.find('"');
        target += piece.substr(0, quote);
        if (target.size() > capacity) break;
        if (quote != std::string_view::npos) return i;
    }
    target.clear();
    return 0;
}

int extractquotesfl(const TokenList& tokens, size_t index, std::string& target) {
    target.clear();
    if (index >= tokens.size()) return -1;
    std::string_view first = Word(tokens[index]);
    size_t open = first.find('"');
    if (open == std::string::npos) return static_cast<int>(index);
    std::string_view piece = first.substr(open + 1);
    for (size_t i = index, used = 1; i < tokens.size() && used <= kMaxQuotedWords; ++i, ++used) {
        if (i != index) {
            piece = Word(tokens[i]);
            target += ' ';
        }
        size_t quote = piece.find('"');
        target += piece.substr(0, quote);
        if (target.size() >= kLineLimit) break;
        if (quote != std::string_view::npos) return static_cast<int>(i);
    }
    target.clear();
    return -1;
}

}  // namespace chat
