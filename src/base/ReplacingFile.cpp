#include "ReplacingFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo {

namespace {
constexpr qsizetype kBufferSize = 1 << 18;
} // namespace

ReplacingFile::ReplacingFile(QString target) : target_(std::move(target)) {}

ReplacingFile::~ReplacingFile() {
    if (!committed_)
        discard();
}

void ReplacingFile::fail(int error) {
    if (failed_)
        return;
    failed_ = true;
    error_ = qt_error_string(error);
}

void ReplacingFile::discard() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!tempPath_.isEmpty())
        ::unlink(tempPath_.constData());
    tempPath_.clear();
}

bool ReplacingFile::open() {
    // A link keeps pointing where the user put it: the file it names is the one replaced.
    for (int depth = 0; depth < 40 && QFileInfo(target_).isSymLink(); ++depth) {
        const QString linked = QFileInfo(target_).symLinkTarget();
        if (linked.isEmpty())
            break;
        target_ = linked;
    }
    const QFileInfo info(target_);
    if (info.isDir()) {
        fail(EISDIR);
        return false;
    }
    if (!info.absoluteDir().exists()) {
        fail(ENOENT);
        return false;
    }
    const QByteArray target = QFile::encodeName(target_);
    // A file the user made read-only stays as it is, even where the folder would allow replacing it.
    if (info.exists() && ::access(target.constData(), W_OK) != 0) {
        fail(errno);
        return false;
    }
    // A name of our own beside the target: the rename that replaces it stays on one file system.
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath_ = QFile::encodeName(QStringLiteral("%1/.%2.%3-%4.tmp")
                                          .arg(info.absolutePath(), info.fileName())
                                          .arg(QCoreApplication::applicationPid())
                                          .arg(attempt));
        fd_ = ::open(tempPath_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            buffer_.resize(kBufferSize);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    fail(errno);
    tempPath_.clear();
    return false;
}

bool ReplacingFile::flush() {
    const char* at = buffer_.constData();
    qsizetype left = used_;
    used_ = 0;
    while (!failed_ && left > 0) {
        const ssize_t written = ::write(fd_, at, static_cast<size_t>(left));
        if (written < 0) {
            if (errno != EINTR)
                fail(errno);
            continue;
        }
        if (written == 0) { // no progress and no reason: the device takes no more
            fail(ENOSPC);
            break;
        }
        at += written;
        left -= written;
    }
    return !failed_;
}

char* ReplacingFile::reserve(qsizetype need) {
    if (buffer_.size() - used_ < need) {
        flush();
        if (buffer_.size() < need)
            buffer_.resize(need);
    }
    return buffer_.data() + used_;
}

void ReplacingFile::write(const char* data, qsizetype size) {
    if (failed_ || fd_ < 0)
        return;
    char* at = reserve(size);
    std::memcpy(at, data, static_cast<std::size_t>(size));
    used_ += size;
}

bool ReplacingFile::commit() {
    if (committed_ || fd_ < 0)
        return false;
    flush();
    const QByteArray target = QFile::encodeName(target_);
    // Keep the replaced file's permissions; a new file gets the usual ones.
    struct stat existing {};
    if (!failed_ && ::stat(target.constData(), &existing) == 0 &&
        ::fchmod(fd_, existing.st_mode & 07777) != 0)
        fail(errno);
    // Only bytes that are on the disk may replace the old file: a full disk can show first here.
    if (!failed_ && ::fsync(fd_) != 0)
        fail(errno);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (!failed_ && closed != 0)
        fail(errno);
    if (!failed_ && ::rename(tempPath_.constData(), target.constData()) != 0)
        fail(errno);
    if (failed_) {
        discard();
        return false;
    }
    tempPath_.clear();
    committed_ = true;
    // The rename itself is on the disk once the folder is.
    const int dir = ::open(QFile::encodeName(QFileInfo(target_).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace tarvo
