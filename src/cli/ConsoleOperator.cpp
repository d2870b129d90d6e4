#include "ConsoleOperator.h"

#include <QRegularExpression>
#include <cstdio>
#include <utility>

namespace tarvo::cli {

ConsoleOperator::ConsoleOperator(bool answerYes) : answerYes_(answerYes) {}

void ConsoleOperator::print(const QString& line) {
    lastPrinted_ = line;
    if (quiet_)
        return;
    // Texts made for a message box part their lines with carriage returns, which a terminal would
    // overwrite: each part gets a line of its own.
    const QStringList parts = line.split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts);
    if (held_) {
        waiting_ += parts;
        return;
    }
    for (const QString& part : parts) {
        const QByteArray bytes = part.toLocal8Bit();
        std::fprintf(stderr, "%s\n", bytes.constData());
    }
    std::fflush(stderr);
}

void ConsoleOperator::release(const std::function<bool(const QString& line)>& keep) {
    held_ = false;
    const QStringList lines = std::exchange(waiting_, {});
    for (const QString& line : lines)
        if (keep(line))
            print(line);
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
    // Shown on the information line just before, as the window often does: once on a terminal.
    if (caption.isEmpty() && text == lastPrinted_)
        return;
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
