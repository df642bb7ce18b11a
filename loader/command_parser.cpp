// The command tokenizer and parser of CProcessTool.
#include <windows.h>

#include <cstring>

#include "process_tool.h"

namespace kickoff {
namespace {

bool IsDelimiter(char ch) { return ch == ' ' || ch == '\t'; }

}  // namespace

void CProcessTool::StartTokens(const std::string& text) {
    tokenText_ = text;
    tokenPos_ = 0;
}

TokenKind CProcessTool::NextToken(std::string& token) {
    token.clear();
    const std::size_t length = tokenText_.size();
    while (tokenPos_ < length && IsDelimiter(tokenText_[tokenPos_])) ++tokenPos_;
    if (tokenPos_ >= length) return kTokenEnd;

    if (tokenText_[tokenPos_] == '"') {
        ++tokenPos_;
        while (tokenPos_ < length && tokenText_[tokenPos_] != '"') token.push_back(tokenText_[tokenPos_++]);
        if (tokenPos_ < length) ++tokenPos_;  // the closing quote
    } else {
        while (tokenPos_ < length && !IsDelimiter(tokenText_[tokenPos_])) {
            const char ch = tokenText_[tokenPos_];
            if (ch == ';') {
                // ";" is a token of its own: it ends a word and stays for
                // the next call, or is the whole token when met first.
                if (token.empty()) {
                    token.push_back(ch);
                    ++tokenPos_;
                }
                break;
            }
            token.push_back(ch);
            ++tokenPos_;
        }
    }
    if (::lstrcmpiA(token.c_str(), "cd") == 0) return kTokenCd;
    if (token == ";") return kTokenSemicolon;
    return kTokenWord;
}

bool CProcessTool::ParseCommand(const std::string& command, std::string& program, std::string& workingDir,
                                std::string& arguments) {
    program.clear();
    workingDir.clear();
    arguments.clear();
    StartTokens(command);

    TokenKind previous = kTokenEnd;
    std::string token;
    for (;;) {
        TokenKind kind = NextToken(token);
        switch (kind) {
            case kTokenWord:
                if (previous == kTokenCd) {
                    // "cd <dir> ;" is only allowed before the program.
                    if (!program.empty()) return false;
                    workingDir = token;
                    kind = NextToken(token);
                    if (kind != kTokenSemicolon) return false;
                } else if (program.empty()) {
                    program = token;
                } else {
                    if (!arguments.empty()) arguments += ' ';
                    arguments += token;
                }
                break;
            case kTokenEnd:
                return !program.empty();
            case kTokenCd:
            case kTokenSemicolon:
                break;
        }
        previous = kind;
    }
}

}  // namespace kickoff
