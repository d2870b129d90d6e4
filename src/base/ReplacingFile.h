#pragma once

#include <QByteArray>
#include <QString>

namespace tarvo {

// A file that is written beside its target and replaces it only when every byte was written and is on
// the disk, so a save that fails half-way (a full disk, a read-only folder) leaves an existing file as it
// was. Every failure keeps the system's own reason ("No space left on device").
class ReplacingFile {
public:
    explicit ReplacingFile(QString target);
    ~ReplacingFile(); // an uncommitted file is discarded
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // False when the file cannot be created (folder missing or not writable, target not writable).
    bool open();
    // Writes are buffered; the first failure is kept and every later write is ignored.
    void write(const char* data, qsizetype size);
    void write(const QByteArray& bytes) { write(bytes.constData(), bytes.size()); }
    // Direct access to the buffer, for formatters that write in place: room for at least `need` bytes.
    char* reserve(qsizetype need);
    void commitBytes(char* end) { used_ = end - buffer_.data(); }
    // Writes out, syncs, closes and puts the file in place of the target. False (and the target
    // untouched) when anything failed.
    bool commit();
    bool failed() const { return failed_; }
    // Why it failed, in the system's words.
    QString errorString() const { return error_; }

private:
    bool flush();
    void fail(int error);
    void discard();
    QString target_;
    QByteArray tempPath_;
    int fd_ = -1;
    QByteArray buffer_;
    qsizetype used_ = 0;
    bool failed_ = false;
    bool committed_ = false;
    QString error_;
};

} // namespace tarvo
