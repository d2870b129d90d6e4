#pragma once

#include <QByteArrayView>
#include <QString>
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
    // The file opened and gave the buffer at least one data byte. A file that opens but holds no S1
    // data (not S-records at all, or too large to be a kernel) is no kernel.
    bool usable() const { return state_ != State::OpenFailed && dataBytes_ > 0; }
    // Data bytes stored by the last read.
    qsizetype dataBytes() const { return dataBytes_; }

    QByteArrayView buffer() const;
    // The part the boot monitor receives and echoes.
    QByteArrayView kernel() const { return buffer().first(kKernelSize); }

private:
    void parse(QByteArrayView text);

    std::unique_ptr<std::uint8_t[]> buffer_;
    State state_ = State::OpenFailed;
    qsizetype dataBytes_ = 0;
};

} // namespace tarvo
