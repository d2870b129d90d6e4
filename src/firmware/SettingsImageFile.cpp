#include "SettingsImageFile.h"

namespace tarvo {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

} // namespace

QByteArray SettingsImageFile::line(QByteArrayView recordText) {
    QByteArray out;
    out.reserve(recordText.size() + 2);
    out.append(':');
    out.append(recordText);
    out.append('\r');
    return out;
}

SettingsImageFile::Text SettingsImageFile::join(QByteArrayView file) {
    Text result;
    if (file.size() > kSizeLimit) {
        result.problem = QStringLiteral("it is larger than %1 bytes").arg(kSizeLimit);
        return result;
    }
    result.text.reserve(file.size());
    QByteArrayView lastRecord;
    qsizetype at = 0;
    while (at < file.size()) {
        qsizetype end = at;
        while (end < file.size() && file[end] != '\r' && file[end] != '\n')
            ++end;
        const QByteArrayView content = file.sliced(at, end - at);
        ++result.lines;
        if (!content.isEmpty()) {
            if (content.front() != ':') {
                result.problem = QStringLiteral("line %1 does not start with \":\"").arg(result.lines);
                result.text.clear();
                return result;
            }
            for (qsizetype i = 1; i < content.size(); ++i)
                if (!isHexDigit(content[i])) {
                    result.problem =
                        QStringLiteral("line %1 holds a character that is no hex digit").arg(result.lines);
                    result.text.clear();
                    return result;
                }
            result.text.append(content);
            lastRecord = content;
        }
        // CR LF is one line end.
        at = end + ((end + 1 < file.size() && file[end] == '\r' && file[end + 1] == '\n') ? 2 : 1);
    }
    if (lastRecord.size() != 11 || lastRecord.sliced(1) != QByteArrayView(kEndRecordText)) {
        result.problem = QStringLiteral("it does not end with the end record :%1").arg(kEndRecordText);
        result.text.clear();
    }
    return result;
}

} // namespace tarvo
