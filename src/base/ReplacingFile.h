#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

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

    // False when the file cannot be created (folder missing or not writable, target not writable) or
    // when the target is there but is no regular file: a device, a pipe, a socket or a folder is never
    // replaced by a file.
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
    // The file put in place of (or made at) the target: a link's target once open() followed it.
    QString target() const { return target_; }

    // Why `path` could not be saved to, before any work that would then be lost; empty when a save
    // there can begin. Nothing is left behind.
    static QString checkTarget(const QString& path);

private:
    bool flush();
    bool writeOut(const char* data, qsizetype size);
    void fail(int error);
    void fail(const QString& reason);
    void discard();
    QString target_;
    QByteArray tempPath_;
    int fd_ = -1;
    QByteArray buffer_;
    qsizetype used_ = 0;
    qint64 written_ = 0;    // bytes handed to the file so far
    qint64 writingOut_ = 0; // of those, the disk has been asked to start writing this many
    bool failed_ = false;
    bool committed_ = false;
    QString error_;
};

// The program's own words for a file it could not write, then where and why ("/data/x.csv: Is a
// character device, not a regular file").
inline QString cannotWriteText(const char* words, const QString& path, const QString& reason) {
    return QString::fromLatin1(words) + QLatin1Char('\n') + path + QStringLiteral(": ") + reason;
}

// Far beyond any settings file; a bigger one is not read as one.
constexpr qint64 kMaxSettingsFileBytes = qint64(64) << 20;

// Reads a file that the program only reads (its settings): without waiting on a pipe or a device that
// has nothing to give, and only from a regular file. At most maxBytes are read (pass one more than a
// caller takes to see that a file is larger). Nullopt with the reason when it cannot.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString* reason);

// What kind of thing stands at `mode` when it is not a regular file ("a character device").
QString fileKindName(unsigned mode);

} // namespace tarvo
