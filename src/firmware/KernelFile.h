#pragma once

#include <QByteArrayView>
#include <QString>
#include <bitset>
#include <cstdint>
#include <memory>

namespace tarvo {

// The programming kernel ("Prog41.a20"): Motorola S-records whose data, at device addresses from 0xF780
// up, fill a 32 KiB buffer. The bootloader dialogue downloads the buffer's first 1024 bytes and, in its
// first pass, programs its non-empty blocks.
class KernelFile {
public:
    static constexpr qsizetype kBufferSize = 32768;
    static constexpr qsizetype kKernelSize = 1024;
    static constexpr std::uint16_t kBaseAddress = 0xF780;
    // A kernel is a few kilobytes of text; a file far beyond that is not one (and is not read whole).
    static constexpr qsizetype kFileLimit = 1048576;

    // How the last read ended.
    enum class State : std::uint8_t { Ok = 0, OpenFailed = 1, AddressRange = 2, ChecksumError = 3 };

    KernelFile();
    ~KernelFile();
    KernelFile(const KernelFile&) = delete;
    KernelFile& operator=(const KernelFile&) = delete;

    // Fills the buffer with 0xFF, then reads the file's S-records into it.
    State read(const QString& path);
    // The same on text already in memory.
    State readText(QByteArrayView text);

    State state() const { return state_; }
    // The read was whole and clean: every record's checksum right, no record cut off, and data for each
    // of the kernel's 1024 bytes at F780..FB7F and nowhere else. Anything less would download a broken
    // kernel to a device that is erased next.
    bool usable() const { return problem_.isEmpty(); }
    // Why the last read is no kernel ("checksum error in record 5", ...); empty when it is one.
    const QString& problem() const { return problem_; }
    // Data bytes stored by the last read.
    qsizetype dataBytes() const { return dataBytes_; }

    QByteArrayView buffer() const;
    // The part the boot monitor receives and echoes.
    QByteArrayView kernel() const { return buffer().first(kKernelSize); }

private:
    void parse(QByteArrayView text);

    void judge();

    std::unique_ptr<std::uint8_t[]> buffer_;
    State state_ = State::OpenFailed;
    qsizetype dataBytes_ = 0;
    QString problem_ = QStringLiteral("no kernel read");
    int records_ = 0;        // records begun
    bool cutOff_ = false;    // the text ended inside a record
    int strayAddress_ = -1;  // device address of the first data byte outside the kernel, or -1
    int strayRecord_ = 0;    // the record that holds it
    std::bitset<1024> seen_; // kernel bytes the file gave
};

} // namespace tarvo
