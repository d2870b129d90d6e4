#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <cstdint>

namespace tarvo {

class CommandLink;

// One programming pass with the device's boot monitor, byte by byte on the serial port: synchronise,
// wake the monitor, download the 1024-byte kernel with echo check, erase, then one record per 128-byte
// block that is not all 0xFF, each acknowledged, and the end record.
class BootloaderDialogue : public QObject {
    Q_OBJECT
public:
    // How a pass ended: the programming state.
    // Interrupted: the operator asked to stop; the pass ended at a safe point (after the current record,
    // with the end record sent).
    enum class State : std::uint8_t {
        Done = 0,
        NoResponse = 1,
        EraseError = 2,
        ProgrammingError = 3,
        Interrupted = 4
    };
    struct Result {
        State state = State::Done;
        // "Programming Done!", "No response from MXR", "Illegal response from MXR", "MXR Erase error",
        // "MXR Programming error" or "Programming interrupted".
        QString text;
        // What the device went through: the first byte sent, the erase acknowledged, and the records
        // acknowledged of those the pass had to send.
        bool sent = false;
        bool erased = false;
        int recordsDone = 0;
        int recordsToSend = 0;
    };

    static constexpr int kKernelBytes = 1024;
    static constexpr qsizetype kImageSize = 0x8000;
    static constexpr qsizetype kBlockSize = 128;
    static constexpr int kSyncSends = 5;
    static constexpr quint8 kAcknowledge = 0x06;

    explicit BootloaderDialogue(CommandLink& link, QObject* parent = nullptr);

    // kernel: the 1024 bytes to download; image: the 32 KiB whose blocks are programmed. The second pass
    // waits 2 s after the erase. While the records go out the progress is records sent of records to
    // send.
    Result runPass(QByteArrayView kernel, QByteArrayView image, bool secondPass);
    // The blocks of image that hold data: the records a pass sends.
    static int recordsFor(QByteArrayView image);

    // Asks the running pass to stop at its next safe point; the request holds until clearStop().
    void requestStop() { stopRequested_ = true; }
    void clearStop() { stopRequested_ = false; }
    bool stopRequested() const { return stopRequested_; }

    // ":" "80" address "00", the block's 128 bytes and the checksum, all as upper-case hex.
    static QByteArray record(std::uint16_t address, QByteArrayView block);
    static const QByteArray& endRecord();

    // Progress of the running pass.
    int progressCurrent() const { return current_; }
    qint64 progressTotal() const { return total_; }

signals:
    void progressChanged(int current, qint64 total);

private:
    QByteArray exchange(quint8 byte, int timeLimitMs);
    void sendText(QByteArrayView text);
    void setProgress(int current);
    // Keeps the window answering while bytes go out without a wait that runs the event loop.
    void keepResponsive();

    CommandLink& link_;
    int current_ = 0;
    qint64 total_ = 0;
    qint64 lastPumpMs_ = 0;
    bool stopRequested_ = false;
};

} // namespace tarvo
