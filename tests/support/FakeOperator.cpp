#include "FakeOperator.h"

namespace tarvo::test {

QString pageName(Page page) {
    switch (page) {
    case Page::Display:
        return "Display";
    case Page::Options:
        return "Options";
    case Page::Terminal:
        return "Terminal";
    case Page::Mxr21:
        return "21xx";
    case Page::Mxr23:
        return "23xx";
    case Page::Mxr41:
        return "41xx";
    case Page::Tcw43:
        return "43xx";
    case Page::Commands:
        return "Commands";
    case Page::Programming:
        return "Programming";
    }
    return "?";
}

void FakeOperator::showInfoMessage(const QString& text) {
    for (auto& line : lines_)
        line = text;
    events << "info: " + text;
}

void FakeOperator::showInfoLine(Page page, const QString& text) {
    lines_[static_cast<int>(page)] = text;
    events << "line(" + pageName(page) + "): " + text;
}

void FakeOperator::showMessage(const QString& text, const QString& caption, MessageIcon) {
    events << "box[" + caption + "]: " + text;
    if (onBox)
        onBox(text);
}

bool FakeOperator::askYesNo(const QString& text, const QString&) {
    bool answer = false;
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    events << "ask: " + text + (answer ? " -> yes" : " -> no");
    return answer;
}

bool FakeOperator::askOkCancel(const QString& text, const QString& caption) {
    return askYesNo(text, caption);
}

QString FakeOperator::askOpenFileName(const QString& caption, const QString&) {
    events << "open: " + caption;
    if (fileNames.empty())
        return {};
    QString name = fileNames.front();
    fileNames.pop_front();
    return name;
}

QString FakeOperator::askSaveFileName(const QString& defaultSuffix, const QString&) {
    events << "save: " + defaultSuffix;
    if (fileNames.empty())
        return {};
    QString name = fileNames.front();
    fileNames.pop_front();
    return name;
}

std::optional<Rgb> FakeOperator::askColour(Rgb) {
    events << "colour";
    if (colours.empty())
        return std::nullopt;
    Rgb c = colours.front();
    colours.pop_front();
    return c;
}

QStringList FakeOperator::infoMessages() const {
    QStringList out;
    for (const QString& e : events)
        if (e.startsWith("info: "))
            out << e.mid(6);
    return out;
}

QStringList FakeOperator::messageBoxes() const {
    QStringList out;
    for (const QString& e : events)
        if (e.startsWith("box["))
            out << e.mid(e.indexOf("]: ") + 3);
    return out;
}

QString FakeOperator::lastInfoLine(Page page) const {
    return lines_[static_cast<int>(page)];
}

QString FakeOperator::askValue(const QString& caption, const QString& range, const QString& units) {
    events << "value: " + caption + " | " + range + " | " + units;
    if (values.empty())
        return {};
    QString typed = values.front();
    values.pop_front();
    return typed;
}

} // namespace tarvo::test
