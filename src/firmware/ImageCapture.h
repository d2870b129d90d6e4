#pragma once

#include <QByteArrayView>

class QIODevice;

namespace tarvo {

// The file side of "Get Image": every ":" record the device sends becomes one line of the image file,
// up to and including the end record.
class ImageCapture {
public:
    enum class Outcome { Continue, Complete, WriteFailed, TooLarge };

    // out must be open for writing and outlive the capture.
    void start(QIODevice* out);
    void stop() { out_ = nullptr; }
    bool active() const { return out_ != nullptr; }
    qint64 written() const { return written_; }

    // One record's text, without its ":" and "\r". The capture ends with the end record, a failed
    // write, or a device that sends more than any image holds.
    Outcome line(QByteArrayView recordText);

private:
    QIODevice* out_ = nullptr;
    qint64 written_ = 0;
};

} // namespace tarvo
