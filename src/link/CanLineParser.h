#pragma once

#include <QByteArray>
#include <cstdint>

namespace tarvo {

// Reads one command line the way the CAN bridge does: the whole line upper-cased, blanks skipped, a run
// of letters is a word, a sign or digit starts a number, "\r", "\n", "," and ";" end the command, and
// anything else (the end of the text too) is an error.
class CanLineParser {
public:
    struct Token {
        enum class Kind { Word, Number, End, Error };
        Kind kind = Kind::Error;
        QByteArray word;         // a word's letters
        std::int32_t number = 0; // a number's value
    };

    explicit CanLineParser(const QByteArray& line);

    Token next();
    const QByteArray& line() const { return line_; }

private:
    QByteArray line_;
    qsizetype at_ = 0;
};

} // namespace tarvo
