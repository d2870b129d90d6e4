#include "MultiCommandSender.h"

#include "CommandLog.h"
#include "base/EventWait.h"
#include "base/NumberText.h"
#include "base/TimeScale.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"

#include <QPointer>

namespace tarvo {

const QStringList& MultiCommandSender::helpText() {
    static const QStringList lines{
        QStringLiteral("+  = Carrige Return"),
        QStringLiteral("/  = 500ms pause"),
        QStringLiteral("<  = Last result from "),
        QStringLiteral("connected device"),
        QString(),
        QStringLiteral("\"Clear after enter\""),
        QStringLiteral("Clear command field after "),
        QStringLiteral("enter!"),
        QString(),
        QStringLiteral("\"Send in loop\""),
        QStringLiteral("Send command and wait "),
        QStringLiteral("XXXms before sending "),
        QStringLiteral("command again"),
        QString(),
        QStringLiteral("Example1:"),
        QStringLiteral("CE+CE<+"),
        QStringLiteral("This will open the device for "),
        QStringLiteral("calibration... the TAC value are "),
        QStringLiteral("stored in \"<\" "),
        QString(),
        QStringLiteral("Example2:"),
        QStringLiteral("CE+CE<+CZ+//////////CE+CE<+"),
        QStringLiteral("CG10000+//////////CE+CE<+CS"),
        QStringLiteral("+"),
        QStringLiteral("Open device for calibration.... "),
        QStringLiteral("calibrate zero... wait 5sec... "),
        QStringLiteral("calibrate gain.... wait 5sec..... "),
        QStringLiteral("save calibration"),
        QString(),
        QStringLiteral("Example3:"),
        QStringLiteral("IV+  ... and \"Do command from "),
        QStringLiteral("adr: 1 to 4\""),
        QStringLiteral("will get the firmware info from "),
        QStringLiteral("adr 1, 2, 3 and 4"),
        QString(),
    };
    return lines;
}

MultiCommandSender::MultiCommandSender(CommandLink& link, CommandLog& log, QObject* parent)
    : QObject(parent), link_(link), log_(log) {
    for (const QString& line : helpText())
        log_.add(line);
    // One tick per line sent: the next is armed only when the line has gone out, so ticks never overlap.
    loopTimer_.setSingleShot(true);
    connect(&loopTimer_, &QTimer::timeout, this, &MultiCommandSender::loopTick);
    // An adapter pulled out has been reported; the rest of the line and the loop would only send into
    // the closed port and log a time-out each time.
    connect(&link_, &CommandLink::portLost, this, [this] {
        lineLost_ = sending_;
        stopLoop();
    });
}

void MultiCommandSender::setLine(const QString& text) {
    if (line_ == text)
        return;
    line_ = text;
    emit changed();
}

void MultiCommandSender::setFromAddress(const QString& address) {
    if (from_ == address || (address != u"None" && addressNumber(address) < 0))
        return;
    from_ = address;
    emit changed();
}

void MultiCommandSender::setToAddress(const QString& address) {
    if (to_ == address || (address != u"None" && addressNumber(address) < 0))
        return;
    to_ = address;
    emit changed();
}

void MultiCommandSender::setLoopDelay(const QString& text) {
    if (loopDelay_ == text)
        return;
    loopDelay_ = text;
    emit changed();
}

void MultiCommandSender::setClearAfterEnter(bool on) {
    if (clearAfterEnter_ == on)
        return;
    clearAfterEnter_ = on;
    emit changed();
}

int MultiCommandSender::addressNumber(const QString& choice) {
    // "None" counts as 0; "00".."63" as their number; anything else is no address.
    if (choice == u"None")
        return 0;
    if (choice.size() != 2 || !choice[0].isDigit() || !choice[1].isDigit())
        return -1;
    const int n = choice.toInt();
    return n <= 63 ? n : -1;
}

QByteArray MultiCommandSender::transact(const QByteArray& command) {
    return link_.sendAndReceive(link_.port().portNumber(), command, kAnswerTimeLimitMs, Framing::anyData());
}

void MultiCommandSender::enterClicked() {
    if (sending_)
        return; // the line before is still on its way; a second one would interleave with it
    sendLine();
}

void MultiCommandSender::sendLine() {
    if (line_.isEmpty())
        return;
    loopTimer_.stop();
    accumulator_.clear();
    sending_ = true;
    loopCancelled_ = false;
    lineLost_ = false;
    emit changed();

    const int from = std::max(addressNumber(from_), 0);
    const int to = std::max(addressNumber(to_), 0);
    for (int address = from; address <= to && !lineLost_; ++address) {
        if (to != 0) {
            const QByteArray open = "OP" + QByteArray::number(address);
            log_.add(QString::fromLatin1(open));
            transact(open + '\r');
        }
        if (!line_.endsWith(u'+')) {
            line_ += u'+';
            emit changed();
        }
        // The line as it stands now; the operator may edit the field while it is sent.
        const QByteArray text = line_.toLatin1();
        for (const char c : text) {
            if (lineLost_)
                break;
            if (c == '/') {
                if (link_.linkKind() != Link::Can)
                    waitMs(kPauseMs);
            } else if (c == '<') {
                accumulator_ += lastResult_;
            } else if (c == '+') {
                log_.add(QString::fromLatin1(accumulator_));
                const QByteArray answer = transact(accumulator_ + '\r');
                log_.add(QString::fromLatin1(answer));
                emit commandAnswered(accumulator_, answer);
                accumulator_.clear();
                QByteArray digits;
                for (const char a : answer)
                    if ((a >= '0' && a <= '9') || a == '-')
                        digits += a;
                if (!digits.isEmpty())
                    lastResult_ = digits;
            } else {
                accumulator_ += c;
            }
        }
    }

    sending_ = false;
    if (sendInLoop_ && !loopCancelled_)
        loopTimer_.start();
    if (clearAfterEnter_) {
        line_.clear();
        emit lineFocusRequested();
    }
    emit changed();
    emit lineSent();
}

void MultiCommandSender::loopTick() {
    QPointer<MultiCommandSender> self(this);
    link_.runWhenIdle([self] {
        if (self && self->sendInLoop_ && !self->sending_)
            self->sendLine();
    });
}

void MultiCommandSender::sendInLoopToggled(bool on) {
    sendInLoop_ = on;
    if (!on) {
        loopTimer_.stop();
        emit changed();
        return;
    }
    clearAfterEnter_ = false;
    if (!isValidNumber(loopDelay_, kMinLoopDelayMs, kMaxLoopDelayMs)) {
        log_.add(QString::fromLatin1(kLoopDelayRange));
        log_.add(QString::fromLatin1(kLoopDelayReset));
        loopDelay_ = QStringLiteral("1000");
    }
    loopCancelled_ = false;
    loopTimer_.start(TimeScale::ms(loopDelay_.toInt()));
    emit changed();
}

void MultiCommandSender::clearClicked() {
    loopTimer_.stop();
    if (sending_)
        loopCancelled_ = true; // a line on its way must not start the loop again when it ends
    log_.clear();
}

void MultiCommandSender::stopLoop() {
    loopTimer_.stop();
    loopCancelled_ = true;
    if (sendInLoop_) {
        sendInLoop_ = false;
        emit changed();
    }
}

void MultiCommandSender::commandsPageShown() {
    // Streams are not decoded while the page is open.
    link_.streamMatcher().setEnabled(false);
}

void MultiCommandSender::commandsPageHidden() {
    stopLoop();
}

} // namespace tarvo
