#include "BootMonitor.h"

#include <QStringList>
#include <cstring>

namespace devsim {

namespace {

constexpr qsizetype kFlashSize = 65536;
constexpr qsizetype kRecordLimit = 600;
constexpr char kSync = 0x00;
constexpr char kAwake = char(0xAA);
constexpr char kErased = char(0xAA);
constexpr char kEraseFailed = 0x55;

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // the monitor takes upper-case digits only
}

// The bytes of an Intel-hex record's text after its ":", or nothing when a character is no digit.
bool recordBytes(QByteArrayView text, QByteArray* bytes) {
    if (text.size() % 2 != 0)
        return false;
    bytes->resize(text.size() / 2);
    for (qsizetype i = 0; i < bytes->size(); ++i) {
        const int high = hexValue(text[2 * i]);
        const int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        (*bytes)[i] = char(high << 4 | low);
    }
    return true;
}

} // namespace

BootMonitor::BootMonitor() : flash_(std::make_unique<char[]>(kFlashSize)) {
    std::memset(flash_.get(), 0xFF, kFlashSize);
}

BootMonitor::~BootMonitor() = default;

QByteArrayView BootMonitor::flash() const {
    return {flash_.get(), kFlashSize};
}

bool BootMonitor::parseFaults(const QStringList& words, Faults* faults, QString* error) {
    Faults f;
    for (const QString& word : words) {
        bool ok = true;
        if (word.startsWith(QLatin1String("misses=")))
            f.syncMisses = word.mid(7).toInt(&ok);
        else if (word.startsWith(QLatin1String("refuse=")))
            f.refuseRecord = word.mid(7).toInt(&ok);
        else if (word == QLatin1String("erase=fail"))
            f.eraseFails = true;
        else if (word == QLatin1String("silent"))
            f.silent = true;
        else
            ok = false;
        if (!ok || f.syncMisses < 0) {
            *error = QStringLiteral("unknown boot fault \"%1\" (misses=N, refuse=K, erase=fail, silent)")
                         .arg(word);
            return false;
        }
    }
    *faults = f;
    return true;
}

void BootMonitor::powerOn() {
    step_ = Step::Sync;
    syncs_ = 0;
    record_.clear();
}

QByteArray BootMonitor::receive(char byte, bool* leave) {
    *leave = false;
    if (faults_.silent)
        return {};
    switch (step_) {
    case Step::Ended:
        // After a pass: a sync byte starts the next, a line end closes the end record, anything else
        // is meant for the firmware.
        if (byte == '\n' || byte == '\r')
            return {};
        if (byte != kSync) {
            *leave = true;
            return {};
        }
        step_ = Step::Sync;
        [[fallthrough]];
    case Step::Sync:
        if (byte != kSync)
            return {};
        ++syncs_;
        if (syncs_ <= faults_.syncMisses)
            return {};
        step_ = Step::Wake;
        return QByteArray(1, kSync);
    case Step::Wake:
        if (byte == kSync)
            return QByteArray(1, kSync);
        if (byte != 'U')
            return {};
        step_ = Step::LengthHigh;
        return QByteArray(1, kAwake);
    case Step::LengthHigh:
        kernelLength_ = quint8(byte) << 8;
        step_ = Step::LengthLow;
        return QByteArray(1, byte);
    case Step::LengthLow:
        kernelLength_ |= quint8(byte);
        kernel_.clear();
        step_ = kernelLength_ > 0 ? Step::Kernel : Step::Erase;
        return QByteArray(1, byte);
    case Step::Kernel:
        kernel_.append(byte);
        if (kernel_.size() >= kernelLength_)
            step_ = Step::Erase;
        return QByteArray(1, byte);
    case Step::Erase:
        if (faults_.eraseFails) {
            // The monitor starts over and waits for the next sync.
            step_ = Step::Sync;
            return QByteArray(1, kEraseFailed);
        }
        if (byte != kErased)
            return QByteArray(1, byte);
        std::memset(flash_.get(), 0xFF, kFlashSize);
        ++erases_;
        step_ = Step::Records;
        recordNumber_ = 0;
        records_.clear();
        lines_.clear();
        record_.clear();
        return QByteArray(1, kErased);
    case Step::Records:
        if (byte == '\r')
            return recordEnd();
        if (byte == '\n')
            return {};
        if (record_.size() < kRecordLimit)
            record_.append(byte);
        return {};
    }
    return {};
}

QString BootMonitor::stateText() const {
    const char* mode = "sync";
    switch (step_) {
    case Step::Sync:
        mode = "sync";
        break;
    case Step::Wake:
        mode = "wake";
        break;
    case Step::LengthHigh:
    case Step::LengthLow:
    case Step::Kernel:
        mode = "kernel";
        break;
    case Step::Erase:
        mode = "erase";
        break;
    case Step::Records:
        mode = "records";
        break;
    case Step::Ended:
        mode = "ended";
        break;
    }
    return QStringLiteral("erases=%1 passes=%2 records=%3 mode=%4")
        .arg(erases_)
        .arg(passes_)
        .arg(records_.size())
        .arg(QLatin1String(mode));
}

QByteArray BootMonitor::recordEnd() {
    const QByteArray text = record_;
    record_.clear();
    if (text.isEmpty())
        return {};
    lines_.append(text);
    QByteArray bytes;
    // ":" count address(2) type data checksum; the sum of all bytes is zero.
    const bool formed = text.startsWith(':') && recordBytes(QByteArrayView(text).sliced(1), &bytes) &&
                        bytes.size() >= 5 && bytes.size() == quint8(bytes[0]) + 5;
    quint8 sum = 0;
    for (const char b : bytes)
        sum = quint8(sum + quint8(b));
    if (!formed || sum != 0)
        return QByteArray(1, kRefuse);
    const int type = quint8(bytes[3]);
    if (type == 1) {
        ++passes_;
        step_ = Step::Ended;
        return {};
    }
    const int address = quint8(bytes[1]) << 8 | quint8(bytes[2]);
    records_.append(address);
    if (recordNumber_++ == faults_.refuseRecord || type != 0)
        return QByteArray(1, kRefuse);
    for (int i = 0; i < quint8(bytes[0]); ++i)
        flash_[(address + i) & 0xFFFF] = bytes[4 + i];
    return QByteArray(1, kAcknowledge);
}

} // namespace devsim
