#include "Terminal.h"

#include "base/EventWait.h"
#include "base/Operator.h"
#include "link/CommandLink.h"
#include "link/PortAccess.h"
#include "link/SerialPort.h"
#include "protocol/Discovery.h"

namespace tarvo {

Terminal::Terminal(CommandLink& link, Discovery& discovery, Operator& op, QObject* parent)
    : QObject(parent), link_(link), discovery_(discovery), op_(op) {
    link_.setTerminalSink([this](QByteArrayView line) { lineReceived(line); });
}

void Terminal::write(const QString& text) {
    display_ += text;
    if (display_.size() > kDisplayLimit) {
        // Drop the older half at a line break, so the display never grows without bound.
        const qsizetype cut = display_.indexOf(u'\n', display_.size() - kDisplayLimit / 2);
        display_.remove(0, cut >= 0 ? cut + 1 : display_.size() - kDisplayLimit / 2);
        emit displayTrimmed();
        return;
    }
    emit written(text);
}

void Terminal::clearDisplay() {
    display_.clear();
    emit displayCleared();
}

QString Terminal::screenText(const QString& written) {
    QString text;
    text.reserve(written.size());
    for (qsizetype i = 0; i < written.size(); ++i) {
        const QChar c = written[i];
        const QChar next = i + 1 < written.size() ? written[i + 1] : QChar();
        if ((c == u'\r' && next == u'\n') || (c == u'\n' && next == u'\r')) {
            text += u'\n';
            ++i;
        } else if (c != u'\r') {
            text += c;
        }
    }
    return text;
}

void Terminal::terminalPageShown() {
    emit pageControlEnabledRequested(false);
    op_.showInfoMessage(QString());
    clearDisplay();
    write(QString::fromLatin1(kPrompt));
    link_.streamMatcher().disarm();
    active_ = true;
    discovery_.setTerminalActive(true);
    link_.setTerminalMode(true);
    waitMs(500, false);
    emit pageControlEnabledRequested(true);
}

void Terminal::terminalPageHidden() {
    active_ = false;
    discovery_.setTerminalActive(false);
    link_.setTerminalMode(false);
}

void Terminal::commandEntered() {
    write(entry_ + "\r\n");
    // Straight to the line, not as a transaction: the answer comes back as any line does. On the CAN link
    // the bridge carries it and hands its answer back the same way.
    // A port that is gone takes nothing; the page's entry cleared its message, so it is said again.
    if (!link_.writeRaw(entry_.toLatin1() + '\r') && link_.serialPortLost())
        op_.showInfoMessage(PortAccess::notAvailableText(link_.port().portNumber(), QString()));
    entry_.clear();
    emit commandEntryChanged(entry_);
}

void Terminal::displayKeyTyped(const QString& text, bool enter) {
    if (enter) {
        write(QStringLiteral("\r\n"));
        return;
    }
    // Keys without a character of their own (arrows, shifts, erasing) leave the display as it is.
    QString printable;
    for (const QChar c : text)
        if (c.isPrint())
            printable += c;
    if (!printable.isEmpty())
        write(printable);
}

void Terminal::clearClicked() {
    clearDisplay();
}

void Terminal::findDeviceClicked() {
    link_.setTerminalMode(false);
    discovery_.findDeviceClicked();
    // The page may have been left during the search; then the matcher stays with the transactions.
    if (active_)
        link_.setTerminalMode(true);
}

void Terminal::lineReceived(QByteArrayView line) {
    write("Answer: " + QString::fromLatin1(line) + "\n\r");
}

} // namespace tarvo
