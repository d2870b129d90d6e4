#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace tarvo {

// The "*.qmi" file of a settings image: one record per line, each starting with ":", the last one the
// end record. The records are the device's own; only their form is looked at.
class SettingsImageFile {
public:
    static constexpr const char* kEndRecordText = "00000001FF";
    // An image is a few kilobytes; a file beyond this is not one.
    static constexpr qsizetype kSizeLimit = 1048576;

    // One captured record as its line in the file: ":" + text + "\r". The line end follows, as the
    // platform writes it.
    static QByteArray line(QByteArrayView recordText);

    struct Text {
        // The lines joined without their line ends: what "Put Image" sends.
        QByteArray text;
        // Lines read, each costing the reader's pause.
        int lines = 0;
        // Empty, or why the file is no settings image.
        QString problem;
    };
    // Lines end at CR, LF or CR LF. A file whose lines do not all hold a record, or that does not end
    // with the end record, is refused: its bytes would go into the device's settings.
    static Text join(QByteArrayView file);
};

} // namespace tarvo
