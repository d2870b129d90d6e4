#include "BootloaderDialogue.h"

#include "base/EventWait.h"
#include "base/TimeScale.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"

#include <QCoreApplication>
#include <algorithm>

namespace tarvo {

namespace {

constexpr int kSyncLimitMs = 2000;
constexpr int kWakeLimitMs = 10000;
constexpr int kEchoLimitMs = 1000;
constexpr int kEraseLimitMs = 1000;
constexpr int kRecordLimitMs = 2000;
constexpr int kLengthPolls = 100;
constexpr int kSecondPassPauseMs = 2000;
constexpr int kDrainLimitMs = 2000;
constexpr int kEndRecordSettleMs = 100;
constexpr int kPumpEveryMs = 50;
constexpr quint8 kSync = 0x00;
constexpr quint8 kWake = 0x55; // "U"
constexpr quint8 kAwake = 0xAA;
constexpr quint8 kErase = 0xAA;

constexpr const char* kDone = "Programming Done!";
constexpr const char* kNoResponse = "No response from MXR";
constexpr const char* kIllegalResponse = "Illegal response from MXR";
constexpr const char* kEraseError = "MXR Erase error";
constexpr const char* kProgrammingError = "MXR Programming error";
constexpr const char* kInterrupted = "Programming interrupted";

bool isEmptyBlock(QByteArrayView block) {
    return std::all_of(block.begin(), block.end(), [](char c) { return static_cast<quint8>(c) == 0xFF; });
}

// One byte back, whatever it is: any data starts the reply and one byte ends it.
Framing oneByte() {
    Framing f = Framing::anyData();
    f.end.clear();
    f.useEndString = false;
    f.usePacketSize = true;
    f.includeStrings = true;
    f.packetSize = 1;
    return f;
}

bool isByte(const QByteArray& reply, quint8 byte) {
    return reply.size() == 1 && static_cast<quint8>(reply[0]) == byte;
}

void appendHex(QByteArray& out, unsigned byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.append(kDigits[(byte >> 4) & 0xF]);
    out.append(kDigits[byte & 0xF]);
}

} // namespace

BootloaderDialogue::BootloaderDialogue(CommandLink& link, QObject* parent) : QObject(parent), link_(link) {}

QByteArray BootloaderDialogue::record(std::uint16_t address, QByteArrayView block) {
    QByteArray out;
    out.reserve(1 + 2 * (4 + kBlockSize + 1));
    out.append(':');
    unsigned sum = 0;
    auto put = [&](unsigned byte) {
        appendHex(out, byte & 0xFF);
        sum += byte & 0xFF;
    };
    put(unsigned(kBlockSize));
    put(address >> 8);
    put(address & 0xFF);
    put(0);
    for (qsizetype i = 0; i < kBlockSize; ++i)
        put(i < block.size() ? static_cast<std::uint8_t>(block[i]) : 0xFF);
    appendHex(out, (0x100 - (sum & 0xFF)) & 0xFF);
    return out;
}

const QByteArray& BootloaderDialogue::endRecord() {
    static const QByteArray text = QByteArrayLiteral(":00000001FF");
    return text;
}

QByteArray BootloaderDialogue::exchange(quint8 byte, int timeLimitMs) {
    return link_.sendAndReceive(link_.port().portNumber(), QByteArray(1, static_cast<char>(byte)),
                                timeLimitMs, oneByte());
}

void BootloaderDialogue::sendText(QByteArrayView text) {
    for (const char c : text) {
        link_.sendByte(static_cast<quint8>(c));
        keepResponsive();
    }
}

void BootloaderDialogue::keepResponsive() {
    const qint64 now = monotonicMs();
    if (now - lastPumpMs_ < kPumpEveryMs)
        return;
    lastPumpMs_ = now;
    // The line is held, so nothing that runs here can send; clicks wait for the pass's end.
    QCoreApplication::processEvents();
}

void BootloaderDialogue::setProgress(int current) {
    current_ = current;
    emit progressChanged(current_, total_);
}

int BootloaderDialogue::recordsFor(QByteArrayView image) {
    int records = 0;
    const qsizetype end = std::min(image.size(), kImageSize);
    for (qsizetype address = 0; address < end; address += kBlockSize)
        records += isEmptyBlock(image.sliced(address, std::min(kBlockSize, end - address))) ? 0 : 1;
    return records;
}

BootloaderDialogue::Result BootloaderDialogue::runPass(QByteArrayView kernel, QByteArrayView image,
                                                       bool secondPass) {
    Result r;
    r.recordsToSend = recordsFor(image);
    auto result = [&r](State state, const char* text) {
        r.state = state;
        r.text = QString::fromLatin1(text);
        return r;
    };
    lastPumpMs_ = monotonicMs();
    if (stopRequested_)
        return result(State::Interrupted, kInterrupted);
    r.sent = true;

    // Synchronise: a zero byte, repeated while the answer is anything but a zero byte.
    QByteArray reply;
    for (int sends = 0; sends < kSyncSends; ++sends) {
        reply = exchange(kSync, kSyncLimitMs);
        if (isByte(reply, kSync))
            break;
    }
    if (reply == kTimeOutErr)
        return result(State::NoResponse, kNoResponse);

    if (!isByte(exchange(kWake, kWakeLimitMs), kAwake))
        return result(State::ProgrammingError, kIllegalResponse);

    // The kernel's length, high byte first; the monitor answers each with one byte.
    total_ = kKernelBytes;
    setProgress(0);
    for (const quint8 lengthByte : {quint8(kKernelBytes >> 8), quint8(kKernelBytes & 0xFF)}) {
        link_.sendByte(lengthByte);
        // Nothing back (255 after every poll) is the monitor's silence.
        if (link_.receiveByte(kLengthPolls) == 255)
            return result(State::NoResponse, kNoResponse);
    }
    for (int i = 0; i < kKernelBytes; ++i) {
        // Before the erase a stop leaves the device's flash as it was.
        if (stopRequested_)
            return result(State::Interrupted, kInterrupted);
        const quint8 byte = i < kernel.size() ? static_cast<quint8>(kernel[i]) : 0xFF;
        if (!isByte(exchange(byte, kEchoLimitMs), byte))
            return result(State::NoResponse, kNoResponse);
        setProgress(i + 1);
    }
    if (stopRequested_)
        return result(State::Interrupted, kInterrupted);
    reply = exchange(kErase, kEraseLimitMs);
    if (reply == kTimeOutErr)
        return result(State::NoResponse, kNoResponse);
    if (!isByte(reply, kErase))
        return result(State::EraseError, kEraseError);
    r.erased = true;

    if (secondPass)
        waitMs(kSecondPassPauseMs);

    total_ = r.recordsToSend;
    setProgress(0);
    State state = State::Done;
    const qsizetype end = std::min(image.size(), kImageSize);
    for (qsizetype address = 0; address < end; address += kBlockSize) {
        const QByteArrayView block = image.sliced(address, std::min(kBlockSize, end - address));
        if (isEmptyBlock(block))
            continue;
        // A stop ends the records here; the end record below still takes the monitor out of record mode.
        if (stopRequested_) {
            state = State::Interrupted;
            break;
        }
        sendText(record(std::uint16_t(address), block));
        // The closing "\r" goes out like the record's other characters, and the transaction only
        // waits for the acknowledgement: one that sent it would first empty the transmit buffer, and
        // with it the record's tail still on its way out.
        link_.sendByte('\r');
        if (!isByte(link_.sendAndReceive(link_.port().portNumber(), "\r", kRecordLimitMs, oneByte(), false),
                    kAcknowledge)) {
            state = State::ProgrammingError;
            break;
        }
        ++r.recordsDone;
        setProgress(r.recordsDone);
    }
    // The end record goes out also after an error, so the monitor leaves its record mode.
    sendText(endRecord());
    sendText("\r\n");
    // Whatever follows (the next pass's sync, the defaults) starts with a transaction: the end record
    // must have reached the monitor by then.
    link_.drainOutput(kDrainLimitMs);
    waitMs(kEndRecordSettleMs);
    switch (state) {
    case State::Done:
        return result(State::Done, kDone);
    case State::Interrupted:
        return result(State::Interrupted, kInterrupted);
    default:
        return result(state, kProgrammingError);
    }
}

} // namespace tarvo
