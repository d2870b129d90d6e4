#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace tarvo {

class CommandLink;
class CommandLog;

// The Commands page's multi-command line: a whole sequence of commands in one line, sent with ENTER to
// one device or to every address of a range, once or in a loop. "+" ends a command, "/" pauses 500 ms,
// "<" puts in the digits of the last answer. Every command and answer goes to the page's log, which
// starts with the help text.
class MultiCommandSender : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kHint = "(+ )= CarrigeReturn   ( /)= 500ms pause   (Example: ID+//GS+)";
    static constexpr const char* kLoopDelayRange = "Loop delay range: 1 and 200000ms";
    static constexpr const char* kLoopDelayReset = "Loop delay set to 1000ms";
    static constexpr int kAnswerTimeLimitMs = 500;
    static constexpr int kPauseMs = 500;
    static constexpr int kMinLoopDelayMs = 1;
    static constexpr int kMaxLoopDelayMs = 200000;

    MultiCommandSender(CommandLink& link, CommandLog& log, QObject* parent = nullptr);

    // The help text the log starts with, one entry per line.
    static const QStringList& helpText();

    const QString& line() const { return line_; }
    void setLine(const QString& text);
    // "None" or "00".."63" each.
    const QString& fromAddress() const { return from_; }
    const QString& toAddress() const { return to_; }
    void setFromAddress(const QString& address);
    void setToAddress(const QString& address);
    const QString& loopDelay() const { return loopDelay_; }
    void setLoopDelay(const QString& text);
    bool sendInLoop() const { return sendInLoop_; }
    bool clearAfterEnter() const { return clearAfterEnter_; }
    void setClearAfterEnter(bool on);
    // The digits and minus signs of the latest answer that had any; "<" puts them in.
    const QByteArray& lastResult() const { return lastResult_; }
    bool isSending() const { return sending_; }
    bool loopRunning() const { return loopTimer_.isActive(); }

    // ENTER, the button or the key in the command line.
    void enterClicked();
    void sendInLoopToggled(bool on);
    // "Clear": the loop stops and the log empties.
    void clearClicked();
    void commandsPageShown();
    void commandsPageHidden();
    // The loop ends and "Send in loop" is unchecked (the command panel's rebuild, the page left).
    void stopLoop();

signals:
    // Any of the fields above changed.
    void changed();
    // One command of the line had its answer ("TimeOutErr" when none came).
    void commandAnswered(const QByteArray& command, const QByteArray& answer);
    // The line has been sent to every address of the range.
    void lineSent();
    // "Clear after ENTER" emptied the line; the entry takes the focus.
    void lineFocusRequested();

private:
    void sendLine();
    void sendToAddress();
    QByteArray transact(const QByteArray& command);
    static int addressNumber(const QString& choice);
    void loopTick();

    CommandLink& link_;
    CommandLog& log_;
    QString line_;
    QString from_ = QStringLiteral("None");
    QString to_ = QStringLiteral("None");
    QString loopDelay_ = QStringLiteral("1000");
    bool sendInLoop_ = false;
    bool clearAfterEnter_ = false;
    bool sending_ = false;
    // "Clear" or a stop during a line: the loop does not start again when the line ends.
    bool loopCancelled_ = false;
    // The port went away while a line was on its way.
    bool lineLost_ = false;
    QByteArray accumulator_;
    QByteArray lastResult_;
    QTimer loopTimer_;
};

} // namespace tarvo
