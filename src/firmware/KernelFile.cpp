#include "KernelFile.h"

#include <QFile>
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
    std::memset(buffer_.get(), 0xFF, kBufferSize);
    dataBytes_ = 0;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        state_ = State::OpenFailed;
        return state_;
    }
    const QByteArray text = file.read(kFileLimit + 1);
    state_ = State::Ok;
    if (text.size() > kFileLimit)
        return state_; // opened, but no kernel: nothing is taken from it
    parse(text);
    return state_;
}

KernelFile::State KernelFile::readText(QByteArrayView text) {
    std::memset(buffer_.get(), 0xFF, kBufferSize);
    dataBytes_ = 0;
    state_ = State::Ok;
    if (text.size() <= kFileLimit)
        parse(text);
    return state_;
}

void KernelFile::parse(QByteArrayView text) {
    Reader in(text);
    while (in.skipTo('S')) {
        const int typeChar = in.next();
        int count = 0;
        int high = 0;
        int low = 0;
        // A record cut off by the end of the file is a broken record.
        if (typeChar < 0 || !in.byte(&count) || !in.byte(&high) || !in.byte(&low)) {
            state_ = State::ChecksumError;
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
                    return;
                }
                sum += unsigned(value);
                if (type == 0)
                    continue;
                if (index >= kBufferSize) {
                    state_ = State::AddressRange;
                    return;
                }
                buffer_[index++] = std::uint8_t(value);
                ++dataBytes_;
            }
        }
        if (!in.byte(&value)) {
            state_ = State::ChecksumError;
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
