#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <memory>

namespace devsim {

// The transmitter's boot monitor, awake while the programming switch is on: it answers the sync byte,
// wakes on "U", takes the programming kernel and echoes it, erases the flash, and programs one
// Intel-hex record at a time, acknowledged with 0x06 (or refused with 0x15), until the end record.
class BootMonitor {
public:
    static constexpr int kBaud = 9600;
    static constexpr char kAcknowledge = 0x06;
    static constexpr char kRefuse = 0x15;

    // Faults to put on purpose, for the program's error paths.
    struct Faults {
        int syncMisses = 0;      // this many sync bytes go unanswered first
        int refuseRecord = -1;   // the record with this number (0 = a pass's first) is refused
        bool eraseFails = false; // the erase is answered with 0x55 instead of 0xAA
        bool silent = false;     // nothing is answered at all
    };
    // "misses=N", "refuse=K", "erase=fail", "silent" (blank separated); false with a reason otherwise.
    static bool parseFaults(const QStringList& words, Faults* faults, QString* error);

    BootMonitor();
    ~BootMonitor();

    void setFaults(const Faults& faults) { faults_ = faults; }
    // Power on with the switch on: waiting for the first sync byte; the flash keeps what it holds.
    void powerOn();

    // One byte heard; the bytes it answers with. leave is set when the byte is no part of the boot
    // dialogue but the host already talks to the firmware (a pass has ended): the byte is not taken.
    QByteArray receive(char byte, bool* leave);

    // What the host gave it.
    QByteArray kernel() const { return kernel_; }
    int kernelLength() const { return kernelLength_; }
    // Passes that reached their end record, and the records of the last (or running) pass by address.
    int passes() const { return passes_; }
    QList<int> recordAddresses() const { return records_; }
    // Every record line of the last pass as heard, without the "\r".
    QList<QByteArray> recordLines() const { return lines_; }
    int syncsHeard() const { return syncs_; }
    // Erases done since the simulator started.
    int erases() const { return erases_; }
    // "erases=E passes=P records=R mode=M": M is sync, wake, kernel, erase, records (waiting for
    // records or the end record) or ended.
    QString stateText() const;
    // The 64 KiB flash as programmed; erased flash reads 0xFF.
    QByteArrayView flash() const;

private:
    enum class Step { Sync, Wake, LengthHigh, LengthLow, Kernel, Erase, Records, Ended };
    QByteArray recordEnd();

    Faults faults_;
    Step step_ = Step::Sync;
    int syncs_ = 0;
    int erases_ = 0;
    int kernelLength_ = 0;
    QByteArray kernel_;
    QByteArray record_;
    int recordNumber_ = 0;
    int passes_ = 0;
    QList<int> records_;
    QList<QByteArray> lines_;
    std::unique_ptr<char[]> flash_;
};

} // namespace devsim
