#include "ConsoleOperator.h"

#include <cstdio>

namespace tarvo::cli {

ConsoleOperator::ConsoleOperator(bool answerYes) : answerYes_(answerYes) {}

void ConsoleOperator::print(const QString& line) {
    lastPrinted_ = line;
    if (quiet_)
        return;
    const QByteArray bytes = line.toLocal8Bit();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

void ConsoleOperator::showInfoMessage(const QString& text) {
    if (!text.isEmpty() && text != lastPrinted_)
        print(text);
}

void ConsoleOperator::showInfoLine(Page, const QString& text) {
    // The window puts many a message both in a box and on the information line; a terminal shows it once.
    if (!text.isEmpty() && text != lastPrinted_)
        print(text);
}

void ConsoleOperator::showMessage(const QString& text, const QString& caption, MessageIcon) {
    messages_.append({text, caption});
    print(caption.isEmpty() ? text : caption + ": " + text);
    lastPrinted_ = text;
}

bool ConsoleOperator::askYesNo(const QString& text, const QString&) {
    print(text + (answerYes_ ? " -> Yes" : " -> No"));
    return answerYes_;
}

bool ConsoleOperator::askOkCancel(const QString& text, const QString&) {
    print(text + (answerYes_ ? " -> OK" : " -> Cancel"));
    return answerYes_;
}

QString ConsoleOperator::askOpenFileName(const QString&, const QString&) {
    QString name = openName_;
    openName_.clear();
    return name;
}

QString ConsoleOperator::askSaveFileName(const QString&, const QString&) {
    QString name = saveName_;
    saveName_.clear();
    return name;
}

std::optional<Rgb> ConsoleOperator::askColour(Rgb) {
    return std::nullopt;
}

} // namespace tarvo::cli
