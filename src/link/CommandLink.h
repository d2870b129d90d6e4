#pragma once

#include "PacketMatcher.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class QEventLoop;

namespace tarvo {

class CanExchange;
class Operator;
class SerialPort;

// The text a transaction returns when no framed reply came in time.
inline const QByteArray kTimeOutErr = QByteArrayLiteral("TimeOutErr");

// How a transaction frames its reply.
struct Framing {
    bool startOnAnyData = false;
    QByteArray start;
    QByteArray end = "\r";
    bool useEndString = true;
    bool usePacketSize = false;
    bool includeStrings = false;
    int packetSize = 0;

    static Framing startingWith(const QByteArray& startString) {
        Framing f;
        f.start = startString;
        return f;
    }
    static Framing anyData() {
        Framing f;
        f.startOnAnyData = true;
        return f;
    }
};

// Which way transactions go: the Options page's link choice.
enum class Link { None, Com, Can };

// The communication unit: owns the serial port and every matcher on it (the reply matcher, the stream
// matcher streamMatcher), and carries one command transaction at a time.
class CommandLink : public QObject {
    Q_OBJECT
public:
    CommandLink(std::unique_ptr<SerialPort> port, Operator& op, QObject* parent = nullptr);
    ~CommandLink() override;

    // Matchers disarmed and disabled, serial port on COM1 at 9600 baud, 8 data bits, no parity, opened.
    void initialise();
    void setPortParameters(int portNumber, qint32 baud, int dataBits, int parity);
    // Closes an open port first when asked to open; says "COMn not available" when opening fails.
    bool openPort(bool open);
    // Opens quietly (the start-up probe and the port selector report nothing).
    bool tryOpen();

    QByteArray sendAndReceive(int portNumber, const QByteArray& command, int timeLimitMs,
                              const Framing& framing, bool send = true);
    // The variant used while the stream matcher runs: any data up to "\r", 1 ms slices, serial port only.
    QByteArray sendAndReceiveLive(int portNumber, QByteArray command, int timeLimitMs);
    void waitSlice(int ms);
    // The serial link is chosen and its port has gone away (the loss has been reported).
    bool serialPortLost() const;
    // A fixed pause of device time, as waitMs, that ends early when the serial port goes away; false
    // then. The device restarts after a reset in such pauses; an adapter pulled out meanwhile must not
    // keep the operator waiting, nor have its message buried by a search that cannot succeed.
    bool pauseUnlessPortLost(int deviceMs, bool userInput);
    // The next received byte, or 255 when none came within maxPolls polls of about 1 ms.
    quint8 receiveByte(int maxPolls);
    // Empties the receive buffer and sends one byte. A byte still on its way out is waited for, not
    // discarded: emptying a real port's transmit buffer would cut the bytes sent just before.
    void sendByte(quint8 byte);
    // Waits until everything written has left the port (at most timeLimitMs); false when it had not.
    bool drainOutput(int timeLimitMs);
    // A plain write, no transaction (the lone "\r" of the baud search, "GP-1\r", ...).
    bool writeRaw(const QByteArray& bytes);

    // True for a packet that the running stream sent rather than the device's answer to command: a
    // value line of a kind the command does not ask for ("N+00191" after "IV"), the tail of a line that
    // the flush before sending cut ("00167", or an empty line), or the binary bytes of a status packet.
    // A transaction that frames its reply from any data skips these: the device streams while it
    // answers, and its answer is always a text that starts with its own prefix ("OK", "ERR", "V:").
    static bool isStreamLine(QByteArrayView packet, QByteArrayView command);
    // The first letter of the command's answer by the command table when the answer has a stream line's
    // shape ('G' for "AG", "G+10000"); 0 for none.
    static char answerLetter(QByteArrayView command);
    // The first letter of the command's answer by the command table, whatever its shape ('D' for "ID").
    static char replyLetter(QByteArrayView command);

    // A transaction is waiting for its reply, or a dialogue holds the line.
    bool isBusy() const { return busy_ || held_; }
    // A dialogue of many transactions (the bootloader's, a settings image put) holds the line from its
    // first byte to its last: timer-driven callers and clicks that wait for an idle link wait for it too,
    // so nothing else reaches the device in between. The holder's own transactions go through.
    void setHeld(bool held);
    bool isHeld() const { return held_; }
    // Runs fn now when no transaction waits, else once the running one has ended. Timer-driven callers
    // use this so that they never take over a waiting transaction's matcher.
    void runWhenIdle(std::function<void()> fn);
    // Runs work as one transaction (the CAN bridge's process channel waits for frames); false, without
    // running it now, while another transaction waits. With Queue it then runs once that one has ended
    // (work must own what it uses); with Refuse it does not run at all.
    enum class WhenBusy { Refuse, Queue };
    bool runExclusive(const std::function<void()>& work, WhenBusy whenBusy = WhenBusy::Refuse);

    SerialPort& port() { return *port_; }
    PacketMatcher& replyMatcher() { return reply_; }
    PacketMatcher& streamMatcher() { return streamMatcher_; }

    // Terminal mode: the reply matcher runs free (any data up to "\r", strings excluded, auto-enable) and
    // hands every line to the terminal sink instead of to a transaction. A transaction asked for meanwhile
    // borrows the matcher and gives it back when it ends.
    void setTerminalSink(std::function<void(QByteArrayView)> sink) { terminalSink_ = std::move(sink); }
    void setTerminalMode(bool on);
    bool terminalMode() const { return terminalMode_; }

    void setLinkKind(Link link) { linkKind_ = link; }
    Link linkKind() const { return linkKind_; }
    void setCanExchange(CanExchange* bridge) { can_ = bridge; }
    // Where streamMatcher's packets go. A plain call, not a signal: a fast stream sends thousands of lines a
    // second, and each must cost as little as possible.
    void setStreamSink(std::function<void(QByteArrayView)> sink) { streamSink_ = std::move(sink); }
    // The sink now set, so that a borrower can give it back.
    std::function<void(QByteArrayView)> streamSink() const { return streamSink_; }

signals:
    // The open port went away (adapter unplugged).
    void portLost(int portNumber, const QString& reason);
    // A transaction moved the port to another COM number.
    void portNumberChanged(int portNumber);

private:
    void onReadyRead();
    void onReply(QByteArrayView packet);
    QByteArray canTransaction(const QByteArray& command, const Framing& framing);
    // Moves an open port to another COM number; false (and "COMn not available") when it cannot open there.
    bool movePort(int portNumber);
    // Sends (when a command is given), waits for the armed reply matcher or the time limit, disarms it.
    QByteArray sendAndAwait(const QByteArray* command, int timeLimitMs);
    void endTransaction();
    void runIdleQueueLater();
    void applyTerminalMode();

    std::unique_ptr<SerialPort> port_;
    Operator& op_;
    CanExchange* can_ = nullptr;
    Link linkKind_ = Link::Com;
    PacketMatcher reply_;
    PacketMatcher streamMatcher_;
    QTimer timeoutTimer_;
    QByteArray replyText_;
    bool replyReceived_ = false;
    bool timedOut_ = false;
    // The time limit has passed once and the event loop is given one more turn (see the constructor).
    bool lastLook_ = false;
    bool busy_ = false;
    bool held_ = false;
    QEventLoop* loop_ = nullptr;
    QList<std::function<void()>> idleQueue_;
    std::function<void(QByteArrayView)> streamSink_;
    std::function<void(QByteArrayView)> terminalSink_;
    bool terminalMode_ = false;
    bool replyToTerminal_ = false;
    // The running transaction frames its reply from any data up to "\r": stream lines are skipped.
    bool skipStreamLines_ = false;
    // The letter of the stream the device sends while its lines read as the running transaction's answer
    // ("G+00123" for "AG"); none of them is taken. 0 when none streams.
    char streamedLetter_ = 0;
    static bool isStreamLetter(char letter);
    static bool asksForStreamKind(QByteArrayView command, char letter);
    char streamedAnswerLetter(char letter);
    void noteLooked(const QByteArray& bytes);
    // The answer letter of the last command if it went unanswered; 0 otherwise.
    char lateLetter_ = 0;
    char lookLetter_ = 0;
    bool streamSeen_ = false;
    bool garbled_ = false;
    QByteArray command_;
};

} // namespace tarvo
