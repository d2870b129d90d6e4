#include "CanLineParser.h"

#include <limits>

namespace tarvo {

namespace {
bool isLetter(char c) {
    return c >= 'A' && c <= 'Z';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
} // namespace

CanLineParser::CanLineParser(const QByteArray& line) : line_(line.toUpper()) {}

CanLineParser::Token CanLineParser::next() {
    Token token;
    while (at_ < line_.size() && line_[at_] == ' ')
        ++at_;
    if (at_ >= line_.size())
        return token;
    const char c = line_[at_];
    if (isLetter(c)) {
        const qsizetype start = at_;
        while (at_ < line_.size() && isLetter(line_[at_]))
            ++at_;
        token.kind = Token::Kind::Word;
        token.word = line_.mid(start, at_ - start);
        return token;
    }
    if (c == '+' || c == '-' || isDigit(c)) {
        const bool negative = c == '-';
        if (!isDigit(c))
            ++at_;
        // A value must fit the frame's 32 bits; a longer one is an error, not a wrapped number.
        long long value = 0;
        bool digits = false;
        bool tooLarge = false;
        while (at_ < line_.size() && isDigit(line_[at_])) {
            digits = true;
            if (!tooLarge) {
                value = value * 10 + (line_[at_] - '0');
                tooLarge = value > static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1;
            }
            ++at_;
        }
        if (negative)
            value = -value;
        if (!digits || tooLarge || value > std::numeric_limits<std::int32_t>::max())
            return token;
        token.kind = Token::Kind::Number;
        token.number = static_cast<std::int32_t>(value);
        return token;
    }
    if (c == '\r' || c == '\n' || c == ',' || c == ';') {
        ++at_;
        token.kind = Token::Kind::End;
        return token;
    }
    ++at_;
    return token;
}

} // namespace tarvo
