#include "ImageCapture.h"

#include "SettingsImageFile.h"

#include <QIODevice>

namespace tarvo {

void ImageCapture::start(QIODevice* out) {
    out_ = out;
    written_ = 0;
}

ImageCapture::Outcome ImageCapture::line(QByteArrayView recordText) {
    if (!out_)
        return Outcome::WriteFailed;
    // The line end is the platform's: the device is text mode on Windows.
    const QByteArray bytes = SettingsImageFile::line(recordText) + '\n';
    if (written_ + bytes.size() > SettingsImageFile::kSizeLimit) {
        out_ = nullptr;
        return Outcome::TooLarge;
    }
    if (out_->write(bytes) != bytes.size()) {
        out_ = nullptr;
        return Outcome::WriteFailed;
    }
    written_ += bytes.size();
    if (recordText == QByteArrayView(SettingsImageFile::kEndRecordText)) {
        out_ = nullptr;
        return Outcome::Complete;
    }
    return Outcome::Continue;
}

} // namespace tarvo
