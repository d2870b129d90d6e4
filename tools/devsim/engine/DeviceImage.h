#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

namespace devsim {

class Device;

// A transmitter's settings image: its parameters, four bytes each (big-endian, two's complement), as
// Intel-hex records of 16 bytes. "GI" sends it; after "PI" the device takes one back, record by record
// (each starting with ":", line ends ignored), and stores it once the end record completes a sound image.
class DeviceImage {
public:
    static constexpr int kRecordBytes = 16;
    // A put that stalls this long (device time) is given up.
    static constexpr int kReceiveLimitMs = 5000;

    // The parameters the image carries, in order.
    static const QList<QByteArray>& keys();
    // The lines "GI" answers with: ":" + record + "\r" each, the end record last.
    static QByteArray records(const Device& device);
    // One record's text after its ":", checksum included.
    static QByteArray record(int address, const QByteArray& data);

    void beginReceiving(const Device& device);
    bool receiving() const;
    // One character heard while receiving: the reply once the end record is in ("OK" when the image was
    // sound and is stored, "ERR" otherwise), else nothing.
    std::optional<QByteArray> receive(char c, Device& device);

private:
    bool takeRecord();

    bool receiving_ = false;
    qint64 lastByteMs_ = 0;
    QByteArray text_;
    QByteArray staged_;
    bool broken_ = false;
    bool ended_ = false;
};

} // namespace devsim
