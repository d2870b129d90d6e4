#include "KernelFile.h"

#include "base/ReplacingFile.h"

#include <cstring>

namespace tarvo {

namespace {

// Reads the kernel's text one character at a time; the end of the text is -1, never a byte beyond it.
class Reader {
public:
    explicit Reader(QByteArrayView text) : text_(text) {}
    int next() { return pos_ < text_.size() ? static_cast<std::uint8_t>(text_[pos_++]) : -1; }
    bool skipTo(char c) {
        for (int ch = next(); ch >= 0; ch = next())
            if (ch == c)
                return true;
        return false;
    }
    // A hex digit as the kernel reader has always converted it: below ":" its value minus 0x30, any
    // other character its value minus 0x37. Only upper-case digits give their right values.
    static int digit(int c) { return c < ':' ? c - 0x30 : c - 0x37; }
    // Two digits as one byte; false at the end of the text.
    bool byte(int* value) {
        const int high = next();
        const int low = next();
        if (high < 0 || low < 0)
            return false;
        *value = ((digit(high) << 4) + digit(low)) & 0xFF;
        return true;
    }

private:
    QByteArrayView text_;
    qsizetype pos_ = 0;
};

} // namespace

KernelFile::KernelFile() : buffer_(std::make_unique<std::uint8_t[]>(kBufferSize)) {
    std::memset(buffer_.get(), 0xFF, kBufferSize);
}

KernelFile::~KernelFile() = default;

QByteArrayView KernelFile::buffer() const {
    return {reinterpret_cast<const char*>(buffer_.get()), kBufferSize};
}

KernelFile::State KernelFile::read(const QString& path) {
    // Read without waiting: a pipe with no writer or a terminal would hold the program for ever.
    const std::optional<QByteArray> text =
        path.isEmpty() ? std::nullopt : readRegularFile(path, kFileLimit + 1, nullptr);
    if (!text) {
        readText({});
        state_ = State::OpenFailed;
        problem_ = QStringLiteral("the file could not be opened");
        return state_;
    }
    return readText(*text);
}

KernelFile::State KernelFile::readText(QByteArrayView text) {
    std::memset(buffer_.get(), 0xFF, kBufferSize);
    dataBytes_ = 0;
    records_ = 0;
    cutOff_ = false;
    strayAddress_ = -1;
    seen_.reset();
    state_ = State::Ok;
    if (text.size() <= kFileLimit)
        parse(text); // a larger file is no kernel: nothing is taken from it
    judge();
    if (text.size() > kFileLimit)
        problem_ = QStringLiteral("larger than %1 bytes, not a kernel").arg(kFileLimit);
    return state_;
}

void KernelFile::judge() {
    auto hex4 = [](int v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper(); };
    const int last = kBaseAddress + kKernelSize - 1;
    if (cutOff_)
        problem_ = QStringLiteral("the file ends inside record %1").arg(records_);
    else if (state_ == State::ChecksumError)
        problem_ = QStringLiteral("checksum error in record %1").arg(records_);
    else if (strayAddress_ >= 0)
        problem_ = QStringLiteral("data at address %1 in record %2, outside the kernel's %3 to %4")
                       .arg(hex4(strayAddress_))
                       .arg(strayRecord_)
                       .arg(hex4(kBaseAddress), hex4(last));
    else if (dataBytes_ == 0)
        problem_ = QStringLiteral("no S-record data");
    else if (!seen_.all())
        problem_ = QStringLiteral("holds %1 of the kernel's %2 bytes at %3 to %4")
                       .arg(seen_.count())
                       .arg(kKernelSize)
                       .arg(hex4(kBaseAddress), hex4(last));
    else
        problem_.clear();
}

void KernelFile::parse(QByteArrayView text) {
    Reader in(text);
    while (in.skipTo('S')) {
        ++records_;
        const int typeChar = in.next();
        int count = 0;
        int high = 0;
        int low = 0;
        // A record cut off by the end of the file is a broken record.
        if (typeChar < 0 || !in.byte(&count) || !in.byte(&high) || !in.byte(&low)) {
            state_ = State::ChecksumError;
            cutOff_ = true;
            return;
        }
        const int type = Reader::digit(typeChar);
        unsigned sum = unsigned(count + high + low);
        // Device address minus the kernel's base, in 16-bit arithmetic.
        unsigned index = std::uint16_t((high << 8 | low) - kBaseAddress);
        int value = 0;
        if (type == 0 || type == 1) {
            for (int i = 0; i < count - 3; ++i) {
                if (!in.byte(&value)) {
                    state_ = State::ChecksumError;
                    cutOff_ = true;
                    return;
                }
                sum += unsigned(value);
                if (type == 0)
                    continue;
                if (index >= kKernelSize && strayAddress_ < 0) {
                    strayAddress_ = int(std::uint16_t(index + kBaseAddress));
                    strayRecord_ = records_;
                }
                if (index >= kBufferSize) {
                    state_ = State::AddressRange;
                    return;
                }
                if (index < kKernelSize)
                    seen_.set(index);
                buffer_[index++] = std::uint8_t(value);
                ++dataBytes_;
            }
        }
        if (!in.byte(&value)) {
            state_ = State::ChecksumError;
            cutOff_ = true;
            return;
        }
        sum += unsigned(value);
        if ((sum & 0xFF) != 0xFF) {
            state_ = State::ChecksumError;
            return;
        }
        if (type == 9)
            return;
    }
}

} // namespace tarvo
