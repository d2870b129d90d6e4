// Feeds arbitrary bytes to both readers of settings images: as a device's answer to "GI", framed by the
// stream matcher and written by the capture; and as a "*.qmi" file that "Put Image" reads.
#include "firmware/ImageCapture.h"
#include "firmware/SettingsImageFile.h"
#include "link/PacketMatcher.h"

#include <QBuffer>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    QBuffer out;
    out.open(QIODevice::WriteOnly);
    tarvo::ImageCapture capture;
    capture.start(&out);
    bool complete = false;
    bool endRecordCaptured = false;
    QByteArray expected; // every framed record as its line, up to the end record
    tarvo::PacketMatcher matcher;
    matcher.setStartString(":");
    matcher.setEndString("\r");
    matcher.setEndConditions(tarvo::PacketMatcher::EndString);
    matcher.setAutoEnable(true);
    matcher.onPacket = [&](QByteArrayView text) {
        if (!capture.active())
            return;
        endRecordCaptured = endRecordCaptured || text == QByteArrayView("00000001FF");
        const tarvo::ImageCapture::Outcome outcome = capture.line(text);
        if (outcome == tarvo::ImageCapture::Outcome::Continue ||
            outcome == tarvo::ImageCapture::Outcome::Complete)
            expected += ':' + text.toByteArray() + "\r\n";
        complete = outcome == tarvo::ImageCapture::Outcome::Complete;
    };
    matcher.arm();
    matcher.setEnabled(true);
    matcher.feed(bytes);
    const QByteArray& file = out.buffer();
    if (file != expected || file.size() > tarvo::SettingsImageFile::kSizeLimit ||
        capture.written() != file.size())
        __builtin_trap();
    // The capture ends at the first end record, and only there.
    if (complete != endRecordCaptured && file.size() + 13 <= tarvo::SettingsImageFile::kSizeLimit)
        __builtin_trap();
    if (complete && (capture.active() || !file.endsWith(":00000001FF\r\n")))
        __builtin_trap();

    const tarvo::SettingsImageFile::Text image = tarvo::SettingsImageFile::join(bytes);
    if (image.problem.isEmpty()) {
        if (!image.text.startsWith(':') || !image.text.endsWith(":00000001FF") || image.text.contains('\r') ||
            image.text.contains('\n') || image.text.size() > bytes.size())
            __builtin_trap();
    } else if (!image.text.isEmpty()) {
        __builtin_trap();
    }
    return 0;
}
