#include "ReplacingFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo {

namespace {
constexpr qsizetype kBufferSize = 1 << 18;
// A large file's pages go to the disk while the rest is still being made, in steps of this size, so
// that the fsync at the end waits for the last step rather than for the whole file (half a megabyte:
// with 2 MB steps a 500,000-line file's fsync took a third longer here).
constexpr qint64 kWriteOutStep = qint64(1) << 19;
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

void ReplacingFile::fail(const QString& reason) {
    if (failed_)
        return;
    failed_ = true;
    error_ = reason;
}

QString fileKindName(unsigned mode) {
    switch (mode & S_IFMT) {
    case S_IFCHR:
        return QStringLiteral("a character device");
    case S_IFBLK:
        return QStringLiteral("a block device");
    case S_IFIFO:
        return QStringLiteral("a pipe");
    case S_IFSOCK:
        return QStringLiteral("a socket");
    case S_IFDIR:
        return QStringLiteral("a folder");
    default:
        return QStringLiteral("not a regular file");
    }
}

namespace {
QString notRegularReason(unsigned mode) {
    const QString kind = fileKindName(mode);
    return kind.startsWith(QLatin1String("not ")) ? QStringLiteral("Not a regular file")
                                                  : QStringLiteral("Is %1, not a regular file").arg(kind);
}
} // namespace

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString* reason) {
    const auto failed = [reason](const QString& why) -> std::optional<QByteArray> {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    // O_NONBLOCK: opening a pipe with no writer would otherwise wait for ever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return failed(qt_error_string(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return failed(qt_error_string(error));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return failed(S_ISDIR(info.st_mode) ? qt_error_string(EISDIR) : notRegularReason(info.st_mode));
    }
    QByteArray bytes;
    char block[65536];
    while (bytes.size() < maxBytes) {
        const ssize_t got =
            ::read(fd, block, static_cast<size_t>(std::min<qint64>(sizeof block, maxBytes - bytes.size())));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return failed(qt_error_string(error));
        }
        if (got == 0)
            break;
        bytes.append(block, got);
    }
    ::close(fd);
    return bytes;
}

QString ReplacingFile::checkTarget(const QString& path) {
    ReplacingFile probe(path);
    return probe.open() ? QString() : probe.errorString();
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
    const QByteArray target = QFile::encodeName(target_);
    struct stat existing {};
    if (::stat(target.constData(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        // A device or a pipe would be replaced by a plain file, and the machine would lose it.
        if (S_ISDIR(existing.st_mode))
            fail(EISDIR);
        else
            fail(notRegularReason(existing.st_mode));
        return false;
    }
    if (!info.absoluteDir().exists()) {
        fail(ENOENT);
        return false;
    }
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
    const qsizetype used = used_;
    used_ = 0;
    return writeOut(buffer_.constData(), used);
}

bool ReplacingFile::writeOut(const char* at, qsizetype left) {
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
        written_ += written;
    }
#ifdef __linux__
    // Only a start: whether the bytes reached the disk is the fsync's to say.
    if (!failed_ && written_ - writingOut_ >= kWriteOutStep) {
        ::sync_file_range(fd_, writingOut_, written_ - writingOut_, SYNC_FILE_RANGE_WRITE);
        writingOut_ = written_;
    }
#endif
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
    // Large blocks go out from where they are, not through the buffer.
    if (size >= kBufferSize) {
        if (flush())
            writeOut(data, size);
        return;
    }
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
