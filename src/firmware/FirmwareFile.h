#pragma once

#include "base/Operator.h"
#include "firmware/Crc32.h"
#include "firmware/TargetList.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

namespace tarvo {

// What a load found in the file.
enum class FirmwareKind : std::uint8_t { None = 0, IntelHex = 1, SRecord = 2, Own = 3 };

// How the last load ended. Parse errors carry the position of the failing record (byte offset from the
// start of the file, and the line within the record text); a header error of the own format carries
// the header value that was wrong.
struct FirmwareStatus {
    enum class Code {
        NothingLoaded,
        Ok,
        OpenFailed,
        TooLarge,
        Empty,
        NotRecognised,
        MessageOutsideFile,
        TargetListMisplaced,
        TargetListLength,
        MessageUnterminated,
        UnknownPayloadFormat,
        ChecksumError,
        AddressRangeError,
        BadCharacter,
        TruncatedRecord,
        NoData,
    };
    Code code = Code::NothingLoaded;
    qint64 offset = -1; // byte offset in the file of the failing record, or -1
    int line = 0;       // 1-based line of that record within the record text, or 0
    std::uint32_t value = 0;

    bool ok() const { return code == Code::Ok; }
    bool isParseError() const;
    // "ok", or the failure with its position, e.g. "checksum error at line 3, byte 87".
    QString text() const;
};

// The firmware file loader: recognises Intel hex, Motorola S-records and the maker's own format and
// fills a 64 KiB target image. One instance lives as long as the program; its buffers are allocated
// once. Every load starts from an erased image, and only a file whose data all lie in the programmable
// addresses 0000..7FFF (and that holds some) loads successfully.
class FirmwareFile {
public:
    static constexpr qsizetype kBufferSize = 1048576;
    static constexpr qsizetype kImageSize = 65536;
    static constexpr qsizetype kHeaderSize = 32;

    explicit FirmwareFile(Operator& op);
    ~FirmwareFile();
    FirmwareFile(const FirmwareFile&) = delete;
    FirmwareFile& operator=(const FirmwareFile&) = delete;

    // Reads and parses one file; messages go to the operator. True when the load succeeded (see
    // loadSucceeded()).
    bool load(const QString& path);
    // The same on bytes already in memory; path is only used in the messages.
    bool loadBytes(QByteArrayView data, const QString& pathForMessages);

    // A recognised file parsed without error, holding data and all of it programmable: the only state in
    // which the image may be programmed.
    bool loadSucceeded() const;
    const FirmwareStatus& status() const { return status_; }
    FirmwareKind kind() const { return kind_; }
    // The file of the last load attempt.
    const QString& path() const { return path_; }

    QByteArrayView image() const;
    // The file buffer's used part: the whole file, or after an own-format load only its payload text.
    QByteArrayView buffer() const;
    std::int32_t codeSize() const { return codeSize_; }
    std::uint16_t memStart() const { return memStart_; }
    std::uint16_t memEnd() const { return memEnd_; }
    std::uint32_t softwareVersion() const { return swVersion_; }
    std::uint16_t softwareEdition() const { return swEdition_; }
    const QString& message() const { return msgBuf_; }
    const TargetList& targets() const { return targetList_; }

    void setSoftwareVersion(std::uint32_t version) { swVersion_ = version; }
    void setSoftwareEdition(std::uint16_t edition) { swEdition_ = edition; }
    void setMessage(const QString& text) { msgBuf_ = text; }

    // Display lines for the programming page: file, kind, version, edition, address range, status,
    // message text and targets.
    QStringList summaryLines() const;
    static QString kindName(FirmwareKind kind);

private:
    void beginLoad(const QString& path);
    bool parseBuffer();
    FirmwareKind recognise();
    void loadOwnFormat();
    void parseText(FirmwareKind format, qsizetype begin, qsizetype end);
    void fail(FirmwareStatus status);

    Operator& op_;
    Crc32 crc_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::unique_ptr<std::uint8_t[]> image_;
    QString path_;
    FirmwareStatus status_;
    FirmwareKind kind_ = FirmwareKind::None;
    std::int32_t codeSize_ = 0;
    std::uint16_t memStart_ = 0xFFFF;
    std::uint16_t memEnd_ = 0;
    std::uint32_t swVersion_ = 0x01010101;
    std::uint16_t swEdition_ = 1;
    QString msgBuf_;
    TargetList targetList_;
};

} // namespace tarvo
