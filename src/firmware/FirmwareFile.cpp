#include "FirmwareFile.h"

#include "base/ReplacingFile.h"

#include <QRegularExpression>
#include <algorithm>
#include <cstring>

namespace tarvo {

namespace {

const QString kCaptionCantOpen = QStringLiteral("Can't Open File");
const QString kCaptionFormatError = QStringLiteral("Format Error");
const QString kCaptionFileError = QStringLiteral("Firmware File Error");

// Own-format header: field offsets, all little-endian.
constexpr qsizetype kOffVersion = 4;
constexpr qsizetype kOffEdition = 8;
constexpr qsizetype kOffPayloadFormat = 16;
constexpr qsizetype kOffTargetList = 18;
constexpr qsizetype kOffMessage = 20;
constexpr qsizetype kOffPayload = 22;
constexpr qsizetype kOffHeaderCrc = 24;
constexpr qsizetype kOffPayloadCrc = 28;
constexpr qsizetype kHeaderCrcSpan = 24;

// The device's flash: the programming pass sends image addresses below this and nothing else, so data
// above it would be dropped without a word.
constexpr std::uint32_t kProgrammableLimit = 0x8000;

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

// Both cases: files written with lower-case digits are as valid as upper-case ones.
int hexValue(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// One hex pair at pos, or -1 when it is not one (or runs past the end).
int hexPairAt(const std::uint8_t* data, qsizetype size, qsizetype pos) {
    if (pos < 0 || pos + 1 >= size)
        return -1;
    const int hi = hexValue(data[pos]);
    const int lo = hexValue(data[pos + 1]);
    return (hi < 0 || lo < 0) ? -1 : (hi << 4) | lo;
}

// The recognition test of a text format: the count byte at pos and count + extra further pairs must
// sum to the expected value.
bool recordSumMatches(const std::uint8_t* data, qsizetype size, qsizetype pos, int extra,
                      std::uint8_t expected) {
    const int count = hexPairAt(data, size, pos);
    if (count < 0)
        return false;
    unsigned sum = static_cast<unsigned>(count);
    for (int i = 0; i < count + extra; ++i) {
        const int value = hexPairAt(data, size, pos + 2 + 2 * qsizetype(i));
        if (value < 0)
            return false;
        sum += static_cast<unsigned>(value);
    }
    return (sum & 0xFFu) == expected;
}

// Reads the records of one text (the whole file, or an own-format payload) into the image. Every read
// is bounded by the text; every write goes through a 16-bit address into the 64 KiB image.
class RecordParser {
public:
    RecordParser(const std::uint8_t* text, qsizetype size, qsizetype fileOffset, std::uint8_t* image)
        : text_(text), size_(size), fileOffset_(fileOffset), image_(image) {}

    void parseSRecords();
    void parseIntelHex();

    FirmwareStatus status{FirmwareStatus::Code::Ok};
    std::uint16_t memStart = 0xFFFF;
    std::uint16_t memEnd = 0;

private:
    // Skips to the next record marker. False at the end of the text, which ends the parse normally:
    // not every tool writes a closing record. A 0xFF byte counts as the end, as it always has.
    bool skipTo(char marker) {
        while (pos_ < size_) {
            const std::uint8_t c = text_[pos_++];
            if (c == static_cast<std::uint8_t>(marker)) {
                recordStart_ = pos_ - 1;
                return true;
            }
            if (c == 0xFF)
                return false;
        }
        return false;
    }
    bool digit(int& value) {
        if (pos_ >= size_)
            return fail(FirmwareStatus::Code::TruncatedRecord);
        value = hexValue(text_[pos_]);
        if (value < 0)
            return fail(FirmwareStatus::Code::BadCharacter);
        ++pos_;
        return true;
    }
    bool byte(std::uint8_t& out) {
        int hi = 0;
        int lo = 0;
        if (!digit(hi) || !digit(lo))
            return false;
        out = static_cast<std::uint8_t>((hi << 4) | lo);
        sum_ += out;
        return true;
    }
    bool fail(FirmwareStatus::Code code) {
        status.code = code;
        status.offset = fileOffset_ + recordStart_;
        status.line = 1 + static_cast<int>(std::count(text_, text_ + recordStart_, '\n'));
        return false;
    }
    void raiseMemEnd(std::uint32_t address) {
        if (address > memEnd)
            memEnd = static_cast<std::uint16_t>(address);
    }

    const std::uint8_t* text_;
    qsizetype size_;
    qsizetype fileOffset_;
    std::uint8_t* image_;
    qsizetype pos_ = 0;
    qsizetype recordStart_ = 0;
    std::uint8_t sum_ = 0;
    std::uint32_t upper_ = 0; // the last extended address record's value
};

void RecordParser::parseSRecords() {
    while (skipTo('S')) {
        int type = 0;
        std::uint8_t count = 0;
        std::uint8_t hi = 0;
        std::uint8_t lo = 0;
        if (!digit(type))
            return;
        sum_ = 0;
        if (!byte(count) || !byte(hi) || !byte(lo))
            return;
        std::uint32_t address = (std::uint32_t(hi) << 8) | lo;
        bool ok = true;
        if (type == 1 && count > 3) {
            for (int i = 0; ok && i < count - 3; ++i) {
                if (address < memStart)
                    memStart = static_cast<std::uint16_t>(address);
                if (address >= kProgrammableLimit) {
                    ok = fail(FirmwareStatus::Code::AddressRangeError);
                    break;
                }
                std::uint8_t data = 0;
                ok = byte(data);
                if (ok)
                    image_[address++] = data;
            }
        } else if (type == 0 && count > 3) {
            std::uint8_t skipped = 0;
            for (int i = 0; ok && i < count - 3; ++i)
                ok = byte(skipped);
        }
        std::uint8_t checksum = 0;
        if (ok)
            ok = byte(checksum) && (sum_ == 0xFF || fail(FirmwareStatus::Code::ChecksumError));
        // Bytes written before an error stay in the image, so they count for the range too.
        raiseMemEnd(address);
        if (!ok || type == 9)
            return;
    }
}

void RecordParser::parseIntelHex() {
    while (skipTo(':')) {
        sum_ = 0;
        std::uint8_t count = 0;
        std::uint8_t hi = 0;
        std::uint8_t lo = 0;
        std::uint8_t type = 0;
        if (!byte(count) || !byte(hi) || !byte(lo) || !byte(type))
            return;
        std::uint32_t address = (std::uint32_t(hi) << 8) | lo;
        bool ok = true;
        if (type == 0) {
            if (count > 0)
                memStart = std::min(memStart, static_cast<std::uint16_t>(address));
            // Data above the flash (an extended address moves it there too) would never be programmed.
            if (count > 0 && (upper_ != 0 || address + count > kProgrammableLimit))
                ok = fail(FirmwareStatus::Code::AddressRangeError);
            for (int i = 0; ok && i < count; ++i) {
                std::uint8_t data = 0;
                ok = byte(data);
                if (ok)
                    image_[address++] = data;
            }
            std::uint8_t checksum = 0;
            if (ok)
                ok = byte(checksum) && (sum_ == 0 || fail(FirmwareStatus::Code::ChecksumError));
        } else if (type == 2 || type == 4) {
            // Extended segment or linear address: only zero keeps the data inside the flash.
            std::uint8_t high = 0;
            std::uint8_t low = 0;
            std::uint8_t checksum = 0;
            ok = count == 2 && byte(high) && byte(low) && byte(checksum) &&
                 (sum_ == 0 || fail(FirmwareStatus::Code::ChecksumError));
            if (ok)
                upper_ = (std::uint32_t(high) << 8) | low;
        }
        raiseMemEnd(address);
        if (!ok || type == 1)
            return;
    }
}

} // namespace

bool FirmwareStatus::isParseError() const {
    return code == Code::ChecksumError || code == Code::AddressRangeError || code == Code::BadCharacter ||
           code == Code::TruncatedRecord;
}

QString FirmwareStatus::text() const {
    const QString where = QStringLiteral(" at line %1, byte %2").arg(line).arg(offset);
    switch (code) {
    case Code::NothingLoaded:
        return QStringLiteral("no file loaded");
    case Code::Ok:
        return QStringLiteral("ok");
    case Code::OpenFailed:
        return QStringLiteral("file could not be opened");
    case Code::TooLarge:
        return QStringLiteral("file larger than %1 bytes").arg(FirmwareFile::kBufferSize);
    case Code::Empty:
        return QStringLiteral("file is empty");
    case Code::NotRecognised:
        return QStringLiteral("file format not recognised");
    case Code::MessageOutsideFile:
        return QStringLiteral("message text offset %1 outside the file").arg(value);
    case Code::TargetListMisplaced:
        return QStringLiteral("target list offset %1 beyond the message text offset").arg(value);
    case Code::TargetListLength:
        return QStringLiteral("target list length %1 not a multiple of 4").arg(value);
    case Code::MessageUnterminated:
        return QStringLiteral("message text without terminating zero");
    case Code::UnknownPayloadFormat:
        return QStringLiteral("unknown payload format %1").arg(value);
    case Code::ChecksumError:
        return QStringLiteral("checksum error") + where;
    case Code::AddressRangeError:
        return QStringLiteral("data outside the programmable addresses 0000 to 7FFF") + where;
    case Code::BadCharacter:
        return QStringLiteral("invalid character in record") + where;
    case Code::TruncatedRecord:
        return QStringLiteral("record cut off by the end of the file") + where;
    case Code::NoData:
        return QStringLiteral("file holds no data to program");
    }
    return {};
}

FirmwareFile::FirmwareFile(Operator& op) : op_(op), image_(std::make_unique<std::uint8_t[]>(kImageSize)) {
    std::memset(image_.get(), 0xFF, kImageSize);
}

FirmwareFile::~FirmwareFile() = default;

QByteArrayView FirmwareFile::image() const {
    return {image_.get(), kImageSize};
}

QByteArrayView FirmwareFile::buffer() const {
    return {buffer_.get(), codeSize_};
}

bool FirmwareFile::loadSucceeded() const {
    return kind_ != FirmwareKind::None && status_.ok();
}

void FirmwareFile::beginLoad(const QString& path) {
    // Every attempt describes only itself and starts from an erased image: a smaller file loaded after
    // a larger one must not be programmed together with the first file's bytes.
    std::memset(image_.get(), 0xFF, kImageSize);
    // The file buffer (a megabyte) is made with the first load: most sessions never load a file, and
    // the program starts without clearing it.
    if (!buffer_)
        buffer_ = std::make_unique<std::uint8_t[]>(kBufferSize);
    path_ = path;
    status_ = {};
    kind_ = FirmwareKind::None;
    codeSize_ = 0;
    memStart_ = 0xFFFF;
    memEnd_ = 0;
}

void FirmwareFile::fail(FirmwareStatus status) {
    status_ = status;
    op_.showMessage(path_ + ": " + status_.text(), kCaptionFileError, MessageIcon::Error);
}

bool FirmwareFile::load(const QString& path) {
    // Read without waiting: a pipe with no writer or a terminal would hold the program for ever.
    QString reason;
    const std::optional<QByteArray> bytes = readRegularFile(path, kBufferSize + 1, &reason);
    if (!bytes) {
        beginLoad(path);
        status_.code = FirmwareStatus::Code::OpenFailed;
        op_.showMessage(reason, kCaptionCantOpen, MessageIcon::Error);
        return false;
    }
    return loadBytes(*bytes, path);
}

bool FirmwareFile::loadBytes(QByteArrayView data, const QString& pathForMessages) {
    beginLoad(pathForMessages);
    if (data.size() > kBufferSize) {
        fail({FirmwareStatus::Code::TooLarge});
        return false;
    }
    if (!data.isEmpty())
        std::memcpy(buffer_.get(), data.data(), static_cast<size_t>(data.size()));
    codeSize_ = static_cast<std::int32_t>(data.size());
    return parseBuffer();
}

bool FirmwareFile::parseBuffer() {
    if (codeSize_ == 0) {
        status_.code = FirmwareStatus::Code::Empty;
        return false;
    }
    kind_ = recognise();
    switch (kind_) {
    case FirmwareKind::None:
        status_.code = FirmwareStatus::Code::NotRecognised;
        op_.showMessage(path_, QStringLiteral("Unknown File type"), MessageIcon::Warning);
        break;
    case FirmwareKind::IntelHex:
    case FirmwareKind::SRecord:
        targetList_.clear();
        msgBuf_.clear();
        parseText(kind_, 0, codeSize_);
        break;
    case FirmwareKind::Own:
        loadOwnFormat();
        break;
    }
    return loadSucceeded();
}

FirmwareKind FirmwareFile::recognise() {
    const std::uint8_t* data = buffer_.get();
    const qsizetype size = codeSize_;
    bool hasS = false;
    bool hasColon = false;
    for (qsizetype i = 0; i < std::min<qsizetype>(15, size) && data[i] != 0; ++i) {
        hasS = hasS || data[i] == 'S';
        hasColon = hasColon || data[i] == ':';
    }
    // The first marker in the file is the one inside the first 15 bytes.
    if (hasS) {
        const qsizetype at = std::find(data, data + size, 'S') - data;
        if (at + 1 < size && (data[at + 1] == '0' || data[at + 1] == '1')) {
            if (recordSumMatches(data, size, at + 2, 0, 0xFF))
                return FirmwareKind::SRecord;
            op_.showMessage(QStringLiteral("The source file may not contain S-RECORDS"), kCaptionFormatError,
                            MessageIcon::Warning);
        }
    }
    if (hasColon) {
        const qsizetype at = std::find(data, data + size, ':') - data;
        if (recordSumMatches(data, size, at + 1, 4, 0x00))
            return FirmwareKind::IntelHex;
        op_.showMessage(QStringLiteral("The source file may not contain Intel-Hex records"),
                        kCaptionFormatError, MessageIcon::Warning);
    }
    // A file shorter than the header cannot be of the own format; its bytes are not taken as one.
    if (size >= kHeaderSize) {
        swVersion_ = le32(data + kOffVersion);
        swEdition_ = le16(data + kOffEdition);
        const qsizetype payload = le16(data + kOffPayload);
        if (data[0] == 'Q' && data[1] == 'M' &&
            le32(data + kOffHeaderCrc) ==
                crc_.checksum({reinterpret_cast<const char*>(data), kHeaderCrcSpan}) &&
            payload <= size &&
            le32(data + kOffPayloadCrc) ==
                crc_.checksum({reinterpret_cast<const char*>(data) + payload, size - payload}))
            return FirmwareKind::Own;
    }
    op_.showMessage(QStringLiteral("The source file format was not recognized!"),
                    QStringLiteral("Unknown Format"), MessageIcon::Warning);
    return FirmwareKind::None;
}

void FirmwareFile::loadOwnFormat() {
    using Code = FirmwareStatus::Code;
    std::uint8_t* data = buffer_.get();
    const qsizetype size = codeSize_;
    const qsizetype listAt = le16(data + kOffTargetList);
    const qsizetype messageAt = le16(data + kOffMessage);
    const qsizetype payloadAt = le16(data + kOffPayload);
    const std::uint16_t format = le16(data + kOffPayloadFormat);

    targetList_.clear();
    msgBuf_.clear();
    // The checksums only prove the file is unchanged, not that its offsets make sense.
    if (messageAt >= size) {
        fail({Code::MessageOutsideFile, -1, 0, std::uint32_t(messageAt)});
        return;
    }
    if (listAt > messageAt) {
        fail({Code::TargetListMisplaced, -1, 0, std::uint32_t(listAt)});
        return;
    }
    if ((messageAt - listAt) % 4 != 0) {
        fail({Code::TargetListLength, -1, 0, std::uint32_t(messageAt - listAt)});
        return;
    }
    const std::uint8_t* messageEnd = std::find(data + messageAt, data + size, 0);
    if (messageEnd == data + size) {
        fail({Code::MessageUnterminated});
        return;
    }
    msgBuf_ =
        QString::fromLatin1(reinterpret_cast<const char*>(data) + messageAt, messageEnd - (data + messageAt));
    for (qsizetype at = listAt; at < messageAt; at += 4)
        targetList_.add(le32(data + at));

    if (format == 1 || format == 2) {
        parseText(format == 1 ? FirmwareKind::IntelHex : FirmwareKind::SRecord, payloadAt, size);
    } else {
        status_ = {Code::UnknownPayloadFormat, -1, 0, format};
        op_.showMessage(path_, QStringLiteral("Unknown Quorra & Mell Firmware File Format"),
                        MessageIcon::Warning);
    }
    // Only the payload text stays in the buffer.
    std::memmove(data, data + payloadAt, static_cast<size_t>(size - payloadAt));
    codeSize_ = static_cast<std::int32_t>(size - payloadAt);
}

void FirmwareFile::parseText(FirmwareKind format, qsizetype begin, qsizetype end) {
    RecordParser parser(buffer_.get() + begin, end - begin, begin, image_.get());
    if (format == FirmwareKind::SRecord)
        parser.parseSRecords();
    else
        parser.parseIntelHex();
    memStart_ = parser.memStart;
    memEnd_ = parser.memEnd;
    if (!parser.status.ok())
        fail(parser.status);
    else if (std::all_of(image_.get(), image_.get() + kImageSize, [](std::uint8_t b) { return b == 0xFF; }))
        // Nothing but erased bytes (0xFF, which the pass leaves out): programming it would only erase the
        // device.
        fail({FirmwareStatus::Code::NoData});
    else
        status_.code = FirmwareStatus::Code::Ok;
}

QString FirmwareFile::kindName(FirmwareKind kind) {
    switch (kind) {
    case FirmwareKind::None:
        return QStringLiteral("none");
    case FirmwareKind::IntelHex:
        return QStringLiteral("Intel hex");
    case FirmwareKind::SRecord:
        return QStringLiteral("Motorola S-records");
    case FirmwareKind::Own:
        return QStringLiteral("Quorra & Mell firmware");
    }
    return {};
}

QStringList FirmwareFile::summaryLines() const {
    auto hex4 = [](std::uint16_t v) {
        return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
    };
    QStringList lines;
    lines << QStringLiteral("File: %1").arg(path_)
          << QStringLiteral("Kind: %1 (%2)").arg(kindName(kind_)).arg(int(kind_))
          << QStringLiteral("Version: %1").arg(swVersion_) << QStringLiteral("Edition: %1").arg(swEdition_)
          << QStringLiteral("Addresses: %1 to %2").arg(hex4(memStart_), hex4(memEnd_))
          << QStringLiteral("Status: %1").arg(status_.text());
    const QStringList message = msgBuf_.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    lines << QStringLiteral("Message: %1").arg(message.first());
    for (qsizetype i = 1; i < message.size(); ++i)
        lines << QStringLiteral("  %1").arg(message.at(i));
    lines << QStringLiteral("Targets: %1")
                 .arg(targetList_.count() ? targetList_.texts().join(QStringLiteral(", "))
                                          : QStringLiteral("none"));
    return lines;
}

} // namespace tarvo
